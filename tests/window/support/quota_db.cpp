#include "support/quota_db.h"

#include <stdexcept>

#include "qadj/appserver/schema.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/postgres_server.h"
#include "qadj/testing/unavailable.h"

namespace qadj::testing {

QuotaDatabase::QuotaDatabase(const std::string& dialect) {
  if (dialect == "postgresql") {
    PostgresServer& server = PostgresServer::instance();
    if (!server.running()) throw std::runtime_error("no PostgreSQL: " + server.error());
    url_ = server.createDatabase();
  } else {
    url_ = "sqlite:" + dir_.filePath(QStringLiteral("quota.sqlite")).toStdString();
  }
  db_ = appserver::openDatabase(url_);
  appserver::createSchema(*db_);
  db_->executeScript(R"SQL(
INSERT INTO GSTRYGL0 VALUES ('0001','操作员','01','N');
INSERT INTO GSTRYGL0 VALUES ('0012','张三','01','Y');
INSERT INTO GSTRYGL0 VALUES ('0013','李四','01','Y');
INSERT INTO GSTRYGL0 VALUES ('0015','王五','01','Y');
INSERT INTO GSTRYGL0 VALUES ('0016','孙七','01','Y');
INSERT INTO GSTRYGL0 VALUES ('0099','赵六','02','Y');
INSERT INTO GSTRYGL0 VALUES ('0002','无仓','09','N');
INSERT INTO GSTRYGL0 VALUES ('O''1','引号','01','N');
INSERT INTO GSTJYGL1 VALUES ('P001','矿泉水');
INSERT INTO GSTJYGL1 VALUES ('P002','面包');
INSERT INTO GSTJYGL1 VALUES ('P003','牛奶');
INSERT INTO XSTXLGL1 VALUES ('D1','2026-12-08 09:30:00','0001');
INSERT INTO XSTXLGL1 VALUES ('D2','2026-12-08 15:00:00','0001');
INSERT INTO XSTXLGL1 VALUES ('D0','2026-12-07 09:00:00','0001');
INSERT INTO XSTXLGL01 VALUES ('D1','0012','P001',10);
INSERT INTO XSTXLGL01 VALUES ('D1','0013','P001',5);
INSERT INTO XSTXLGL01 VALUES ('D1','0015','P001',7);
INSERT INTO XSTXLGL01 VALUES ('D1','0016','P001',2);
INSERT INTO XSTXLGL01 VALUES ('D1','0099','P001',3);
INSERT INTO XSTXLGL01 VALUES ('D1','0012','P003',20);
INSERT INTO XSTXLGL01 VALUES ('D1','0013','P003',1);
INSERT INTO XSTXLGL01 VALUES ('D2','0012','P002',6);
INSERT INTO XSTXLGL01 VALUES ('D2','0013','P002',4);
INSERT INTO XSTXLGL01 VALUES ('D2','0016','P002',2);
INSERT INTO XSTXLGL01 VALUES ('D1','0015','P002',9);
INSERT INTO XSTXLGL01 VALUES ('D2','0015','P003',3);
INSERT INTO XSTXLGL01 VALUES ('D0','0012','P001',50);
INSERT INTO XSTFXDD0 VALUES ('S1',1,'0012','P003',8,'2026-12-08 11:00:00');
)SQL");
}

void QuotaDatabase::refuseUpdatesOf(const std::string& salesperson) {
  // Test-only trigger; the code is a fixed test value, not operator input.
  if (db_->dialect() == "postgresql") {
    db_->executeScript(
        "CREATE FUNCTION refuse_update() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
        "NEW.FXRY00='" +
        salesperson +
        "' THEN RAISE EXCEPTION 'quota line locked'; END IF; RETURN NEW; END $$;"
        "CREATE TRIGGER refuse_update BEFORE UPDATE ON XSTXLGL01 FOR EACH ROW EXECUTE "
        "FUNCTION refuse_update();");
  } else {
    db_->executeScript("CREATE TRIGGER refuse_update BEFORE UPDATE ON XSTXLGL01 WHEN NEW.FXRY00='" +
                       salesperson + "' BEGIN SELECT RAISE(ABORT, 'quota line locked'); END;");
  }
}

double QuotaDatabase::quota(const std::string& document, const std::string& salesperson,
                            const std::string& product) {
  const auto rs =
      db_->query("SELECT XL0000 FROM XSTXLGL01 WHERE DHAO00=$1 AND FXRY00=$2 AND SPDM00=$3",
                 {document, salesperson, product});
  if (rs.rows.empty()) return -1;
  return std::get<double>(rs.rows[0][0]);
}

double QuotaDatabase::sum(const std::string& document, const std::string& product) {
  return numberOf(*db_, "SELECT SUM(XL0000) FROM XSTXLGL01 WHERE DHAO00=$1 AND SPDM00=$2",
                  {document, product});
}

std::unique_ptr<QuotaDatabase> quotaDatabaseFor(const std::string& dialect) {
  try {
    return std::make_unique<QuotaDatabase>(dialect);
  } catch (const std::exception& e) {
    databaseUnavailable(e.what());
    return nullptr;
  }
}

}  // namespace qadj::testing
