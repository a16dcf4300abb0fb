#include "qadj/window/window_datasets.h"

#include "qadj/protocol/appserver.h"

namespace qadj {

namespace {

std::unique_ptr<TClientDataSet> makeDataSet(const char* name, TCustomRemoteServer* server) {
  auto ds = std::make_unique<TClientDataSet>(name);
  ds->SetProviderName(kPublicProvider);
  ds->SetRemoteServer(server);
  ds->SetPacketRecords(-1);
  ds->SetFetchOnDemand(true);
  return ds;
}

}  // namespace

WindowDataSets CreateWindowDataSets(TCustomRemoteServer* server) {
  WindowDataSets w;
  w.clientDataSet1 = makeDataSet("ClientDataSet1", server);
  w.clientDataSet1->AddStringField("SPDM00", 8, true);
  w.clientDataSet1->AddStringField("SPMC00", 30, true);
  w.clientDataSet1->AddFloatField("XL0000", true);
  w.clientDataSet1->AddFloatField("YFXSL0", true);
  w.clientDataSet1->AddFloatField("KTZXL0", true);

  w.clientDataSet2 = makeDataSet("ClientDataSet2", server);
  w.clientDataSet2->AddStringField("FXRY00", 4, true);
  w.clientDataSet2->AddStringField("RYMC00", 8, true);
  w.clientDataSet2->AddStringField("SPDM00", 8, true);
  w.clientDataSet2->AddStringField("SPMC00", 30, true);
  w.clientDataSet2->AddFloatField("XL0000", true);
  // What the operator types is held as the quantity it is moved as: in hundredths.
  w.clientDataSet2->AddFloatField("TZXL00", false)->SetInHundredths(true);

  w.publicQry = makeDataSet("Public_qry", server);
  return w;
}

}  // namespace qadj
