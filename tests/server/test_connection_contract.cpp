// One suite of connection and server-object contracts run over both transports: the
// object created in this process and the object created on a daemon over gRPC.
#include <gtest/gtest.h>

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/server/connection.h"
#include "qadj/server/dispatch_app_server.h"
#include "qadj/testing/com_scope.h"
#include "support/test_objects.h"

namespace qadj {
namespace {

using test::TestServerObject;
using testing::ServerUnderTest;
using testing::Transport;

std::string gbk(const char* utf8) {
  return text::utf8ToGbk(utf8);
}

// Records the connect changes a data set would see.
struct RecordingClient : IRemoteServerClient {
  std::vector<bool> changes;
  void ConnectChange(bool connected) override { changes.push_back(connected); }
};

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

  std::u16string where(TDCOMConnection& c) {
    com::Variant result;
    std::vector<com::Variant> none;
    EXPECT_EQ(c.ServerDispatch().asDispatch()->Invoke(test::DISPID_Where, com::DISPATCH_METHOD,
                                                      none, &result, nullptr),
              com::S_OK);
    return result.type() == com::VarType::BStr ? result.asBStr() : u"?";
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
  EXPECT_EQ(where(*c), GetParam() == Transport::InProcess ? u"inproc" : u"daemon");
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
    c->Connect();
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
  try {
    c->CallMethod("m_qadj", {DispatchArg::text(code), DispatchArg::date(1)});
    FAIL() << "a by-value text was accepted";
  } catch (const EOleError& e) {
    EXPECT_STREQ(e.what(), "Type mismatch");
    EXPECT_EQ(e.code(), com::DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(code, "0001");
}

TEST_P(ConnectionContract, ServerExceptionDescriptionIsTrimmed) {
  auto c = connection();
  c->Connect();
  try {
    c->CallMethod("Raise", {});
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_EQ(std::string(e.what()), gbk("库存不足 (ORA-20001)"));
    EXPECT_EQ(e.code(), com::E_FAIL);
  }
}

TEST_P(ConnectionContract, UnknownMethodNameIsNotSupported) {
  auto c = connection();
  c->Connect();
  try {
    c->CallMethod("m_qadj2", {});
    FAIL() << "no error";
  } catch (const EOleError& e) {
    EXPECT_STREQ(e.what(), "Method 'm_qadj2' not supported by automation object");
  }
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

TEST_P(ConnectionContract, RecordSetCallsOfAnObjectThatAnswersIAppServer) {
  auto c = connection();
  auto server = c->GetRecordSetInterface();
  ASSERT_TRUE(server);
  EXPECT_TRUE(c->Connected());
  std::int32_t recs = 0;
  com::Variant params = com::Variant::null(), owner, result;
  ASSERT_EQ(server->FetchRecords(u"PUBLIC_DSP", -1, recs, kFetchMetaData, u"select 1", params,
                                 owner, result),
            com::S_OK);
  EXPECT_EQ(recs, 2);
  EXPECT_TRUE(owner == com::Variant::i4(7));
  EXPECT_TRUE(params.isNull());
  ASSERT_EQ(result.type(), com::VarType::Bytes);
  EXPECT_EQ(result.asBytes().size(), 16u);

  com::Variant p2 = com::Variant::null(), o2;
  EXPECT_EQ(server->ExecuteCommand(u"PUBLIC_DSP", u"update x", p2, o2), com::S_OK);
  EXPECT_TRUE(o2 == com::Variant::bstr(u"done"));
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
    try {
      com::OleCheck(hr);
      FAIL() << "no error";
    } catch (const EOleException& e) {
      EXPECT_STREQ(e.what(), "Table or view does not exist");
    }
    com::Variant p2 = com::Variant::null(), o2;
    EXPECT_EQ(server->ExecuteCommand(u"PUBLIC_DSP", test::kFailCommand, p2, o2), com::E_FAIL);
    com::ExcepInfo info;
    ASSERT_TRUE(com::GetErrorInfo(info));
    EXPECT_EQ(info.description, test::kFailDescription);
  }
}

TEST_P(ConnectionContract, DispatchOnlyObjectGetsTheAdaptor) {
  auto c = connection(test::CLSID_TestDispatchOnly);
  auto server = c->GetRecordSetInterface();
  EXPECT_TRUE(std::dynamic_pointer_cast<TDispatchAppServer>(server));
  std::int32_t recs = -5;
  com::Variant params = com::Variant::null(), owner, result;
  ASSERT_EQ(server->FetchRecords(u"PUBLIC_DSP", -1, recs, kFetchMetaData, u"select 2", params,
                                 owner, result),
            com::S_OK);
  EXPECT_EQ(recs, 2);
  EXPECT_TRUE(owner == com::Variant::i4(7));
  EXPECT_EQ(result.asBytes().size(), 16u);
  com::Variant names;
  EXPECT_EQ(server->GetProviderNames(names), com::S_OK);
  EXPECT_TRUE(names == com::Variant::bstr(u"PUBLIC_DSP"));
  com::Variant o2, r2;
  EXPECT_EQ(server->GetParams(u"PUBLIC_DSP", o2, r2), com::E_NOTIMPL);
}

TEST_P(ConnectionContract, ObjectWithoutAutomationIsRefused) {
  auto c = connection(test::CLSID_TestNoDispatch);
  RecordingClient client;
  c->RegisterClient(&client);
  try {
    c->Connect();
    FAIL() << "no error";
  } catch (const EOleError& e) {
    EXPECT_STREQ(e.what(), "Interface not supported");
  }
  EXPECT_FALSE(c->Connected());
  EXPECT_TRUE(client.changes.empty());
  if (GetParam() == Transport::Grpc) {
    EXPECT_EQ(server_->remote().objectCount(), 0u);
  }
}

TEST_P(ConnectionContract, CallsFromAThreadWithoutInitialisationFail) {
  auto c = connection();
  std::string text;
  std::thread([&] {
    try {
      c->Connect();
    } catch (const EOleError& e) {
      text = e.what();
    }
  }).join();
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
