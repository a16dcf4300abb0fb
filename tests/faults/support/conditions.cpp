#include "support/conditions.h"

namespace qadj::testing {

int otherSessions(appserver::Database& db) {
  const auto rs = db.query(
      "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database() AND pid <> "
      "pg_backend_pid()");
  return static_cast<int>(std::get<double>(rs.rows.at(0).at(0)));
}

}  // namespace qadj::testing
