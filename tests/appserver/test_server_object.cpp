// The server object: IAppServer and the automation interface, one database session
// per object (private working tables), in-process registration and the same object
// behind the remote object server.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "qadj/appserver/costore_product.h"
#include "qadj/appserver/dates.h"
#include "qadj/appserver/embedded.h"
#include "qadj/appserver/schema.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/packet.h"
#include "qadj/protocol/statements.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/scoped_env.h"
#include "qadj/testing/server_under_test.h"
#include "qadj/testing/store_calls.h"
#include "qadj/testing/window_save.h"

namespace qadj::appserver {
namespace {

using com::Variant;
using qadj::testing::TempDir;

const std::u16string kProductQuery = text::gbkToUtf16(statements::productQuery());

using qadj::testing::callInOrder;
using qadj::testing::refillOn;

packet::Packet fetchByDispatch(com::IDispatch& d, const std::u16string& sql,
                               std::int32_t* recs = nullptr) {
  auto out = qadj::testing::fetchOn(d, sql);
  EXPECT_EQ(out.hr, com::S_OK) << out.description;
  if (recs) *recs = out.recordsSent;
  return std::move(out.packet);
}

std::vector<std::string> codes(const packet::Packet& p) {
  std::vector<std::string> out;
  for (const auto& row : p.rows) out.push_back(std::get<std::string>(row[0]));
  return out;
}

class ServerObject : public ::testing::TestWithParam<std::string> {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    url_ = qadj::testing::freshDatabaseFor(GetParam(), dir_);
    if (url_.empty()) return;
    auto db = openDatabase(url_);
    qadj::testing::seedKnownData(*db);
  }
  std::shared_ptr<CoStoreProduct> make() {
    return std::dynamic_pointer_cast<CoStoreProduct>(createCoStoreProduct(url_));
  }

