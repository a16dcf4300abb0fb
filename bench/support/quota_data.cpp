#include "support/quota_data.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/embedded.h"
#include "qadj/appserver/schema.h"

namespace qadj::bench {

std::string warehouseCode(int w) {
  char code[8];
  std::snprintf(code, sizeof code, "%02d", (w + 1) % 100);
  return code;
}

std::string giverCode(int i) {
  char code[8];
  std::snprintf(code, sizeof code, "G%03d", (i + 1) % 1000);
  return code;
}

std::string receiverCode(int i) {
  char code[8];
  std::snprintf(code, sizeof code, "%04d", i % 10000);
  return code;
}

std::string productCode(int i) {
  return std::to_string(10000000 + i);
}

double quotaDateValue() {
  return appserver::dates::fromCivil(2026, 12, 8);
}

void seedQuotaData(appserver::Database& db, const QuotaDataShape& shape) {
  using appserver::Cell;
  appserver::createSchema(db);
  appserver::inTransaction(db, [&] {
    const auto person = [&](const std::string& code, const std::string& name,
                            const std::string& warehouse, const char* kind) {
      db.execute("INSERT INTO GSTRYGL0 (RYDM00, RYMC00, CKDM00, FXY000) VALUES ($1, $2, $3, $4)",
                 {code, name, warehouse, std::string(kind)});
    };
    person(kOperator, "操作员", kWarehouse, "N");
    const int givers = shape.warehouses * shape.givers;
    const int receivers = shape.warehouses * shape.receivers;
    for (int g = 0; g < givers; ++g)
      person(giverCode(g), "给" + giverCode(g), warehouseCode(g / shape.givers), "Y");
    for (int r = 0; r < receivers; ++r)
      person(receiverCode(r), "张" + receiverCode(r), warehouseCode(r / shape.receivers), "Y");
    for (int p = 0; p < shape.products; ++p)
      db.execute("INSERT INTO GSTJYGL1 (SPDM00, SPMC00) VALUES ($1, $2)",
                 {productCode(p), "矿泉水 550ml 箱装 " + std::to_string(p)});
    db.execute(
        "INSERT INTO XSTXLGL1 (DHAO00, ZDRQ00, ZDRY00) VALUES ($1, $2, $3)",
        {std::string(kDocument), std::string(kQuotaDate) + " 08:30:00", std::string(kOperator)});
    const auto line = [&](const std::string& holder, int product, double quota) {
      db.execute("INSERT INTO XSTXLGL01 (DHAO00, FXRY00, SPDM00, XL0000) VALUES ($1, $2, $3, $4)",
                 {std::string(kDocument), holder, productCode(product), Cell(quota)});
    };
    for (int g = 0; g < givers; ++g)
      for (int p = 0; p < shape.products; ++p) line(giverCode(g), p, 1000.0 + p % 50);
    for (int r = 0; r < receivers; ++r)
      for (int p = 0; p < shape.receiverProducts; ++p) line(receiverCode(r), p, 10.0 + r % 40);
  });
}

SeededSqliteFile::SeededSqliteFile(const std::string& name, const QuotaDataShape& shape)
    : path_((std::filesystem::temp_directory_path() /
             ("qadj-bench-" + name + "-" + std::to_string(::getpid()) + ".sqlite"))
                .string()) {
  seedQuotaData(*appserver::openDatabase(url()), shape);
}

SeededSqliteFile::~SeededSqliteFile() {
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix, ec);
}

std::string SeededSqliteFile::url() const {
  return appserver::sqliteUrl(path_);
}

}  // namespace qadj::bench
