#include "support/bare_sqlite.h"

#include <cstring>
#include <stdexcept>

namespace qadj::bench {
namespace {

// The day of the text starting with "YYYY-MM-DD" at 00:00; null when the text is not
// wholeLength long (0: any length from 10 on).
template <std::size_t wholeLength>
void dayAtMidnight(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::size_t length = text ? std::strlen(text) : 0;
  if (length < 10 || (wholeLength != 0 && length != wholeLength)) {
    sqlite3_result_null(ctx);
    return;
  }
  char day[20];
  std::memcpy(day, text, 10);
  std::memcpy(day + 10, " 00:00:00", 10);
  sqlite3_result_text(ctx, day, 19, SQLITE_TRANSIENT);
}
// TRUNC of a "YYYY-MM-DD HH:MM:SS" text, TO_DATE(text, 'yyyy-mm-dd').
constexpr auto truncDay = dayAtMidnight<0>;
constexpr auto toDateDay = dayAtMidnight<10>;

}  // namespace

BareSqlite::BareSqlite(const std::string& path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    const std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("cannot open " + path + ": " + msg);
  }
  sqlite3_busy_timeout(db_, 10000);
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function_v2(db_, "TRUNC", 1, flags, nullptr, truncDay, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db_, "TO_DATE", 2, flags, nullptr, toDateDay, nullptr, nullptr,
                             nullptr);
  exec("PRAGMA journal_mode=WAL");
}

BareSqlite::~BareSqlite() {
  sqlite3_close(db_);
}

void BareSqlite::exec(const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    const std::string msg = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw std::runtime_error(msg);
  }
}

BareSqlite::Totals BareSqlite::readAll(const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK)
    throw std::runtime_error(sqlite3_errmsg(db_));
  Totals t;
  const int n = sqlite3_column_count(st);
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    ++t.rows;
    for (int i = 0; i < n; ++i) {
      switch (sqlite3_column_type(st, i)) {
        case SQLITE_TEXT:
          sqlite3_column_text(st, i);
          t.textBytes += sqlite3_column_bytes(st, i);
          break;
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
          t.numbers += sqlite3_column_double(st, i);
          break;
        default:
          break;
      }
    }
  }
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db_));
  return t;
}

void BareSqlite::runInTransaction(const std::vector<std::string>& statements) {
  exec("BEGIN IMMEDIATE");
  for (const std::string& s : statements) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db_, s.c_str(), static_cast<int>(s.size()), &st, nullptr);
    while (rc == SQLITE_OK || rc == SQLITE_ROW) rc = sqlite3_step(st);  // reads every row
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE) {
      const std::string msg = sqlite3_errmsg(db_);
      exec("ROLLBACK");
      throw std::runtime_error(msg);
    }
  }
  exec("COMMIT");
}

}  // namespace qadj::bench
