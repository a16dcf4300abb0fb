// The three data sets of the quota-adjustment window, as the window declares them:
// ClientDataSet1 (product quotas), ClientDataSet2 (other salespersons' quotas; only
// TZXL00 editable) and Public_qry (look-ups and updates, no persistent fields), all
// with provider "PUBLIC_DSP" on the given connection.
#pragma once

#include <memory>

#include "qadj/server/client_dataset.h"

namespace qadj {

struct WindowDataSets {
  std::unique_ptr<TClientDataSet> clientDataSet1;
  std::unique_ptr<TClientDataSet> clientDataSet2;
  std::unique_ptr<TClientDataSet> publicQry;
};

// Declares the persistent fields of ClientDataSet1 on ds: SPDM00, SPMC00, XL0000,
// YFXSL0, KTZXL0, all read-only. Call on a closed data set without fields.
void declareProductFields(TDataSet& ds);
// Declares the persistent fields of ClientDataSet2 on ds: FXRY00, RYMC00, SPDM00,
// SPMC00, XL0000 read-only, and TZXL00, what the operator types, in hundredths. Call
// on a closed data set without fields.
void declareDetailFields(TDataSet& ds);

// Creates the three data sets, closed, registered with server (which must outlive
// them or they must be destroyed first, as the window does).
WindowDataSets CreateWindowDataSets(TCustomRemoteServer* server);

}  // namespace qadj
