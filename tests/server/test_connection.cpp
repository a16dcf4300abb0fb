// The connection's own rules: class selection, host text handling, failure texts; and
// the record-set interface it hands every data set while it stays connected (asking a
// remote object again costs a call), let go of with the object when it disconnects.
#include <gtest/gtest.h>

#include <cctype>

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/server/connection.h"
#include "qadj/server/dispatch_app_server.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/scoped_env.h"
#include "support/test_objects.h"

namespace qadj {
namespace {

using test::TestServerObject;

struct RecordingClient : IRemoteServerClient {
  std::vector<bool> changes;
  void ConnectChange(bool connected) override { changes.push_back(connected); }
};

std::string thisComputer() {
  char buf[16];
  std::uint32_t size = sizeof buf;
  return com::GetComputerNameA(buf, &size) ? std::string(buf, size) : std::string();
}

std::string where(TDCOMConnection& c) {
  com::Variant result;
  std::vector<com::Variant> none;
  c.ServerDispatch().asDispatch()->Invoke(test::DISPID_Where, com::DISPATCH_METHOD, none, &result,
                                          nullptr);
  return result.type() == com::VarType::BStr ? text::utf16ToUtf8(result.asBStr()) : "?";
}

// The error text that f throws as an EOleError, or "" when it throws none.
template <class F>
std::string oleErrorOf(F&& f) {
  try {
    f();
  } catch (const EOleError& e) {
    return e.what();
  }
  return "";
}

class Connection : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    test::RevokeTestClassesInProcess();
    baseline_ = TestServerObject::liveCount();
  }
  void TearDown() override { test::RevokeTestClassesInProcess(); }
  int baseline_ = 0;
};

TEST_F(Connection, ServerGuidTextRoundTripsAndRejectsGarbage) {
  TDCOMConnection c;
  EXPECT_EQ(c.ServerGUID(), "");
  c.SetServerGUID("{15f46fc4-4736-4aaf-9087-8a67c59e42f4}");
  EXPECT_EQ(c.ServerGUID(), "{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");
  EXPECT_EQ(oleErrorOf([&] { c.SetServerGUID("15F46FC4-4736-4AAF-9087-8A67C59E42F4"); }),
            "Invalid class string");
  EXPECT_EQ(c.ServerGUID(), "{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");
  c.SetServerGUID("");
  EXPECT_EQ(c.ServerGUID(), "");
  EXPECT_FALSE(c.LoginPrompt());
}

TEST_F(Connection, NeitherClassNorNameCannotConnect) {
  TDCOMConnection c;
  EXPECT_EQ(oleErrorOf([&] { c.Connect(); }),
            "Cannot connect, dcom must contain a valid ServerName or ServerGUID");
  TDCOMConnection named("conn2");
  EXPECT_EQ(oleErrorOf([&] { named.GetRecordSetInterface(); }),
            "Cannot connect, conn2 must contain a valid ServerName or ServerGUID");
  EXPECT_FALSE(c.Connected());
}

TEST_F(Connection, ProgramIdentifierIsUsedWhenTheClassIsNull) {
  TDCOMConnection c;
  c.SetServerName("Qadj.NoSuchServer");
  EXPECT_EQ(oleErrorOf([&] { c.Connect(); }), "Invalid class string");
  test::RegisterTestClassesInProcess();
  c.SetServerName("qadj.testserver");
  c.Connect();
  EXPECT_EQ(where(c), "inproc");
}

TEST_F(Connection, EmptyHostWithoutInProcessClassUsesTheLocalDaemon) {
  test::TestServerFixture fixture;
  qadj::testing::ScopedEnv local("QADJ_LOCAL_SERVER", fixture.host());
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.Connect();
  EXPECT_EQ(where(c), "daemon");
  EXPECT_EQ(fixture.remote().objectCount(), 1u);
  c.Disconnect();
  EXPECT_EQ(fixture.remote().objectCount(), 0u);
  // With the class registered in this process, the same connection stays in-process.
  test::RegisterTestClassesInProcess();
  c.Connect();
  EXPECT_EQ(where(c), "inproc");
  EXPECT_EQ(fixture.remote().objectCount(), 0u);
}

