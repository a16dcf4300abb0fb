// The save id and operator in a save's owner data: what the window sends is read back,
// empty owner data names no save, and anything else is refused, never ignored.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

  const auto back = parseSaveOwnerData(saveOwnerData({id, "张三"}));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->id, id);
  EXPECT_EQ(back->operatorCode, "张三");
  const auto empty = parseSaveOwnerData(saveOwnerData({id, ""}));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->operatorCode, "");
}

TEST(SaveRequest, OnlyEmptyOwnerDataNamesNoSaveAndAnythingElseIsRefused) {
  EXPECT_EQ(parseSaveOwnerData(com::Variant()), std::nullopt);
  EXPECT_EQ(parseSaveOwnerData(com::Variant::null()), std::nullopt);
  const std::u16string id = u"0123456789abcdef0123456789abcdef";
  for (const com::Variant& v : {
           com::Variant::i4(7), com::Variant::bstr(u""),
           com::Variant::bstr(u"qadj-save id=" + id),                             // no operator
           com::Variant::bstr(u"qadj-save id=" + id.substr(1) + u" operator=1"),  // short id
           com::Variant::bstr(u"qadj-save id=" + id + u"operator=1"),
           com::Variant::bstr(u"qadj-save id=" + id + u" operator=00012"),  // wider than RYDM00
           com::Variant::bstr(u"qadj-save id=" + id + u" operator=张三李"),
           com::Variant::bstr(u"qadj-save id=" + id + u" operator=0\n01"),  // forges a line
           com::Variant::bstr(u"qadj-save id=" + id + u" operator=Ø00"),    // broken UTF-16
           com::Variant::bstr(u"qadj-save id=" + id + u" operator=😀"),      // not GBK
       }) {
    EXPECT_THROW(parseSaveOwnerData(v), std::invalid_argument);
  }
  // Ids compare in one form: the same id in capitals is the same save.
  const auto upper = parseSaveOwnerData(
      com::Variant::bstr(u"qadj-save id=0123456789ABCDEF0123456789abcdef operator=0001"));
  ASSERT_TRUE(upper);
  EXPECT_EQ(upper->id, "0123456789abcdef0123456789abcdef");
  EXPECT_EQ(upper->operatorCode, "0001");
}

// The window checks the typed total and the server the lines with this one rule; they
// used to differ on an adjustable quantity that is no number (the window let anything
// through).
TEST(SaveRequest, TheLimitIsTheAdjustableQuantityToTheHundredth) {
  EXPECT_FALSE(overAdjustable(268, 2.675));  // 2.675 shows as 2.68
  EXPECT_TRUE(overAdjustable(269, 2.675));
  EXPECT_FALSE(overAdjustable(20, 0.3 - 0.1));
  EXPECT_TRUE(overAdjustable(21, 0.3 - 0.1));
  EXPECT_FALSE(overAdjustable(INT64_MAX, 1e300));  // beyond any quantity: no limit
  EXPECT_TRUE(overAdjustable(0, -1e300));
  EXPECT_TRUE(overAdjustable(0, std::nan("")));
  EXPECT_TRUE(overAdjustable(1, 0));
  EXPECT_FALSE(overAdjustable(0, 0));
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
