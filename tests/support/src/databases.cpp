#include "qadj/testing/databases.h"

#include <unistd.h>

#include <filesystem>

#include "qadj/appserver/schema.h"
#include "qadj/testing/postgres_server.h"
#include "qadj/testing/unavailable.h"

namespace qadj::testing {

TempDir::TempDir() {
  char templ[] = "/tmp/qadj-test-XXXXXX";
  if (::mkdtemp(templ)) path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string freshDatabaseFor(const std::string& dialect, const TempDir& dir) {
  static int counter = 0;
  if (dialect == "sqlite")
    return "sqlite:" + dir.path() + "/db" + std::to_string(++counter) + ".sqlite";
  auto& pg = PostgresServer::instance();
  if (!pg.running()) {
    databaseUnavailable(pg.error());
    return {};
  }
  return pg.createDatabase();
}

void seedKnownData(appserver::Database& db) {
  appserver::createSchema(db);
  db.executeScript(R"SQL(
INSERT INTO GSTRYGL0 (RYDM00, RYMC00, CKDM00, FXY000) VALUES
  ('0001', '李经理', 'W1', 'N'), ('0012', '张三', 'W1', 'Y'), ('0013', '李四', 'W1', 'Y'),
  ('0015', '王五', 'W1', 'Y'), ('0021', '赵六', 'W2', 'Y');
INSERT INTO GSTJYGL1 (SPDM00, SPMC00) VALUES
  ('10000001', '可口可乐330ml'), ('10000002', '雪碧500ml');
INSERT INTO XSTXLGL1 (DHAO00, ZDRQ00) VALUES
  ('D1', '2026-12-08 09:00:00'), ('D2', '2026-12-08 15:30:00'), ('D3', '2026-12-07 10:00:00');
INSERT INTO XSTXLGL01 (DHAO00, FXRY00, SPDM00, XL0000) VALUES
  ('D1', '0012', '10000001', 20), ('D1', '0013', '10000001', 10), ('D1', '0021', '10000001', 7),
  ('D1', '0012', '10000003', 5), ('D1', '0015', '10000002', 4),
  ('D2', '0015', '10000001', 6), ('D2', '0012', '10000002', 8),
  ('D3', '0013', '10000001', 99), ('D3', '0012', '10000001', 50);
INSERT INTO XSTFXDD0 (DHAO00, HH0000, FXRY00, SPDM00, XSSL00, XSRQ00) VALUES
  ('S1', 1, '0012', '10000001', 5, '2026-12-08 10:00:00'),
  ('S1', 2, '0012', '10000002', 12, '2026-12-08 10:00:00'),
  ('S2', 1, '0012', '10000001', 3, '2026-12-08 16:45:00'),
  ('S3', 1, '0012', '10000001', 100, '2026-12-07 11:00:00');
)SQL");
}

void seedQuotaDocument(appserver::Database& db, const std::vector<std::string>& salespersons,
                       const std::vector<std::string>& products, double quota) {
  appserver::createSchema(db);
  db.execute("INSERT INTO GSTRYGL0 VALUES ('0001','OPERATOR','01','N')");
  db.execute("INSERT INTO XSTXLGL1 VALUES ('D1','2026-12-08 09:30:00','0001')");
  for (const std::string& product : products)
    db.execute("INSERT INTO GSTJYGL1 VALUES ($1,$1)", {product});
  for (const std::string& person : salespersons) {
    db.execute("INSERT INTO GSTRYGL0 VALUES ($1,$2,'01','Y')", {person, "S" + person});
    for (const std::string& product : products)
      db.execute("INSERT INTO XSTXLGL01 VALUES ('D1',$1,$2,$3)", {person, product, quota});
  }
}

double numberOf(appserver::Database& db, std::string_view sql,
                const std::vector<appserver::Cell>& params) {
  return std::get<double>(db.query(sql, params).rows.at(0).at(0));
}

double allQuota(appserver::Database& db) {
  return numberOf(db, "SELECT SUM(XL0000) FROM XSTXLGL01");
}

int journalRows(appserver::Database& db) {
  return static_cast<int>(numberOf(db, "SELECT COUNT(*) FROM QADJ_TRANSFER_JOURNAL"));
}

int otherSessions(appserver::Database& db) {
  return static_cast<int>(numberOf(db,
                                   "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = "
                                   "current_database() AND pid <> pg_backend_pid()"));
}

}  // namespace qadj::testing
