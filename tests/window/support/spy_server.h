// The real application server object behind a recorder: every record-set request
// and every m_qadj call that reaches the server is logged, then passed on.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qadj/com/com.h"
#include "qadj/protocol/appserver.h"

namespace qadj::testing {

struct ServerLog {
  std::mutex mutex;
  std::vector<std::string> fetches;    // command texts of FetchRecords (reset: "<reset>")
  std::vector<std::string> executes;   // command texts of ExecuteCommand
  std::vector<std::string> qadjCodes;  // salesperson codes of m_qadj (UTF-8)
  std::vector<double> qadjDates;
  // The next ExecuteCommand is carried out, but its reply is lost: the caller gets
  // this code (the server gone) instead of the outcome. 0: none.
  com::HRESULT loseNextReply = 0;

  void clear();
  std::vector<std::string> snapshotQadj();
  std::vector<std::string> snapshotExecutes();
  std::vector<std::string> snapshotFetches();
};

// A new application server object on dbUrl, recording into log.
std::shared_ptr<com::IUnknown> createSpyServer(const std::string& dbUrl,
                                               std::shared_ptr<ServerLog> log);

}  // namespace qadj::testing
