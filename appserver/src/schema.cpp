#include "qadj/appserver/schema.h"

#include <array>
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

// No quota may be infinite or NaN: every later sum and limit check would be one. A value
// beyond a double's range reads as infinity. (PostgreSQL treats NaN as equal to itself.)
constexpr const char* kPostgresFinite = R"SQL(
DO $$ BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_constraint WHERE conname = 'xstxlgl01_xl0000_finite') THEN
    ALTER TABLE XSTXLGL01 ADD CONSTRAINT XSTXLGL01_XL0000_FINITE
      CHECK (XL0000 NOT IN ('NaN', 'Infinity', '-Infinity'));
  END IF;
END $$;
)SQL";

// SQLite stores any text in a TIMESTAMP column, and one document date that is not a
// date makes TRUNC(ZDRQ00) fail the document lookup for every date; and it stores
// infinity in a DOUBLE column (NaN becomes null, which NOT NULL refuses). Triggers, not
// CHECKs, so that a database made before them gets them too. A date is text of the form
// TRUNC reads, "YYYY-MM-DD" with an optional time "HH:MM[:SS[.fff]]" after a blank or
// 'T', naming a real day, no time zone. A condition that SQLite cannot decide (julianday
// of no date is null) counts as not met.
struct Guard {
  const char* name;
  const char* event;
  const char* table;
  const char* holds;
  const char* refusal;
};
constexpr const char* kSqliteIsDate = R"SQL(coalesce(typeof(NEW.ZDRQ00) = 'text'
          AND NEW.ZDRQ00 GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*'
          AND date(julianday(NEW.ZDRQ00)) = substr(NEW.ZDRQ00, 1, 10)
          AND substr(NEW.ZDRQ00, 11) NOT GLOB '*[^0-9 T:.]*', 0))SQL";
constexpr const char* kSqliteIsFinite =
    "coalesce(NEW.XL0000 BETWEEN -1.7976931348623157e308 AND 1.7976931348623157e308, 0)";
constexpr Guard kSqliteGuards[] = {
    {"XSTXLGL1_ZDRQ00_INSERT", "INSERT", "XSTXLGL1", kSqliteIsDate,
     "XSTXLGL1.ZDRQ00 is not a date"},
    {"XSTXLGL1_ZDRQ00_UPDATE", "UPDATE OF ZDRQ00", "XSTXLGL1", kSqliteIsDate,
     "XSTXLGL1.ZDRQ00 is not a date"},
    {"XSTXLGL01_XL0000_INSERT", "INSERT", "XSTXLGL01", kSqliteIsFinite,
     "XSTXLGL01.XL0000 is not a finite number"},
    {"XSTXLGL01_XL0000_UPDATE", "UPDATE OF XL0000", "XSTXLGL01", kSqliteIsFinite,
     "XSTXLGL01.XL0000 is not a finite number"},
};

// The triggers, dropped and made again with their current text.
std::string sqliteGuards() {
  std::string script;
  for (const Guard& g : kSqliteGuards)
    script += std::string("DROP TRIGGER IF EXISTS ") + g.name + ";\nCREATE TRIGGER " + g.name +
              " BEFORE " + g.event + " ON " + g.table + "\nWHEN NOT (" + g.holds +
              ")\nBEGIN SELECT RAISE(ABORT, '" + g.refusal + "'); END;\n";
  return script;
}

constexpr std::array<const char*, 5> kTableNames = {"GSTRYGL0", "GSTJYGL1", "XSTXLGL1", "XSTXLGL01",
                                                    "XSTFXDD0"};

}  // namespace

void createSchema(Database& db) {
  inTransaction(db, [&] {
    db.executeScript(kTables);
    db.executeScript(db.dialect() == "postgresql"
                         ? std::string(kPostgresFunctions) + kPostgresFinite
                         : sqliteGuards());
  });
  createSaveRecord(db);
}

bool ensureSchemaGuards(Database& db) {
  if (db.dialect() != "postgresql") {
    inTransaction(db, [&] { db.executeScript(sqliteGuards()); });
    return true;
  }
  return !db.query("SELECT 1 FROM pg_constraint WHERE conname = 'xstxlgl01_xl0000_finite'")
              .rows.empty();
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
    auto db = openDatabase(url, OpenMode::Existing);
    return schemaExists(*db);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace qadj::appserver
