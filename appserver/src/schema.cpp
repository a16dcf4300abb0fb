#include "qadj/appserver/schema.h"

#include <array>
#include <filesystem>
#include <string>
#include <utility>

#include "qadj/appserver/save_record.h"

namespace qadj::appserver {
namespace {

// Same text on both databases: unquoted names (PostgreSQL folds them, Oracle-style
// statements find them either way), widths in bytes of GBK text.
constexpr const char* kTables = R"SQL(
CREATE TABLE IF NOT EXISTS GSTRYGL0 (
  RYDM00 VARCHAR(4) NOT NULL PRIMARY KEY,
  RYMC00 VARCHAR(8) NOT NULL,
  CKDM00 VARCHAR(4) NOT NULL,
  FXY000 VARCHAR(1) NOT NULL DEFAULT 'N'
);
CREATE INDEX IF NOT EXISTS GSTRYGL0_CK ON GSTRYGL0 (CKDM00, FXY000);
CREATE TABLE IF NOT EXISTS GSTJYGL1 (
  SPDM00 VARCHAR(8) NOT NULL PRIMARY KEY,
  SPMC00 VARCHAR(30) NOT NULL
);
CREATE TABLE IF NOT EXISTS XSTXLGL1 (
  DHAO00 VARCHAR(20) NOT NULL PRIMARY KEY,
  ZDRQ00 TIMESTAMP NOT NULL,
  ZDRY00 VARCHAR(4)
);
CREATE INDEX IF NOT EXISTS XSTXLGL1_RQ ON XSTXLGL1 (ZDRQ00);
CREATE TABLE IF NOT EXISTS XSTXLGL01 (
  DHAO00 VARCHAR(20) NOT NULL,
  FXRY00 VARCHAR(4) NOT NULL,
  SPDM00 VARCHAR(8) NOT NULL,
  XL0000 DOUBLE PRECISION NOT NULL DEFAULT 0,
  PRIMARY KEY (DHAO00, FXRY00, SPDM00)
);
CREATE INDEX IF NOT EXISTS XSTXLGL01_RY ON XSTXLGL01 (FXRY00, SPDM00);
CREATE TABLE IF NOT EXISTS XSTFXDD0 (
  DHAO00 VARCHAR(20) NOT NULL,
  HH0000 INTEGER NOT NULL,
  FXRY00 VARCHAR(4) NOT NULL,
  SPDM00 VARCHAR(8) NOT NULL,
  XSSL00 DOUBLE PRECISION NOT NULL DEFAULT 0,
  XSRQ00 TIMESTAMP NOT NULL,
  PRIMARY KEY (DHAO00, HH0000)
);
CREATE INDEX IF NOT EXISTS XSTFXDD0_RY ON XSTFXDD0 (FXRY00, XSRQ00);
)SQL";

// TRUNC of a date or date-time (PostgreSQL has TRUNC for numbers only; TO_DATE with
// 'yyyy-mm-dd' is built in).
constexpr const char* kPostgresFunctions = R"SQL(
CREATE OR REPLACE FUNCTION TRUNC(TIMESTAMP) RETURNS TIMESTAMP
  LANGUAGE SQL IMMUTABLE STRICT AS 'SELECT date_trunc(''day'', $1)';
CREATE OR REPLACE FUNCTION TRUNC(TIMESTAMPTZ) RETURNS TIMESTAMP
  LANGUAGE SQL STABLE STRICT AS 'SELECT date_trunc(''day'', $1::TIMESTAMP)';
CREATE OR REPLACE FUNCTION TRUNC(DATE) RETURNS DATE
  LANGUAGE SQL IMMUTABLE STRICT AS 'SELECT $1';
)SQL";

// SQLite stores any text in a TIMESTAMP column, and one document date that is not a
// date makes TRUNC(ZDRQ00) fail the document lookup for every date. Triggers, not a
// CHECK, so that a database made before them gets them too: a date is text of the
// form TRUNC reads, "YYYY-MM-DD" with an optional time "HH:MM[:SS[.fff]]" after a
// blank or 'T', naming a real day, no time zone.
constexpr const char* kSqliteIsDate = R"SQL(typeof(NEW.ZDRQ00) = 'text'
          AND NEW.ZDRQ00 GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*'
          AND date(julianday(NEW.ZDRQ00)) = substr(NEW.ZDRQ00, 1, 10)
          AND substr(NEW.ZDRQ00, 11) NOT GLOB '*[^0-9 T:.]*')SQL";

// One trigger on insert, one on an update of the date.
std::string sqliteDateGuards() {
  std::string script;
  const std::pair<const char*, const char*> events[] = {{"INSERT", "INSERT"},
                                                        {"UPDATE", "UPDATE OF ZDRQ00"}};
  for (const auto& [name, event] : events)
    script += std::string("CREATE TRIGGER IF NOT EXISTS XSTXLGL1_ZDRQ00_") + name + " BEFORE " +
              event + " ON XSTXLGL1\nWHEN NOT (" + kSqliteIsDate +
              ")\nBEGIN SELECT RAISE(ABORT, 'XSTXLGL1.ZDRQ00 is not a date'); END;\n";
  return script;
}

constexpr std::array<const char*, 5> kTableNames = {"GSTRYGL0", "GSTJYGL1", "XSTXLGL1", "XSTXLGL01",
                                                    "XSTFXDD0"};

}  // namespace

void createSchema(Database& db) {
  inTransaction(db, [&] {
    db.executeScript(kTables);
    db.executeScript(db.dialect() == "postgresql" ? std::string(kPostgresFunctions)
                                                  : sqliteDateGuards());
  });
  createSaveRecord(db);
}

bool tableExists(Database& db, std::string_view table) {
  const auto rs = db.dialect() == "postgresql"
                      ? db.query(
                            "SELECT 1 FROM pg_catalog.pg_tables WHERE tablename = lower($1) "
                            "AND schemaname = ANY (current_schemas(false))",
                            {std::string(table)})
                      : db.query("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = $1",
                                 {std::string(table)});
  return !rs.rows.empty();
}

bool schemaExists(Database& db) {
  for (const char* table : kTableNames)
    if (!tableExists(db, table)) return false;
  return true;
}

void prepareSession(Database& db) {
  const char* temp = db.dialect() == "postgresql" ? "CREATE TEMPORARY TABLE IF NOT EXISTS"
                                                  : "CREATE TEMP TABLE IF NOT EXISTS";
  db.executeScript(std::string(temp) +
                   " PGTQADJ0 (SPDM00 VARCHAR(8) NOT NULL PRIMARY KEY,"
                   " XL0000 DOUBLE PRECISION NOT NULL DEFAULT 0,"
                   " YFXSL0 DOUBLE PRECISION NOT NULL DEFAULT 0,"
                   " KTZXL0 DOUBLE PRECISION NOT NULL DEFAULT 0)");
}

bool databaseAnswers(const std::string& url) {
  try {
    if (const auto path = sqlitePathOf(url); path && !std::filesystem::exists(*path)) return false;
    auto db = openDatabase(url);
    return schemaExists(*db);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace qadj::appserver
