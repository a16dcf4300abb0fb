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

void declareProductFields(TDataSet& ds) {
  ds.AddStringField("SPDM00", 8, true);
  ds.AddStringField("SPMC00", 30, true);
  ds.AddFloatField("XL0000", true);
  ds.AddFloatField("YFXSL0", true);
  ds.AddFloatField("KTZXL0", true);
}

void declareDetailFields(TDataSet& ds) {
  ds.AddStringField("FXRY00", 4, true);
  ds.AddStringField("RYMC00", 8, true);
  ds.AddStringField("SPDM00", 8, true);
  ds.AddStringField("SPMC00", 30, true);
  ds.AddFloatField("XL0000", true);
  // What the operator types is held as the quantity it is moved as: in hundredths.
  ds.AddFloatField("TZXL00", false)->SetInHundredths(true);
}

WindowDataSets CreateWindowDataSets(TCustomRemoteServer* server) {
  WindowDataSets w;
  w.clientDataSet1 = makeDataSet("ClientDataSet1", server);
  declareProductFields(*w.clientDataSet1);
  w.clientDataSet2 = makeDataSet("ClientDataSet2", server);
  declareDetailFields(*w.clientDataSet2);
  w.publicQry = makeDataSet("Public_qry", server);
  return w;
}

}  // namespace qadj
