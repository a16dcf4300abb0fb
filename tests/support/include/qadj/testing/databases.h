// Fresh databases for tests that run on SQLite and on PostgreSQL alike, and a small
// known data set to query.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qadj/appserver/database.h"

namespace qadj::testing {

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// URL of a new empty database of the dialect for the running test case ("sqlite": a
// file in dir; "postgresql": a new database on the private test server). When the
// dialect is not available the case has been failed or skipped (databaseUnavailable)
// and the result is empty; the caller returns.
std::string freshDatabaseFor(const std::string& dialect, const TempDir& dir);

// The known data set, dated 2026-12-08 and 2026-12-07 (warehouse W1 unless noted):
//   persons: 0001 operator (not a salesperson); salespersons 0012 张三, 0013 李四,
//            0015 王五; 0021 赵六 in warehouse W2
//   products: 10000001 可口可乐330ml, 10000002 雪碧500ml; 10000003 has quota lines
//             but no product row
//   documents: D1 2026-12-08 09:00, D2 2026-12-08 15:30, D3 2026-12-07 10:00
//   lines:  D1 0012/P1 20, 0013/P1 10, 0021/P1 7, 0012/P3 5, 0015/P2 4
//           D2 0015/P1 6, 0012/P2 8
//           D3 0013/P1 99, 0012/P1 50
//   sales:  0012 P1 5 and 3 on 12-08, 100 on 12-07; 0012 P2 12 on 12-08
void seedKnownData(appserver::Database& db);

// Creates the schema and one quota document, D1 of 2026-12-08 09:30 made by operator
// 0001, with a line of `quota` for every salesperson (visit-salespersons of warehouse
// 01, named "S" and their code) and product (named by its code).
void seedQuotaDocument(appserver::Database& db, const std::vector<std::string>& salespersons,
                       const std::vector<std::string>& products, double quota);

// The number in the first column of the first row of the query's result (a count or
// a sum). Throws std::bad_variant_access when it is no number, std::out_of_range when
// there is no row; otherwise as Database::query.
double numberOf(appserver::Database& db, std::string_view sql,
                const std::vector<appserver::Cell>& params = {});
// SUM(XL0000) over every quota line.
double allQuota(appserver::Database& db);
// The rows of the journal of saves.
int journalRows(appserver::Database& db);
// Sessions on the database that db is connected to, other than db's own (PostgreSQL).
int otherSessions(appserver::Database& db);

}  // namespace qadj::testing
