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

// Creates the three data sets, closed, registered with server (which must outlive
// them or they must be destroyed first, as the window does).
WindowDataSets CreateWindowDataSets(TCustomRemoteServer* server);

}  // namespace qadj
