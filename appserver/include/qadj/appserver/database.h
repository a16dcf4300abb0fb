// One interface for the databases behind the application server: SQLite (the
// embedded default, one file) and PostgreSQL (shared). A Database object is one
// session; it is used by one thread at a time. Text in and out is UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace qadj::appserver {

// A failure that the database reported; what() is its own description.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class ColumnKind { Text, Number, Date, DateTime };

struct ResultColumn {
  std::string name;  // as the database reports it
  ColumnKind kind = ColumnKind::Text;
  int width = 0;  // declared width of a text column, 0 when not declared
};

// null, UTF-8 text, or a number (Date and DateTime columns: an automation date).
using Cell = std::variant<std::monostate, std::string, double>;

struct ResultSet {
  std::vector<ResultColumn> columns;
  std::vector<std::vector<Cell>> rows;
};

class Database {
 public:
  virtual ~Database() = default;
  // "sqlite" or "postgresql".
  virtual std::string dialect() const = 0;
  // Runs one statement and returns its columns (also when there is no row) and rows.
  // Parameters are written $1, $2, ... and bound in order. Throws DatabaseError with
  // the database's description; refuses text holding several statements.
  virtual ResultSet query(std::string_view sql, const std::vector<Cell>& params = {}) = 0;
  // Runs one statement; returns the number of rows it changed. Throws as query().
  virtual std::int64_t execute(std::string_view sql, const std::vector<Cell>& params = {}) = 0;
  // Runs trusted text of several statements (schema scripts). Throws DatabaseError.
  virtual void executeScript(std::string_view sql) = 0;
  // Transaction control. Write: takes the database's write lock at once where that
  // matters (SQLite), so that a busy database is waited for up front. Private: the
  // transaction writes only session-private tables.
  enum class TxMode { Write, Private };
  virtual void begin(TxMode mode = TxMode::Write) = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;
  // False when the session to the server is lost and the object must be reopened.
  virtual bool healthy() const { return true; }
};

// Runs a body inside a transaction: commits when it returns, rolls back when it throws.
template <class F>
decltype(auto) inTransaction(Database& db, F&& body,
                             Database::TxMode mode = Database::TxMode::Write) {
  db.begin(mode);
  try {
    if constexpr (std::is_void_v<decltype(body())>) {
      body();
      db.commit();
    } else {
      auto r = body();
      db.commit();
      return r;
    }
  } catch (...) {
    db.rollback();
    throw;
  }
}

// How long a SQLite session waits for another session's write lock before it fails.
inline constexpr int kSqliteBusyTimeoutMs = 10000;

// Opens a session from a URL: "sqlite:PATH" (the file is created when missing) or
// "postgresql://..." / "postgres://..." (libpq connection URI). Throws DatabaseError
// when the URL is not understood or the database cannot be opened.
std::unique_ptr<Database> openDatabase(const std::string& url);

std::unique_ptr<Database> openSqlite(const std::string& path);
std::unique_ptr<Database> openPostgres(const std::string& conninfo);

}  // namespace qadj::appserver
