// The demo data set: one warehouse, its operator, eight visit-salespersons, twenty
// products, quota documents for a day and the day before, and some visit sales.
#pragma once

#include <string>

#include "qadj/appserver/database.h"

namespace qadj::appserver {

inline constexpr const char* kDemoOperatorCode = "0001";
inline constexpr const char* kDemoWarehouseCode = "01";

struct DemoSummary {
  std::string operatorCode;  // the code to start the window with
  std::string operatorName;  // UTF-8
  std::string warehouseCode;
  int salespersons = 0;
  int products = 0;
  std::string today, yesterday;  // "YYYY-MM-DD" of the two quota documents
};

// Creates the schema when missing and (re)writes the demo rows for the day `today`
// (an automation date) and the day before, in one transaction. Only demo rows are
// replaced (demo person and product codes, document numbers beginning with "DEMO");
// other rows stay. Throws DatabaseError.
DemoSummary seedDemoData(Database& db, double today);

}  // namespace qadj::appserver
