#include "support/conditions.h"

#include <thread>

namespace qadj::testing {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int otherSessions(appserver::Database& db) {
  const auto rs = db.query(
      "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database() AND pid <> "
      "pg_backend_pid()");
  return static_cast<int>(std::get<double>(rs.rows.at(0).at(0)));
}

}  // namespace qadj::testing