TEST_F(Connection, ClassContextFollowsThisComputersName) {
  const std::string self = thisComputer();
  ASSERT_FALSE(self.empty());
  std::string other = self;
  for (auto& ch : other) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_EQ(RemoteClassContext(self), 0x15u);
  EXPECT_EQ(RemoteClassContext(other), 0x15u);
  EXPECT_EQ(RemoteClassContext(self + "x"), 0x10u);
  EXPECT_EQ(RemoteClassContext(self + ":7311"), 0x10u);
  EXPECT_EQ(RemoteClassContext("127.0.0.1"), 0x10u);
}

TEST_F(Connection, HostNamingThisComputerInOtherCaseCreatesInProcess) {
  const std::string self = thisComputer();
  std::string other = self;
  for (auto& ch : other) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (other == self) GTEST_SKIP() << "this computer's name has no letters";
  test::RegisterTestClassesInProcess();
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.SetComputerName(other);
  c.Connect();
  EXPECT_EQ(where(c), "inproc");
}

TEST_F(Connection, RemoteContextIgnoresInProcessClasses) {
  test::TestServerFixture fixture;
  test::RegisterTestClassesInProcess();
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.SetComputerName(fixture.host());
  c.Connect();
  EXPECT_EQ(where(c), "daemon");
}

TEST_F(Connection, SameHostTextKeepsTheConnectionOtherCaseReconnects) {
  test::TestServerFixture fixture;
  TDCOMConnection c;
  RecordingClient client;
  c.RegisterClient(&client);
  c.SetServerGUID(test::CLSID_TestServer.toString());
  const std::string host = "localhost:" + std::to_string(fixture.port());
  c.SetComputerName(host);
  EXPECT_FALSE(c.Connected());  // setting the host creates nothing
  c.GetRecordSetInterface();
  auto first = c.ServerDispatch().asDispatch();

  c.SetComputerName(host);
  EXPECT_TRUE(c.Connected());
  EXPECT_EQ(c.ServerDispatch().asDispatch(), first);
  EXPECT_EQ(fixture.remote().objectCount(), 1u);
  first.reset();

  c.SetComputerName("LOCALHOST:" + std::to_string(fixture.port()));
  EXPECT_FALSE(c.Connected());
  EXPECT_TRUE(c.ServerDispatch().isNull());
  EXPECT_EQ(fixture.remote().objectCount(), 0u);
  EXPECT_EQ(client.changes, (std::vector<bool>{true, false}));

  c.GetRecordSetInterface();
  EXPECT_TRUE(c.Connected());
  EXPECT_EQ(where(c), "daemon");
  EXPECT_EQ(client.changes, (std::vector<bool>{true, false, true}));
  c.UnregisterClient(&client);
}

TEST_F(Connection, UnreachableHostFailsWithTheSystemTextAndLeavesNothingConnected) {
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.SetComputerName("127.0.0.1:1");
  EXPECT_EQ(oleErrorOf([&] { c.GetRecordSetInterface(); }), "The RPC server is unavailable");
  EXPECT_FALSE(c.Connected());
  std::string code = "0001";
  EXPECT_EQ(oleErrorOf([&] {
              c.CallMethod("m_qadj", {DispatchArg::textRef(code), DispatchArg::date(45000)});
            }),
            "Variant does not reference an automation object");
  EXPECT_EQ(code, "0001");
}

TEST_F(Connection, MalformedHostTextIsUnreachable) {
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.SetComputerName("host:notaport");
  EXPECT_EQ(oleErrorOf([&] { c.Connect(); }), "The RPC server is unavailable");
}

TEST_F(Connection, ClassUnknownOnTheHostGivesItsSystemText) {
  test::TestServerFixture fixture;
  TDCOMConnection c;
  c.SetServerGUID("{00000000-0000-0000-0000-0000000000AB}");
  c.SetComputerName(fixture.host());
  EXPECT_EQ(oleErrorOf([&] { c.Connect(); }), "Class not registered");
  EXPECT_FALSE(c.Connected());
}

TEST_F(Connection, AccessTokenIsRequiredWhenTheDaemonHasOne) {
  test::TestServerFixture fixture(std::chrono::seconds(30), "s3cret");
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.SetComputerName(fixture.host());
  EXPECT_EQ(oleErrorOf([&] { c.Connect(); }), "Access is denied");
  qadj::testing::ScopedEnv token("QADJ_TOKEN", "s3cret");
  c.Connect();
  EXPECT_EQ(where(c), "daemon");
}