  TempDir dir_;
  std::string url_;
  const double day_ = dates::fromCivil(2026, 12, 8);
};

TEST_P(ServerObject, TwoObjectsKeepTheirWorkingRowsApart) {
  auto a = make();
  auto b = make();
  ASSERT_EQ(refillOn(*a, u"0012", day_), com::S_OK);
  ASSERT_EQ(refillOn(*b, u"0013", day_), com::S_OK);
  EXPECT_EQ(codes(fetchByDispatch(*a, kProductQuery)),
            (std::vector<std::string>{"10000001", "10000002"}));
  const auto pb = fetchByDispatch(*b, kProductQuery);
  ASSERT_EQ(codes(pb), std::vector<std::string>{"10000001"});
  EXPECT_DOUBLE_EQ(std::get<double>(pb.rows[0][2]), 10);
  // A refill of one does not touch the other.
  ASSERT_EQ(refillOn(*b, u"0099", day_), com::S_OK);
  EXPECT_TRUE(fetchByDispatch(*b, kProductQuery).rows.empty());
  EXPECT_EQ(fetchByDispatch(*a, kProductQuery).rows.size(), 2u);
}

TEST_P(ServerObject, MQadjLeavesTheCodeAndAcceptsItByName) {
  auto o = make();
  std::u16string after;
  ASSERT_EQ(refillOn(*o, u"0012", day_ + 0.75, nullptr, &after), com::S_OK);  // time ignored
  EXPECT_EQ(after, u"0012");
  std::int32_t recs = 0;
  EXPECT_EQ(fetchByDispatch(*o, kProductQuery, &recs).rows.size(), 2u);
  EXPECT_EQ(recs, 2);
  std::int32_t id = 0;
  EXPECT_EQ(o->GetIDsOfNames(u"m_qadj", id), com::S_OK);
  EXPECT_EQ(id, kDispIdMQadj);
  EXPECT_EQ(o->GetIDsOfNames(u"m_qadj2", id), com::DISP_E_UNKNOWNNAME);
  std::vector<Variant> oneArg{Variant::bstr(u"0012")};
  EXPECT_EQ(o->Invoke(kDispIdMQadj, com::DISPATCH_METHOD, oneArg, nullptr, nullptr),
            com::DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(callInOrder(*o, kDispIdMQadj, {Variant::i4(12), Variant::date(day_)}),
            com::DISP_E_TYPEMISMATCH);
  // The prompt's first four bytes are a code as good as any; a code wider than its
  // column, or a date that is no day of the years 1 to 9999, is refused.
  EXPECT_EQ(refillOn(*o, u"\u8BF7\u9009", day_), com::S_OK);
  com::ExcepInfo why;
  EXPECT_EQ(refillOn(*o, u"00123", day_, &why), com::DISP_E_EXCEPTION);
  EXPECT_NE(text::utf16ToUtf8(why.description).find("longer than its column"), std::string::npos);
  for (const double date : {std::nan(""), HUGE_VAL, -HUGE_VAL, dates::fromCivil(10000, 1, 1),
                            dates::fromCivil(1, 1, 1) - 1}) {
    EXPECT_EQ(refillOn(*o, u"0012", date, &why), com::DISP_E_EXCEPTION) << date;
    EXPECT_NE(text::utf16ToUtf8(why.description).find("years 1 to 9999"), std::string::npos);
  }
}

TEST_P(ServerObject, DispatchCountsTakeEveryIntegerFormAndNoOther) {
  auto o = make();
  ASSERT_EQ(refillOn(*o, u"0012", day_), com::S_OK);
  auto fetch = [&](Variant count) {
    return callInOrder(*o, DISPID_FetchRecords,
                       {Variant::bstr(u"PUBLIC_DSP"), std::move(count), Variant::i4(0).setByRef(),
                        Variant::i4(kFetchMetaData), Variant::bstr(kProductQuery),
                        Variant::null().setByRef(), Variant().setByRef()});
  };
  for (Variant whole : {Variant(), Variant::i4(-1), Variant::r8(-1.0), Variant::boolean(true)})
    EXPECT_EQ(fetch(whole), com::S_OK);
  // A count no 4-byte integer can hold is refused, not wrapped or truncated.
  for (double bad : {0.5, 1e12, std::nan(""), HUGE_VAL})
    EXPECT_EQ(fetch(Variant::r8(bad)), com::DISP_E_TYPEMISMATCH) << bad;
  EXPECT_EQ(fetch(Variant::bstr(u"5")), com::DISP_E_TYPEMISMATCH);
  std::vector<Variant> args{Variant::bstr(u"PUBLIC_DSP")};
  EXPECT_EQ(o->Invoke(DISPID_GetParams, com::DISPATCH_PROPERTYGET, args, nullptr, nullptr),
            com::DISP_E_MEMBERNOTFOUND);
  // A date text that is not UTF-16 is a wrong argument, not an escaping exception.
  EXPECT_EQ(callInOrder(*o, kDispIdMQadj, {Variant::bstr(u"0012"), Variant::bstr(u"\xD800")}),
            com::DISP_E_TYPEMISMATCH);
}

TEST_P(ServerObject, RecordSetInterfaceRunsStatementsAndReportsFailures) {
  auto o = make();
  std::shared_ptr<com::IUnknown> unk;
  ASSERT_EQ(o->QueryInterface(IID_IAppServer, unk), com::S_OK);
  auto as = com::interface_cast<IAppServer>(unk);
  ASSERT_TRUE(as);
  Variant params = Variant::null(), owner, result;
  EXPECT_EQ(as->ExecuteCommand(u"PUBLIC_DSP",
                               u"UPDATE XSTXLGL01 SET XL0000=XL0000+-2 where  DHAO00='D1' AND "
                               u"FXRY00='0013' AND SPDM00='10000001'",
                               params, owner),
            com::S_OK);
  std::int32_t recs = -5;
  ASSERT_EQ(as->FetchRecords(
                u"public_dsp", -1, recs, kFetchMetaData,
                text::gbkToUtf16(statements::detailQuery("2026-12-08", "W1", "0012", "10000001")),
                params, owner, result),
            com::S_OK);
  EXPECT_EQ(recs, 2);
  const auto detail = packet::decode(result.asBytes());
  EXPECT_EQ(std::get<std::string>(detail.rows.at(0).at(0)), "0013");
  EXPECT_DOUBLE_EQ(std::get<double>(detail.rows.at(0).at(4)), 8);

  // Reset: empty packet, nothing run.
  ASSERT_EQ(as->FetchRecords(u"PUBLIC_DSP", 0, recs, kFetchReset, u"", params, owner, result),
            com::S_OK);
  EXPECT_EQ(recs, 0);
  EXPECT_GE(result.asBytes().size(), packet::kMinPacketSize);

  com::ExcepInfo info;
  EXPECT_EQ(as->FetchRecords(u"OTHER_DSP", -1, recs, 1, u"SELECT 1", params, owner, result),
            com::E_FAIL);
  ASSERT_TRUE(com::GetErrorInfo(info));
  EXPECT_EQ(info.description, u"Provider 'OTHER_DSP' not found");

  EXPECT_EQ(as->ExecuteCommand(u"PUBLIC_DSP", u"UPDATE NOSUCH SET A=1", params, owner),
            com::E_FAIL);
  ASSERT_TRUE(com::GetErrorInfo(info));
  EXPECT_TRUE(text::utf16ToUtf8(info.description).starts_with("The statement is refused: "))
      << text::utf16ToUtf8(info.description);

  // A lone surrogate is no text: refused with a description, nothing run.
  EXPECT_EQ(as->ExecuteCommand(u"PUBLIC_DSP",
                               std::u16string(u"UPDATE XSTXLGL01 SET XL0000=XL0000+1 where  "
                                              u"DHAO00='D1' AND FXRY00='0013' AND SPDM00='") +
                                   char16_t(0xD800) + u"'",
                               params, owner),
            com::E_FAIL);
  ASSERT_TRUE(com::GetErrorInfo(info));
  EXPECT_NE(text::utf16ToUtf8(info.description).find("broken UTF-16"), std::string::npos);
  // A save whose owner data is no save request of the window is refused, not run as a
  // save without an id (which a resend would apply twice).
  Variant upper = Variant::bstr(u"qadj-save id=0123456789abcdef0123456789abcdef operator=00011");
  EXPECT_EQ(as->ExecuteCommand(u"PUBLIC_DSP",
                               u"UPDATE XSTXLGL01 SET XL0000=XL0000+1 where  DHAO00='D1' AND "
                               u"FXRY00='0013' AND SPDM00='10000001'",
                               params, upper),
            com::E_FAIL);
  ASSERT_TRUE(com::GetErrorInfo(info));
  EXPECT_NE(text::utf16ToUtf8(info.description).find("The save is refused: "), std::string::npos);
  EXPECT_EQ(openDatabase(url_)
                ->query("SELECT XL0000 FROM XSTXLGL01 WHERE DHAO00 = 'D1' AND "
                        "FXRY00 = '0013' AND SPDM00 = '10000001'")
                .rows.at(0)
                .at(0),
            Cell(8.0));
}

TEST_P(ServerObject, FailuresThroughDispatchCarryTheDescription) {
  auto o = make();
  Variant result;
  com::ExcepInfo excep;
  const std::string save =
      qadj::testing::windowSave("D1", "10000001", "0012", {{"0013", 1}, {"0099", 2}});
  EXPECT_EQ(callInOrder(*o, DISPID_ExecuteCommand,
                        {Variant::bstr(u"PUBLIC_DSP"), Variant::bstr(text::gbkToUtf16(save)),
                         Variant::null().setByRef(), Variant().setByRef()},
                        nullptr, &excep),
            com::DISP_E_EXCEPTION);
  EXPECT_NE(text::utf16ToUtf8(excep.description).find("没有访销员 0099"), std::string::npos);
  // Nothing of the block was applied.
  EXPECT_EQ(qadj::testing::allQuota(*openDatabase(url_)), 209.0);
}

TEST_P(ServerObject, TextThatGbkCannotHoldIsRefused) {
  auto o = make();
  Variant params = Variant::null(), owner, result;
  // In a request: none of the window's statements.
  std::int32_t recs = 0;
  com::ExcepInfo info;
  EXPECT_EQ(o->FetchRecords(u"PUBLIC_DSP", -1, recs, 1,
                            u"SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='\U0001F600'", params, owner,
                            result),
            com::E_FAIL);
  ASSERT_TRUE(com::GetErrorInfo(info));
  EXPECT_NE(text::utf16ToUtf8(info.description).find("not GBK"), std::string::npos);
  // In the database: the fetch fails naming the column.
  openDatabase(url_)->execute("UPDATE GSTRYGL0 SET RYMC00 = $1 WHERE RYDM00 = '0013'",
                              {std::string("A\U0001F600")});
  EXPECT_EQ(
      o->FetchRecords(u"PUBLIC_DSP", -1, recs, 1,
                      text::gbkToUtf16(statements::salespersonList("W1")), params, owner, result),
      com::E_FAIL);
  ASSERT_TRUE(com::GetErrorInfo(info));
  EXPECT_NE(text::utf16ToUtf8(info.description).find("RYMC00"), std::string::npos);
  EXPECT_NE(text::utf16ToUtf8(info.description).find("GBK"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Databases, ServerObject, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& param) { return param.param; });

TEST(EmbeddedServer, DemoDatabaseIsSeededOnceAndServedInProcess) {
  qadj::testing::ComScope comScope;
  TempDir dir;
  const std::string path = dir.path() + "/data/qadj_vsd/demo.sqlite";
  ASSERT_TRUE(ensureDemoDatabase(path));
  EXPECT_FALSE(ensureDemoDatabase(path));
  registerInProcessServer(sqliteUrl(path));

  std::shared_ptr<com::IUnknown> a, b;
  ASSERT_EQ(
      com::CoCreateInstance(CLSID_CoStoreProduct, com::CLSCTX_INPROC_SERVER, com::IID_IDispatch, a),
      com::S_OK);
  ASSERT_EQ(
      com::CoCreateInstance(CLSID_CoStoreProduct, com::CLSCTX_INPROC_SERVER, com::IID_IDispatch, b),
      com::S_OK);
  EXPECT_NE(a.get(), b.get());
  auto da = com::interface_cast<com::IDispatch>(a);
  ASSERT_TRUE(da);
  const auto ops = fetchByDispatch(*da, text::gbkToUtf16(statements::warehouseLookup("0001")));
  ASSERT_EQ(ops.rows.size(), 1u);
  const auto people = fetchByDispatch(
      *da, text::gbkToUtf16(statements::salespersonList(std::get<std::string>(ops.rows[0][0]))));
  EXPECT_EQ(people.rows.size(), 8u);
  bool zhangSan = false;
  for (const auto& row : people.rows)
    zhangSan |= std::get<std::string>(row[1]) == "0012" &&
                std::get<std::string>(row[2]) == text::utf8ToGbk("张三");
  EXPECT_TRUE(zhangSan);
  ASSERT_EQ(refillOn(*da, u"0012", dates::today()), com::S_OK);
  const auto products = fetchByDispatch(*da, kProductQuery);
  EXPECT_GT(products.rows.size(), 5u);
  for (const auto& row : products.rows)
    EXPECT_DOUBLE_EQ(std::get<double>(row[4]),
                     std::max(0.0, std::get<double>(row[2]) - std::get<double>(row[3])));
  com::CoRevokeClass(CLSID_CoStoreProduct);
}

TEST(EmbeddedServer, DatabaseLocationFollowsTheEnvironment) {
  qadj::testing::ScopedEnv db("QADJ_DB", "/srv/q/demo.db");
  qadj::testing::ScopedEnv xdg("XDG_DATA_HOME", "/xdg");
  qadj::testing::ScopedEnv home("HOME", "/home/op");
  EXPECT_EQ(defaultEmbeddedDatabasePath(), "/srv/q/demo.db");
  db.set("");
  EXPECT_EQ(defaultEmbeddedDatabasePath(), "/xdg/qadj_vsd/demo.sqlite");
  xdg.set(std::nullopt);
  EXPECT_EQ(defaultEmbeddedDatabasePath(), "/home/op/.local/share/qadj_vsd/demo.sqlite");
}

TEST(RemoteServer, ServesTheObjectToARemoteClient) {
  qadj::testing::ComScope comScope;
  TempDir dir;
  const std::string url = sqliteUrl(dir.path() + "/remote.sqlite");
  {
    auto db = openDatabase(url);
    qadj::testing::seedKnownData(*db);
  }
  qadj::testing::ServerUnderTest server(qadj::testing::Transport::Grpc);
  server.registerClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                       [url] { return createCoStoreProduct(url); });
  server.start();
  com::HRESULT hr = com::S_OK;
  auto da = qadj::testing::createServerOn(server.host(), &hr);
  ASSERT_EQ(hr, com::S_OK);
  auto db = qadj::testing::createServerOn(server.host(), &hr);
  ASSERT_EQ(hr, com::S_OK);
  ASSERT_TRUE(da && db);
  const double day = dates::fromCivil(2026, 12, 8);
  std::u16string after;
  ASSERT_EQ(refillOn(*da, u"0012", day, nullptr, &after), com::S_OK);
  EXPECT_EQ(after, u"0012");
  ASSERT_EQ(refillOn(*db, u"0013", day), com::S_OK);
  EXPECT_EQ(fetchByDispatch(*da, kProductQuery).rows.size(), 2u);
  EXPECT_EQ(fetchByDispatch(*db, kProductQuery).rows.size(), 1u);
  com::ExcepInfo excep;
  EXPECT_EQ(callInOrder(*da, DISPID_ExecuteCommand,
                        {Variant::bstr(u"NOPE"), Variant::bstr(u"UPDATE X SET A=1"),
                         Variant::null().setByRef(), Variant().setByRef()},
                        nullptr, &excep),
            com::DISP_E_EXCEPTION);
  EXPECT_EQ(excep.description, u"Provider 'NOPE' not found");
  da.reset();
  db.reset();
}

}  // namespace
}  // namespace qadj::appserver
