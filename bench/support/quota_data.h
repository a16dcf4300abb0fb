// The data the comparison benchmarks run on: warehouses whose givers each hold a quota
// line for every product and whose receivers hold lines for the first few products,
// all in one quota document. The detail query of a giver on product 0 therefore returns
// one row per receiver and per other giver of its warehouse.
#pragma once

#include <string>
#include <vector>

#include "qadj/appserver/database.h"

namespace qadj::bench {

inline constexpr const char* kQuotaDate = "2026-12-08";
inline constexpr const char* kWarehouse = "01";
inline constexpr const char* kOperator = "OP01";
inline constexpr const char* kDocument = "D1";

struct QuotaDataShape {
  int warehouses = 1;        // 01, 02, ... (kWarehouse first)
  int givers = 1;            // per warehouse: G001, G002, ... numbered across warehouses
  int receivers = 10000;     // per warehouse: 0000, 0001, ... (at most 10 000 in all)
  int products = 10000;      // 10000000, 10000001, ...
  int receiverProducts = 1;  // receivers hold lines for products 0 .. receiverProducts-1
};

// Warehouse code of index w (0-based): "01" for 0.
std::string warehouseCode(int w);
// Giver code of index i (0-based): "G001" for 0.
std::string giverCode(int i);
// Receiver code of index i: four digits.
std::string receiverCode(int i);
// Product code of index i: "10000000" + i.
std::string productCode(int i);
// The quota date as an automation date (days since 1899-12-30).
double quotaDateValue();

// Creates the schema and writes the rows of shape in one transaction. Run on an empty
// database. Throws appserver::DatabaseError.
void seedQuotaData(appserver::Database& db, const QuotaDataShape& shape);

// A SQLite file in the temporary folder seeded with shape, named after name and this
// process; removed (with its WAL files) when the object goes. Throws as seedQuotaData.
class SeededSqliteFile {
 public:
  SeededSqliteFile(const std::string& name, const QuotaDataShape& shape);
  ~SeededSqliteFile();
  SeededSqliteFile(const SeededSqliteFile&) = delete;
  SeededSqliteFile& operator=(const SeededSqliteFile&) = delete;
  const std::string& path() const { return path_; }
  std::string url() const;

 private:
  std::string path_;
};

}  // namespace qadj::bench
