// The save id and operator in a save's owner data: what the window sends is read back,
// and anything else a client may send names no save.
#include <gtest/gtest.h>

#include <set>

#include "qadj/protocol/save_request.h"

namespace qadj {
namespace {

TEST(SaveRequest, WhatTheWindowSendsIsReadBack) {
  std::set<std::string> ids;
  for (int i = 0; i < 64; ++i) ids.insert(newSaveId());
  EXPECT_EQ(ids.size(), 64u);
  const std::string id = *ids.begin();
  ASSERT_EQ(id.size(), 32u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;

  const auto back = parseSaveOwnerData(saveOwnerData({id, "张三 0012"}));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->id, id);
  EXPECT_EQ(back->operatorCode, "张三 0012");
  const auto empty = parseSaveOwnerData(saveOwnerData({id, ""}));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->operatorCode, "");
}

TEST(SaveRequest, AnythingElseNamesNoSave) {
  const std::u16string id = u"0123456789abcdef0123456789abcdef";
  for (const com::Variant& v : {
           com::Variant(), com::Variant::null(), com::Variant::i4(7), com::Variant::bstr(u""),
           com::Variant::bstr(u"qadj-save id=" + id),                             // no operator
           com::Variant::bstr(u"qadj-save id=" + id.substr(1) + u" operator=1"),  // short id
           com::Variant::bstr(u"qadj-save id=0123456789ABCDEF0123456789abcdef operator=1"),
           com::Variant::bstr(u"qadj-save id=" + id + u"operator=1"),
           com::Variant::bstr(u"qadj-save id=" + id + u" operator=" + std::u16string(65, u'x')),
           com::Variant::bstr(u"qadj-save id=" + id + u" operator=\xD800"),  // broken UTF-16
       }) {
    EXPECT_FALSE(parseSaveOwnerData(v));
  }
  EXPECT_TRUE(parseSaveOwnerData(
      com::Variant::bstr(u"qadj-save id=" + id + u" operator=" + std::u16string(64, u'x'))));
}

TEST(SaveRequest, OnlyALostReplyLeavesTheOutcomeUnknown) {
  EXPECT_TRUE(outcomeUnknown(com::RPC_E_SERVER_UNAVAILABLE));
  EXPECT_TRUE(outcomeUnknown(com::RPC_E_CALL_TIMEOUT));
  EXPECT_TRUE(outcomeUnknown(com::XACT_E_INDOUBT));
  EXPECT_FALSE(outcomeUnknown(com::RPC_E_DISCONNECTED));  // the object was gone: not run
  EXPECT_FALSE(outcomeUnknown(com::E_FAIL));
  EXPECT_FALSE(outcomeUnknown(com::S_OK));
}

}  // namespace
}  // namespace qadj
