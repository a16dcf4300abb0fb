// The remote query data set's exchange with the application server: open, close,
// execute, reset calls, field binding and the failure texts of each step.
#include <gtest/gtest.h>

#include <functional>

#include "qadj/platform/error.h"
#include "qadj/server/client_dataset.h"
#include "qadj/window/window_datasets.h"
#include "support/dataset_fixture.h"

namespace qadj {
namespace {

using dstest::FakeRemoteServer;

using dstest::errorText;

class ClientDataSetTest : public ::testing::Test {
 protected:
  ClientDataSetTest() : ds("Public_qry") {
    ds.SetProviderName("PUBLIC_DSP");
    ds.SetRemoteServer(&server);
    packet::Packet p;
    p.columns = {dstest::textColumn("CKDM00", 4)};
    p.rows = {{std::string("0101")}, {std::string("0102")}};
    fake().setResult("select CKDM00", p);
    fake().setResult("other", dstest::productPacket(3));
  }
  dstest::FakeAppServer& fake() { return *server.appServer; }

  FakeRemoteServer server;
  TClientDataSet ds;
};

TEST_F(ClientDataSetTest, OpenSendsOneFetchWithTheDataSetsProperties) {
  ds.SetCommandText("select CKDM00");
  ds.Open();
  ASSERT_EQ(fake().calls.size(), 1u);
  const auto& c = fake().calls[0];
  EXPECT_EQ(c.provider, u"PUBLIC_DSP");
  EXPECT_EQ(c.count, -1);
  EXPECT_EQ(c.options, kFetchMetaData);
  EXPECT_EQ(c.commandText, u"select CKDM00");
  EXPECT_TRUE(c.params.isNull());  // an empty parameter list travels as null
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(ds.AllFetched());
  EXPECT_EQ(ds.FieldByName("ckdm00")->AsString(), "0101");
}

TEST_F(ClientDataSetTest, OpenWhenOpenKeepsTheEarlierRows) {
  ds.SetCommandText("select CKDM00");
  ds.Open();
  ds.SetCommandText("other");
  ds.Open();
  EXPECT_EQ(fake().fetches(), 1);
  EXPECT_EQ(ds.FieldByName("CKDM00")->AsString(), "0101");
  EXPECT_EQ(ds.FindField("SPDM00"), nullptr);
}

TEST_F(ClientDataSetTest, CommandTextAloneSendsNothing) {
  ds.SetCommandText("select CKDM00");
  EXPECT_TRUE(fake().calls.empty());
  EXPECT_EQ(server.interfaceRequests, 0);
}

TEST_F(ClientDataSetTest, CloseSendsTheResetAndDropsTheInterface) {
  ds.SetCommandText("select CKDM00");
  ds.Open();
  ds.Close();
  ASSERT_EQ(fake().calls.size(), 2u);
  const auto& reset = fake().calls[1];
  EXPECT_EQ(reset.count, 0);
  EXPECT_EQ(reset.options, kFetchReset);
  EXPECT_EQ(reset.commandText, u"");
  EXPECT_TRUE(reset.params.isEmpty());
  EXPECT_FALSE(ds.HasAppServer());
  ds.Close();  // closed: nothing more
  EXPECT_EQ(fake().calls.size(), 2u);
  // Every open is a fresh fetch, and asks the connection again.
  ds.Open();
  EXPECT_EQ(fake().fetches(), 2);
  EXPECT_EQ(server.interfaceRequests, 2);
}

TEST_F(ClientDataSetTest, NoResetCallPropertySilencesTheFollowingClose) {
  packet::Packet p = dstest::productPacket(1);
  p.noResetCall = true;
  fake().setResult("quiet", p);
  ds.SetCommandText("quiet");
  ds.Open();
  ds.Close();
  EXPECT_EQ(fake().resets(), 0);
  EXPECT_FALSE(ds.HasAppServer());
  // The property belongs to that packet only.
  ds.SetCommandText("other");
  ds.Open();
  ds.Close();
  EXPECT_EQ(fake().resets(), 1);
}

TEST_F(ClientDataSetTest, ExecuteOnAClosedDataSetThenCloseOpenClose) {
  ds.SetCommandText("update X set A=1");
  ds.Execute();
  ASSERT_EQ(fake().executes(), 1);
  EXPECT_EQ(fake().calls[0].commandText, u"update X set A=1");
  EXPECT_EQ(fake().calls[0].provider, u"PUBLIC_DSP");
  EXPECT_EQ(ds.State(), TDataSetState::dsInactive);
  EXPECT_TRUE(ds.HasAppServer());
  ds.Close();  // closed: sends nothing, keeps the interface
  EXPECT_EQ(fake().calls.size(), 1u);
  ds.SetCommandText("select CKDM00");
  ds.Open();
  ds.Close();
  EXPECT_EQ(fake().fetches(), 1);
  EXPECT_EQ(fake().resets(), 1);
  EXPECT_EQ(server.interfaceRequests, 1);  // the held interface served the open
}

TEST_F(ClientDataSetTest, DestroyingAnOpenDataSetSendsNoReset) {
  {
    TClientDataSet local("ClientDataSet1");
    local.SetProviderName("PUBLIC_DSP");
    local.SetRemoteServer(&server);
    local.SetCommandText("other");
    local.Open();
  }
  EXPECT_EQ(fake().fetches(), 1);
  EXPECT_EQ(fake().resets(), 0);
  // The destroyed data set unregistered: a connect change reaches nobody dead.
  server.disconnect();
}

TEST_F(ClientDataSetTest, MissingProviderOrConnection) {
  TClientDataSet noProvider("ClientDataSet1");
  noProvider.SetRemoteServer(&server);
  EXPECT_EQ(errorText([&] { noProvider.Open(); }),
            "ClientDataSet1: Missing data provider or data packet");
  EXPECT_EQ(errorText([&] { noProvider.Execute(); }),
            "ClientDataSet1: Missing data provider or data packet");
  TClientDataSet noServer("ClientDataSet2");
  noServer.SetProviderName("PUBLIC_DSP");
  EXPECT_EQ(errorText([&] { noServer.Open(); }),
            "ClientDataSet2: Missing data provider or data packet");
  EXPECT_EQ(server.interfaceRequests, 0);
}

TEST_F(ClientDataSetTest, NullResultIsAMissingPacketAndSendsTheReset) {
  ds.SetCommandText("unknown");  // the fake answers null
  EXPECT_EQ(errorText([&] { ds.Open(); }), "Public_qry: Missing data provider or data packet");
  EXPECT_EQ(ds.State(), TDataSetState::dsInactive);
  EXPECT_EQ(fake().resets(), 1);
  EXPECT_FALSE(ds.HasAppServer());
}

TEST_F(ClientDataSetTest, ShortOrNonArrayResultIsAnInvalidPacketWithoutName) {
  fake().setRawResult("short", com::Variant::bytes(std::vector<std::uint8_t>(21, 0)));
  ds.SetCommandText("short");
  EXPECT_EQ(errorText([&] { ds.Open(); }), "Invalid data packet");
  fake().setRawResult("text", com::Variant::bstr(u"not a packet at all, long enough"));
  ds.SetCommandText("text");
  EXPECT_EQ(errorText([&] { ds.Open(); }), "Invalid data packet");
  fake().setRawResult("empty", com::Variant());
  ds.SetCommandText("empty");
  EXPECT_EQ(errorText([&] { ds.Open(); }), "Invalid data packet");
  EXPECT_EQ(ds.State(), TDataSetState::dsInactive);
  EXPECT_EQ(fake().resets(), 3);
}

TEST_F(ClientDataSetTest, MalformedPacketFailsWithTheDecodersMessageAndStaysClosed) {
  std::vector<std::uint8_t> junk(40, 0xAB);
  fake().setRawResult("junk", com::Variant::bytes(junk));
  ds.SetCommandText("junk");
  const std::string text = errorText([&] { ds.Open(); });
  EXPECT_NE(text, "(no error)");
  EXPECT_EQ(text.rfind("Public_qry:", 0), std::string::npos);
  EXPECT_EQ(ds.State(), TDataSetState::dsInactive);
  EXPECT_EQ(ds.FieldCount(), 0);
}

TEST_F(ClientDataSetTest, ServerFailureTextFollowsTheConnectionRules) {
  ds.SetCommandText("select CKDM00");
  fake().failWith(com::E_FAIL, u"ORA-00942: table or view does not exist. \r\n");
  EXPECT_EQ(errorText([&] { ds.Open(); }), "ORA-00942: table or view does not exist");
  // The interface had been obtained: the reset went out even though the fetch failed.
  EXPECT_EQ(fake().resets(), 1);
  fake().failWith(com::E_FAIL);
  EXPECT_EQ(errorText([&] { ds.Execute(); }), com::OleErrorText(com::E_FAIL));
  fake().failWith(com::E_FAIL, u"...");
  EXPECT_EQ(errorText([&] { ds.Execute(); }), com::OleErrorText(com::E_FAIL));
}

TEST_F(ClientDataSetTest, ConnectFailureSendsNothingAndKeepsItsText) {
  server.connectFailure = "DCOM not installed";
  ds.SetCommandText("select CKDM00");
  EXPECT_EQ(errorText([&] { ds.Open(); }), "DCOM not installed");
  EXPECT_TRUE(fake().calls.empty());
  server.connectFailure.reset();
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST_F(ClientDataSetTest, DisconnectDropsTheInterfaceButKeepsTheRows) {
  ds.SetCommandText("select CKDM00");
  ds.Open();
  server.disconnect();
  EXPECT_FALSE(ds.HasAppServer());
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.Close();  // no interface held: no reset
  EXPECT_EQ(fake().resets(), 0);
  ds.Open();
  EXPECT_EQ(server.interfaceRequests, 2);
}

TEST_F(ClientDataSetTest, DefaultFieldsComeAndGoWithEachOpen) {
  packet::Packet p;
  p.columns = {dstest::textColumn("CKDM00", 4), dstest::textColumn("SECRET", 4),
               dstest::column("D", "Date"), dstest::column("N", "Integer")};
  p.columns[1].hidden = true;
  p.rows = {{std::string("01"), std::string("x"), 45000.5, 7.0}};
  fake().setResult("mixed", p);
  ds.SetCommandText("mixed");
  EXPECT_EQ(errorText([&] { ds.FieldByName("CKDM00"); }), "Public_qry: Field 'CKDM00' not found");
  ds.Open();
  ASSERT_EQ(ds.FieldCount(), 3);  // the hidden column gets no field
  EXPECT_EQ(ds.Fields()[0]->DataType(), TFieldType::ftString);
  EXPECT_EQ(ds.Fields()[0]->Size(), 4);
  EXPECT_EQ(ds.Fields()[1]->AsString(), "2023-03-15 12:00:00");
  EXPECT_EQ(ds.Fields()[2]->AsString(), "7");
  EXPECT_EQ(ds.Fields()[2]->Index(), 2);
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 0);
  EXPECT_EQ(ds.FindField("CKDM00"), nullptr);
}

TEST_F(ClientDataSetTest, NonEmptyParamsAreRefusedBeforeAnythingIsSent) {
  ds.Params().Add("P1", com::Variant::i4(1));
  ds.SetCommandText("select CKDM00");
  EXPECT_EQ(errorText([&] { ds.Open(); }), "Public_qry: Parameters are not supported");
  EXPECT_TRUE(fake().calls.empty());
}

// --- Binding of persistent fields ----------------------------------------------------

class BindingTest : public ::testing::Test {
 protected:
  BindingTest() : sets(CreateWindowDataSets(&server)) {}
  FakeRemoteServer server;
  WindowDataSets sets;
};

TEST_F(BindingTest, WindowDataSetsAreDeclaredAsTheWindowNeedsThem) {
  auto& d1 = *sets.clientDataSet1;
  auto& d2 = *sets.clientDataSet2;
  auto& q = *sets.publicQry;
  EXPECT_EQ(d1.Name(), "ClientDataSet1");
  EXPECT_EQ(d2.Name(), "ClientDataSet2");
  EXPECT_EQ(q.Name(), "Public_qry");
  for (TClientDataSet* ds : {&d1, &d2, &q}) {
    EXPECT_EQ(ds->ProviderName(), "PUBLIC_DSP");
    EXPECT_EQ(ds->RemoteServer(), &server);
    EXPECT_EQ(ds->PacketRecords(), -1);
    EXPECT_TRUE(ds->FetchOnDemand());
    EXPECT_TRUE(ds->CommandText().empty());
    EXPECT_EQ(ds->State(), TDataSetState::dsInactive);
  }
  auto describe = [](const TDataSet& ds) {
    std::string out;
    for (const TField* f : ds.Fields())
      out += f->FieldName() + ":" + f->TypeName() + ":" + std::to_string(f->Size()) +
             (f->ReadOnly() ? "r " : "w ");
    return out;
  };
  EXPECT_EQ(describe(d1),
            "SPDM00:String:8r SPMC00:String:30r XL0000:Float:0r YFXSL0:Float:0r KTZXL0:Float:0r ");
  EXPECT_EQ(describe(d2),
            "FXRY00:String:4r RYMC00:String:8r SPDM00:String:8r SPMC00:String:30r "
            "XL0000:Float:0r TZXL00:Float:0w ");
  EXPECT_EQ(q.FieldCount(), 0);
}

TEST_F(BindingTest, ClosedPersistentFieldsReadAsNull) {
  auto& d1 = *sets.clientDataSet1;
  EXPECT_EQ(d1.FieldByName("SPDM00")->AsString(), "");
  EXPECT_EQ(d1.FieldByName("KTZXL0")->AsFloat(), 0);
  EXPECT_TRUE(d1.FieldByName("KTZXL0")->IsNull());
  EXPECT_EQ(errorText([&] { sets.publicQry->FieldByName("CKDM00"); }),
            "Public_qry: Field 'CKDM00' not found");
}

TEST_F(BindingTest, BcdColumnIsATypeMismatch) {
  packet::Packet p = dstest::productPacket(2);
  p.columns[2].typeName = "BCD";
  server.appServer->setResult("products", p);
  auto& d1 = *sets.clientDataSet1;
  d1.SetCommandText("products");
  EXPECT_EQ(errorText([&] { d1.Open(); }),
            "ClientDataSet1: Type mismatch for field 'XL0000', expecting: Float actual: BCD");
  EXPECT_EQ(d1.State(), TDataSetState::dsInactive);
  EXPECT_EQ(d1.FieldByName("SPDM00")->AsString(), "");  // nothing stays bound
  EXPECT_EQ(server.appServer->resets(), 1);
}

TEST_F(BindingTest, MissingColumnIsFieldNotFound) {
  packet::Packet p = dstest::productPacket(1);
  p.columns.erase(p.columns.begin() + 4);
  for (auto& r : p.rows) r.pop_back();
  server.appServer->setResult("products", p);
  auto& d1 = *sets.clientDataSet1;
  d1.SetCommandText("products");
  EXPECT_EQ(errorText([&] { d1.Open(); }), "ClientDataSet1: Field 'KTZXL0' not found");
}

TEST_F(BindingTest, LowerCaseColumnBindsAndWidthsAreNotCompared) {
  packet::Packet p = dstest::productPacket(1);
  p.columns[0].name = "spdm00";
  p.columns[0].width = 20;  // wider than the field's 8
  p.rows[0][0] = std::string("P12345678901234 ");
  // Columns in another order than the fields.
  std::swap(p.columns[2], p.columns[4]);
  std::swap(p.rows[0][2], p.rows[0][4]);
  server.appServer->setResult("products", p);
  auto& d1 = *sets.clientDataSet1;
  d1.SetCommandText("products");
  d1.Open();
  EXPECT_EQ(d1.FieldByName("SPDM00")->AsString(), "P12345678901234 ");
  EXPECT_EQ(d1.FieldByName("XL0000")->AsFloat(), 100.0);
  EXPECT_EQ(d1.FieldByName("KTZXL0")->AsFloat(), 60.0);
}

}  // namespace
}  // namespace qadj