TEST_F(Connection, CallByNameWithoutConnectingFails) {
  test::RegisterTestClassesInProcess();
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  EXPECT_EQ(oleErrorOf([&] { c.CallMethod("m_qadj", {}); }),
            "Variant does not reference an automation object");
  c.Connect();
  c.Disconnect();
  EXPECT_EQ(oleErrorOf([&] { c.CallMethod("m_qadj", {}); }),
            "Variant does not reference an automation object");
}

TEST_F(Connection, ServerDispatchDoesNotConnect) {
  test::RegisterTestClassesInProcess();
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  EXPECT_TRUE(c.ServerDispatch().isEmpty());
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(TestServerObject::liveCount(), baseline_);
}

TEST_F(Connection, DataSetsMayDropTheirInterfaceDuringDisconnect) {
  // A data set holding the record-set interface lets go of it when told; the object
  // then goes away with the connection's own reference.
  struct HoldingClient : IRemoteServerClient {
    std::shared_ptr<IAppServer> held;
    void ConnectChange(bool connected) override {
      if (!connected) held.reset();
    }
  } client;
  test::RegisterTestClassesInProcess();
  TDCOMConnection c;
  c.RegisterClient(&client);
  c.SetServerGUID(test::CLSID_TestServer.toString());
  client.held = c.GetRecordSetInterface();
  c.Disconnect();
  EXPECT_FALSE(client.held);
  EXPECT_EQ(TestServerObject::liveCount(), baseline_);
  c.UnregisterClient(&client);
}

// --- The record-set interface -------------------------------------------------------

std::u16string fetchText(IAppServer& server, const std::u16string& command) {
  std::int32_t recs = 0;
  com::Variant params, owner, result;
  if (com::failed(server.FetchRecords(u"PUBLIC_DSP", -1, recs, 0, command, params, owner, result)))
    return u"<failed>";
  const auto& bytes = result.asBytes();
  return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
}

TEST_F(Connection, RemoteObjectIsAskedOnceAndReleasedOnDisconnect) {
  test::TestServerFixture fixture;
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.SetComputerName(fixture.host());
  auto first = c.GetRecordSetInterface();
  ASSERT_TRUE(first);
  EXPECT_EQ(c.GetRecordSetInterface(), first);
  EXPECT_EQ(fetchText(*first, u"abc"), u"abc");
  EXPECT_EQ(fixture.remote().objectCount(), 1u);

  // A data set still holding the old interface keeps only that proxy: the connection
  // drops its own, and a new connect asks the new object.
  c.Disconnect();
  EXPECT_FALSE(c.Connected());
  auto second = c.GetRecordSetInterface();
  EXPECT_NE(second, first);
  EXPECT_EQ(c.GetRecordSetInterface(), second);
  EXPECT_EQ(fetchText(*second, u"def"), u"def");
  second.reset();
  c.Disconnect();  // the connection's own reference was the last one to the new object
  EXPECT_TRUE(TestServerObject::waitForLiveCount(baseline_ + 1, std::chrono::seconds(10)));
  first.reset();
  EXPECT_TRUE(TestServerObject::waitForLiveCount(baseline_, std::chrono::seconds(10)));
}

TEST_F(Connection, InProcessObjectGoesAwayWithTheConnection) {
  test::RegisterTestClassesInProcess();
  {
    TDCOMConnection c;
    c.SetServerGUID(test::CLSID_TestServer.toString());
    const auto server = c.GetRecordSetInterface();
    EXPECT_EQ(c.GetRecordSetInterface(), server);
    EXPECT_EQ(TestServerObject::liveCount(), baseline_ + 1);
  }
  EXPECT_EQ(TestServerObject::liveCount(), baseline_);
}

TEST_F(Connection, DispatchOnlyObjectGetsOneWrapperPerConnect) {
  test::RegisterTestClassesInProcess();
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestDispatchOnly.toString());
  const auto wrapper = c.GetRecordSetInterface();
  ASSERT_TRUE(std::dynamic_pointer_cast<TDispatchAppServer>(wrapper));
  EXPECT_EQ(c.GetRecordSetInterface(), wrapper);
  EXPECT_EQ(fetchText(*wrapper, u"ghi"), u"ghi");
  c.Disconnect();
  const auto next = c.GetRecordSetInterface();
  EXPECT_NE(next, wrapper);
  EXPECT_TRUE(std::dynamic_pointer_cast<TDispatchAppServer>(next));
}

}  // namespace
}  // namespace qadj
