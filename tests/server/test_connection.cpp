// The connection: its own rules (class selection, host text handling, failure texts);
// the record-set interface it hands every data set while it stays connected (asking a
// remote object again costs a call), let go of with the object when it disconnects;
// and the contracts of the connection and the server object over both transports, the
// object created in this process and the object created on a daemon over gRPC.
#include <gtest/gtest.h>

#include <cctype>
#include <thread>

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/server/connection.h"
#include "qadj/server/dispatch_app_server.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/scoped_env.h"
#include "qadj/testing/shorthand.h"
#include "support/test_objects.h"

namespace qadj {
namespace {

using test::TestServerObject;
using testing::gbk;
using testing::ServerUnderTest;
using testing::Transport;

// Records the connect changes a data set would see.
struct RecordingClient : IRemoteServerClient {
  std::vector<bool> changes;
  void ConnectChange(bool connected) override { changes.push_back(connected); }
};

std::string thisComputer() {
  char buf[16];
  std::uint32_t size = sizeof buf;
  return com::GetComputerNameA(buf, &size) ? std::string(buf, size) : std::string();
}

// Where the connection's object was made: "inproc" or "daemon".
std::string where(TDCOMConnection& c) {
  com::Variant result;
  std::vector<com::Variant> none;
  EXPECT_EQ(c.ServerDispatch().asDispatch()->Invoke(test::DISPID_Where, com::DISPATCH_METHOD, none,
                                                    &result, nullptr),
            com::S_OK);
  return result.type() == com::VarType::BStr ? text::utf16ToUtf8(result.asBStr()) : "?";
}

// What f throws as an EOleError: its text (empty when it throws none), its code, and
// whether it is an EOleException (a description that came from the server).
struct Thrown {
  std::string text;
  com::HRESULT code = com::S_OK;
  bool fromServer = false;
};
template <class F>
Thrown thrownBy(F&& f) {
  try {
    f();
  } catch (const EOleException& e) {
    return {e.what(), e.code(), true};
  } catch (const EOleError& e) {
    return {e.what(), e.code(), false};
  }
  return {};
}
template <class F>
std::string oleErrorOf(F&& f) {
  return thrownBy(std::forward<F>(f)).text;
}

// The command text a test object's fetch sent back, or "<failed>".
std::u16string fetchText(IAppServer& server, const std::u16string& command) {
  std::int32_t recs = 0;
  com::Variant params, owner, result;
  if (com::failed(server.FetchRecords(u"PUBLIC_DSP", -1, recs, 0, command, params, owner, result)))
    return u"<failed>";
  const auto& bytes = result.asBytes();
  return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
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

// --- Over both transports -----------------------------------------------------

class ConnectionContract : public ::testing::TestWithParam<Transport> {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    server_ = std::make_unique<ServerUnderTest>(GetParam());
    test::serveTestClasses(*server_);
    server_->start();
    baseline_ = TestServerObject::liveCount();
  }
  void TearDown() override { server_.reset(); }

  // A connection aimed at the transport under test for class clsid.
  std::unique_ptr<TDCOMConnection> connection(const com::Guid& clsid = test::CLSID_TestServer) {
    auto c = std::make_unique<TDCOMConnection>();
    c->SetServerGUID(clsid.toString());
    c->SetComputerName(server_->host());
    return c;
  }

  com::Variant echo(TDCOMConnection& c, const com::Variant& value) {
    std::vector<com::Variant> args{value};
    com::Variant result;
    EXPECT_EQ(c.ServerDispatch().asDispatch()->Invoke(test::DISPID_Echo, com::DISPATCH_METHOD, args,
                                                      &result, nullptr),
              com::S_OK);
    return result;
  }

  std::unique_ptr<ServerUnderTest> server_;
  int baseline_ = 0;
};

TEST_P(ConnectionContract, ConnectCreatesTheObjectWhereTheTransportSays) {
  auto c = connection();
  EXPECT_FALSE(c->Connected());
  EXPECT_TRUE(c->ServerDispatch().isEmpty());
  c->Connect();
  EXPECT_TRUE(c->Connected());
  EXPECT_EQ(TestServerObject::liveCount(), baseline_ + 1);
  EXPECT_EQ(where(*c), GetParam() == Transport::InProcess ? "inproc" : "daemon");
  // Connecting again keeps the object.
  c->Connect();
  EXPECT_EQ(TestServerObject::liveCount(), baseline_ + 1);
}

TEST_P(ConnectionContract, ConnectAndDisconnectTellRegisteredDataSets) {
  auto c = connection();
  RecordingClient a, b;
  c->RegisterClient(&a);
  c->RegisterClient(&b);
  c->SetConnected(true);
  c->SetConnected(true);
  c->UnregisterClient(&b);
  c->SetConnected(false);
  c->SetConnected(false);
  EXPECT_EQ(a.changes, (std::vector<bool>{true, false}));
  EXPECT_EQ(b.changes, (std::vector<bool>{true}));
  EXPECT_TRUE(c->ServerDispatch().isNull());
  EXPECT_EQ(TestServerObject::liveCount(), baseline_);
}

TEST_P(ConnectionContract, DestroyingTheConnectionReleasesTheObject) {
  {
    auto c = connection();
    const auto server = c->GetRecordSetInterface();
    EXPECT_EQ(c->GetRecordSetInterface(), server);
    EXPECT_EQ(TestServerObject::liveCount(), baseline_ + 1);
  }
  EXPECT_EQ(TestServerObject::liveCount(), baseline_);
  if (GetParam() == Transport::Grpc) {
    EXPECT_EQ(server_->remote().objectCount(), 0u);
  }
}

TEST_P(ConnectionContract, ByReferenceTextComesBackConvertedToGbk) {
  auto c = connection();
  c->Connect();
  std::string code = gbk("0007 张");
  c->CallMethod("m_qadj", {DispatchArg::textRef(code), DispatchArg::date(46000.75)});
  EXPECT_EQ(code, gbk("0007 张:46000调整"));
  // The variable is updated again from its new text on the next call.
  c->CallMethod("M_QADJ", {DispatchArg::textRef(code), DispatchArg::date(1.0)});
  EXPECT_EQ(code, gbk("0007 张:46000调整:1调整"));
}

TEST_P(ConnectionContract, AByReferenceTextCutInsideACharacterTravelsLeniently) {
  auto c = connection();
  c->Connect();
  // The first four bytes of the prompt: "0", one character and half of the next.
  std::string code = gbk("0请选择").substr(0, 4);
  ASSERT_NO_THROW(
      c->CallMethod("m_qadj", {DispatchArg::textRef(code), DispatchArg::date(46000.75)}));
  // The cut character went as U+FFFD and comes back as '?'.
  EXPECT_EQ(code, gbk("0请") + "?" + gbk(":46000调整"));
}

TEST_P(ConnectionContract, WrongArgumentTypesFailWithTheSystemText) {
  auto c = connection();
  c->Connect();
  std::string code = "0001";
  const Thrown t = thrownBy([&] {
    c->CallMethod("m_qadj", {DispatchArg::text(code), DispatchArg::date(1)});
  });
  EXPECT_EQ(t.text, "Type mismatch");
  EXPECT_EQ(t.code, com::DISP_E_TYPEMISMATCH);
  EXPECT_EQ(code, "0001");
}

TEST_P(ConnectionContract, ServerExceptionDescriptionIsTrimmed) {
  auto c = connection();
  c->Connect();
  const Thrown t = thrownBy([&] { c->CallMethod("Raise", {}); });
  EXPECT_TRUE(t.fromServer);
  EXPECT_EQ(t.text, gbk("库存不足 (ORA-20001)"));
  EXPECT_EQ(t.code, com::E_FAIL);
}

TEST_P(ConnectionContract, UnknownMethodNameIsNotSupported) {
  auto c = connection();
  c->Connect();
  EXPECT_EQ(oleErrorOf([&] { c->CallMethod("m_qadj2", {}); }),
            "Method 'm_qadj2' not supported by automation object");
  EXPECT_TRUE(c->Connected());
}

TEST_P(ConnectionContract, AutomationValuesTravelUnchanged) {
  auto c = connection();
  c->Connect();
  std::vector<std::uint8_t> bytes(3 << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  const com::Variant values[] = {
      com::Variant(),
      com::Variant::null(),
      com::Variant::i4(-2147483647 - 1),
      com::Variant::r8(-0.125),
      com::Variant::date(45291.5),
      com::Variant::boolean(true),
      com::Variant::bstr(u"限量调整 \u0000 end"),
      com::Variant::bytes(bytes),
  };
  for (const auto& v : values) {
    const com::Variant back = echo(*c, v);
    EXPECT_EQ(back.type(), v.type());
    EXPECT_TRUE(back == v) << "type " << static_cast<int>(v.type());
  }
}

// The record-set calls of an object that answers IAppServer, and of one that answers
// IDispatch only (through the adaptor, one per connect).
TEST_P(ConnectionContract, RecordSetCallsReachTheObjectEitherWay) {
  for (const auto& clsid : {test::CLSID_TestServer, test::CLSID_TestDispatchOnly}) {
    const bool adapted = clsid == test::CLSID_TestDispatchOnly;
    auto c = connection(clsid);
    auto server = c->GetRecordSetInterface();
    ASSERT_TRUE(server);
    EXPECT_TRUE(c->Connected());
    if (adapted) {
      EXPECT_TRUE(std::dynamic_pointer_cast<TDispatchAppServer>(server));
    }
    std::int32_t recs = -5;
    com::Variant params = com::Variant::null(), owner, result;
    ASSERT_EQ(server->FetchRecords(u"PUBLIC_DSP", -1, recs, kFetchMetaData, u"select 1", params,
                                   owner, result),
              com::S_OK);
    EXPECT_EQ(recs, 2);
    EXPECT_TRUE(owner == com::Variant::i4(7));
    EXPECT_TRUE(params.isNull());
    ASSERT_EQ(result.type(), com::VarType::Bytes);
    EXPECT_EQ(result.asBytes().size(), 16u);
    EXPECT_EQ(c->GetRecordSetInterface(), server);  // the same while connected
    EXPECT_EQ(fetchText(*server, u"ghi"), u"ghi");
    if (!adapted) {
      com::Variant p2 = com::Variant::null(), o2;
      EXPECT_EQ(server->ExecuteCommand(u"PUBLIC_DSP", u"update x", p2, o2), com::S_OK);
      EXPECT_TRUE(o2 == com::Variant::bstr(u"done"));
      continue;
    }
    com::Variant names;
    EXPECT_EQ(server->GetProviderNames(names), com::S_OK);
    EXPECT_TRUE(names == com::Variant::bstr(u"PUBLIC_DSP"));
    com::Variant o2, r2;
    EXPECT_EQ(server->GetParams(u"PUBLIC_DSP", o2, r2), com::E_NOTIMPL);
    c->Disconnect();  // a new adaptor after a new connect
    const auto next = c->GetRecordSetInterface();
    EXPECT_NE(next, server);
    EXPECT_TRUE(std::dynamic_pointer_cast<TDispatchAppServer>(next));
  }
}

TEST_P(ConnectionContract, RecordSetErrorsLeaveTheServersDescription) {
  for (const auto& clsid : {test::CLSID_TestServer, test::CLSID_TestDispatchOnly}) {
    auto c = connection(clsid);
    auto server = c->GetRecordSetInterface();
    std::int32_t recs = 0;
    com::Variant params = com::Variant::null(), owner, result;
    const com::HRESULT hr = server->FetchRecords(u"PUBLIC_DSP", -1, recs, kFetchMetaData,
                                                 test::kFailCommand, params, owner, result);
    EXPECT_EQ(hr, com::E_FAIL);
    const Thrown t = thrownBy([&] { com::OleCheck(hr); });
    EXPECT_TRUE(t.fromServer);
    EXPECT_EQ(t.text, "Table or view does not exist");
    com::Variant p2 = com::Variant::null(), o2;
    EXPECT_EQ(server->ExecuteCommand(u"PUBLIC_DSP", test::kFailCommand, p2, o2), com::E_FAIL);
    com::ExcepInfo info;
    ASSERT_TRUE(com::GetErrorInfo(info));
    EXPECT_EQ(info.description, test::kFailDescription);
  }
}

TEST_P(ConnectionContract, ObjectWithoutAutomationIsRefused) {
  auto c = connection(test::CLSID_TestNoDispatch);
  RecordingClient client;
  c->RegisterClient(&client);
  EXPECT_EQ(oleErrorOf([&] { c->Connect(); }), "Interface not supported");
  EXPECT_FALSE(c->Connected());
  EXPECT_TRUE(client.changes.empty());
  if (GetParam() == Transport::Grpc) {
    EXPECT_EQ(server_->remote().objectCount(), 0u);
  }
}

TEST_P(ConnectionContract, CallsFromAThreadWithoutInitialisationFail) {
  auto c = connection();
  std::string text;
  std::thread([&] { text = oleErrorOf([&] { c->Connect(); }); }).join();
  EXPECT_EQ(text, "CoInitialize has not been called");
  EXPECT_FALSE(c->Connected());
}

INSTANTIATE_TEST_SUITE_P(Transports, ConnectionContract,
                         ::testing::Values(Transport::InProcess, Transport::Grpc),
                         [](const ::testing::TestParamInfo<Transport>& p) {
                           return p.param == Transport::InProcess ? "InProcess" : "Grpc";
                         });

}  // namespace
}  // namespace qadj
