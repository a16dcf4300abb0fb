// A small quota database for the window's tests: one warehouse "01" with the
// operator 0001 and the visit-salespersons 0012 张三, 0013 李四, 0015 王五,
// 0016 孙七; a
// salesperson 0099 of warehouse "02"; products P001..P003; quota documents D1 and D2
// on 2026-12-08 and D0 on the day before; some visit sales.
#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>

#include "qadj/appserver/database.h"

namespace qadj::testing {

inline constexpr const char* kQuotaDate = "2026-12-08";

class QuotaDatabase {
 public:
  // dialect "sqlite" (a file in a temporary folder) or "postgresql" (a new database on
  // the tests' private server). Throws std::runtime_error when it cannot be made.
  explicit QuotaDatabase(const std::string& dialect = "sqlite");
  // Makes every update of salesperson's quota lines fail with "quota line locked".
  void refuseUpdatesOf(const std::string& salesperson);
  const std::string& url() const { return url_; }
  appserver::Database& db() { return *db_; }
  // XL0000 of one quota line; -1 when the line does not exist.
  double quota(const std::string& document, const std::string& salesperson,
               const std::string& product);
  // Sum of XL0000 over a document's lines for a product.
  double sum(const std::string& document, const std::string& product);

 private:
  QTemporaryDir dir_;
  std::string url_;
  std::unique_ptr<appserver::Database> db_;
};

// The quota database of dialect for the running case; null when it cannot be made,
// the case then failed or skipped (see databaseUnavailable).
std::unique_ptr<QuotaDatabase> quotaDatabaseFor(const std::string& dialect);

}  // namespace qadj::testing
