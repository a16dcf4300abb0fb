// The SQLite session: Oracle-dialect functions installed per connection, column types
// from declared types (expressions from their values), statements prepared once.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>

#include "qadj/appserver/database.h"
#include "qadj/appserver/dates.h"
#include "qadj/platform/number_text.h"
#include "statement_cache.h"

namespace qadj::appserver {
namespace {

// What all SQLite sessions of the process hold at most in page caches and statements
// before SQLite gives cache pages back (a soft limit: a statement never fails for it).
constexpr sqlite3_int64 kSqliteHeapBytes = 32 << 20;

std::string upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// ResultColumn from a declared column type such as "VARCHAR(8)" or "DOUBLE PRECISION".
bool kindFromDecltype(const char* decl, ResultColumn& col) {
  if (!decl || !*decl) return false;
  const std::string t = upper(decl);
  if (t.find("TIMESTAMP") != std::string::npos || t.find("DATETIME") != std::string::npos) {
    col.kind = ColumnKind::DateTime;
  } else if (t == "DATE") {
    col.kind = ColumnKind::Date;
  } else if (t.find("CHAR") != std::string::npos || t.find("TEXT") != std::string::npos ||
             t.find("CLOB") != std::string::npos) {
    col.kind = ColumnKind::Text;
    const auto open = t.find('(');
    if (open != std::string::npos) col.width = std::atoi(t.c_str() + open + 1);
  } else {
    col.kind = ColumnKind::Number;
  }
  return true;
}

// The last day TRUNC worked out on a connection, its user data: a join calls it on the
// same few document dates once per row (the function is pure).
struct DayMemo {
  std::string text, day;
};

// TRUNC(date-time) → the day at 00:00 as "YYYY-MM-DD 00:00:00"; TRUNC(number[, digits])
// → the number truncated toward zero.
void truncFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const int type = sqlite3_value_type(argv[0]);
  if (type == SQLITE_NULL || (argc == 2 && sqlite3_value_type(argv[1]) == SQLITE_NULL)) {
    sqlite3_result_null(ctx);
    return;
  }
  if (type == SQLITE_INTEGER && argc == 1) {
    sqlite3_result_int64(ctx, sqlite3_value_int64(argv[0]));
    return;
  }
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    const double scale = argc == 2 ? std::pow(10.0, sqlite3_value_int(argv[1])) : 1.0;
    sqlite3_result_double(ctx, std::trunc(sqlite3_value_double(argv[0]) * scale) / scale);
    return;
  }
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const std::string_view text(p ? p : "");
  DayMemo& memo = *static_cast<DayMemo*>(sqlite3_user_data(ctx));
  if (argc == 1 && !memo.text.empty() && memo.text == text) {
    sqlite3_result_text(ctx, memo.day.c_str(), static_cast<int>(memo.day.size()), SQLITE_TRANSIENT);
    return;
  }
  const auto parsed = dates::parseTimestamp(text);
  if (!parsed || argc != 1) {
    const std::string msg = "TRUNC: '" + std::string(text) + "' is not a date";
    sqlite3_result_error(ctx, msg.c_str(), -1);
    return;
  }
  memo.day = dates::formatDate(*parsed) + " 00:00:00";
  memo.text = text;
  sqlite3_result_text(ctx, memo.day.c_str(), static_cast<int>(memo.day.size()), SQLITE_TRANSIENT);
}

// TO_DATE(text, mask) → "YYYY-MM-DD HH:MM:SS".
void toDateFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const auto* mask = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  try {
    const std::string out = dates::formatTimestamp(dates::toDate(text, mask));
    sqlite3_result_text(ctx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// The error of a failed call: the busy description when another session's write lock
// was waited for in vain, else SQLite's own message.
DatabaseError failure(sqlite3* db, int rc, int busyTimeoutMs) {
  if (rc == SQLITE_BUSY) return DatabaseError(busyMessage(busyTimeoutMs));
  return DatabaseError(sqlite3_errmsg(db));
}

// A prepared statement of the session's cache while it runs: bound, stepped, and
// reset (bindings cleared) when done, so that it holds no lock and no value after.
class Running {
 public:
  Running(sqlite3* db, sqlite3_stmt* stmt, int busyTimeoutMs)
      : db_(db), stmt_(stmt), busyTimeoutMs_(busyTimeoutMs) {}
  ~Running() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

  void bind(const std::vector<Cell>& params) {
    for (std::size_t i = 0; i < params.size(); ++i) {
      const std::string name = "$" + std::to_string(i + 1);
      const int index = sqlite3_bind_parameter_index(stmt_, name.c_str());
      if (index == 0) throw DatabaseError("statement has no parameter " + name);
      int rc;
      if (const auto* s = std::get_if<std::string>(&params[i]))
        rc = sqlite3_bind_text(stmt_, index, s->data(), static_cast<int>(s->size()),
                               SQLITE_TRANSIENT);
      else if (const auto* d = std::get_if<double>(&params[i]))
        rc = sqlite3_bind_double(stmt_, index, *d);
      else
        rc = sqlite3_bind_null(stmt_, index);
      if (rc != SQLITE_OK) throw DatabaseError(sqlite3_errmsg(db_));
    }
  }
  // Returns true while a row is ready.
  bool step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    // A value grew past the session's length limit, which is its result limit.
    if (rc == SQLITE_TOOBIG)
      throw ResultTooLarge(static_cast<std::size_t>(sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1)));
    throw failure(db_, rc, busyTimeoutMs_);
  }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  int busyTimeoutMs_;
};

// The value of column i of the current row as its column's kind wants it; a text points
// into the statement's buffer.
CellView readCell(sqlite3_stmt* st, int i, const ResultColumn& col) {
  const int type = sqlite3_column_type(st, i);
  if (type == SQLITE_NULL) return {};
  const auto textOf = [&] {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
    return std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
  };
  switch (col.kind) {
    case ColumnKind::Text:
      return textOf();
    case ColumnKind::Number: {
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) return sqlite3_column_double(st, i);
      const std::string_view s = textOf();
      const auto v = numbers::parseDecimal(s);
      if (!v)
        throw DatabaseError("column " + col.name + ": '" + std::string(s) + "' is not a number");
      return *v;
    }
    case ColumnKind::Date:
    case ColumnKind::DateTime: {
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) return sqlite3_column_double(st, i);
      const std::string_view s = textOf();
      const auto v = dates::parseTimestamp(s);
      if (!v)
        throw DatabaseError("column " + col.name + ": '" + std::string(s) + "' is not a date");
      return *v;
    }
  }
  return {};
}

bool sameName(const char* a, std::string_view b) {
  return a && std::strlen(a) == b.size() &&
         sqlite3_strnicmp(a, b.data(), static_cast<int>(b.size())) == 0;
}

// The host's tables, which a client may read and update but not fill or empty.
bool hostTable(const char* name) {
  for (const char* t : {"GSTRYGL0", "GSTJYGL1", "XSTXLGL1", "XSTXLGL01", "XSTFXDD0"})
    if (sameName(name, t)) return true;
  return false;
}

// The server's own records (save ids, journal): no client text may change them.
bool serverRecord(const char* name) {
  return name && sqlite3_strnicmp(name, "QADJ_", 5) == 0;
}

// What a client's work may do (Database::guardClientWork), decided as SQLite prepares
// each statement. `refusal` keeps why the last statement was refused.
struct ClientGuard {
  bool on = false;
  std::string refusal;
};

int authorizeClientWork(void* data, int action, const char* a, const char* b, const char*,
                        const char*) {
  auto& guard = *static_cast<ClientGuard*>(data);
  if (!guard.on) return SQLITE_OK;
  std::string why;
  switch (action) {
    case SQLITE_ATTACH:
    case SQLITE_DETACH:
      why = "ATTACH, DETACH and VACUUM INTO are not allowed";
      break;
    case SQLITE_PRAGMA:
      if (b) why = std::string("PRAGMA ") + (a ? a : "") + " may not be set";
      break;
    case SQLITE_INSERT:
    case SQLITE_DELETE:
      if (hostTable(a) || serverRecord(a))
        why = std::string(action == SQLITE_INSERT ? "INSERT into " : "DELETE from ") + a +
              " is not allowed: the window only updates quota lines";
      break;
    case SQLITE_UPDATE:
      if (serverRecord(a)) why = std::string("the server's records (") + a + ") are not changed";
      break;
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_FUNCTION:
    case SQLITE_RECURSIVE:
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
      break;
    default:  // creating, dropping, altering, REINDEX, ANALYZE, virtual tables
      why = "changing the database's schema is not allowed";
      break;
  }
  if (why.empty()) return SQLITE_OK;
  guard.refusal = "The statement is refused: " + why;
  return SQLITE_DENY;
}

// fts3_tokenizer('simple') answers the address of a tokenizer module inside the server
// process: no statement of this server needs it, and a session answers it with an error.
void refuseFts3Tokenizer(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_error(ctx, "fts3_tokenizer is not available", -1);
}

// A database file that this user cannot write (or whose folder, where SQLite keeps its
// journal, it cannot write) fails with a cause and a fix the administrator can act on,
// not with SQLite's "attempt to write a readonly database" at the first save.
void requireWritable(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  for (const auto& [what, name, mode] :
       {std::tuple{"SQLite database", path, R_OK | W_OK}, {"folder", folder, W_OK | X_OK}}) {
    if (::access(name.c_str(), mode) == 0) continue;
    throw UnusableDatabase("the " + std::string(what) + " " + name +
                           " cannot be read and written by this user (" + std::strerror(errno) +
                           "): make the daemon's user its owner, e.g. chown qadj " + name);
  }
}

class SqliteDatabase final : public Database {
 public:
  SqliteDatabase(const std::string& path, int busyTimeoutMs, OpenMode mode)
      : busyTimeoutMs_(busyTimeoutMs) {
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    const bool missing = !existed && errno == ENOENT;
    if (mode == OpenMode::Existing && missing)
      throw UnusableDatabase("there is no SQLite database at " + path +
                             ": check the path (only qadj-appserver --init-schema or --init-demo, "
                             "or mis-host --seed-demo, make a new one)");
    if (!missing) requireWritable(path);  // also one this user cannot even see
    // Every session keeps a page cache of its own; together they stay within
    // kSqliteHeapBytes, however many sessions the clients open.
    sqlite3_soft_heap_limit64(kSqliteHeapBytes);
    const int create = mode == OpenMode::Create ? SQLITE_OPEN_CREATE : 0;
    const int rc = sqlite3_open_v2(path.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | create | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw DatabaseError("cannot open SQLite database '" + path + "': " + msg);
    }
    // A new database holds the company's quotas: private to the user who made it,
    // whatever the umask (its WAL and shared-memory files take the same mode).
    if (!existed) ::chmod(path.c_str(), S_IRUSR | S_IWUSR);
    sqlite3_extended_result_codes(db_, 0);
    sqlite3_busy_timeout(db_, busyTimeoutMs_);
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    for (const int args : {1, 2})
      sqlite3_create_function_v2(db_, "TRUNC", args, flags, &dayMemo_, truncFn, nullptr, nullptr,
                                 nullptr);
    sqlite3_create_function_v2(db_, "TO_DATE", 2, flags, nullptr, toDateFn, nullptr, nullptr,
                               nullptr);
    // Defensive: no statement can corrupt the file on purpose (writing the schema
    // table, shadow tables, or pages behind SQLite's back).
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_set_authorizer(db_, authorizeClientWork, &guard_);
    for (const int args : {1, 2})
      sqlite3_create_function_v2(db_, "fts3_tokenizer", args, SQLITE_UTF8, nullptr,
                                 refuseFts3Tokenizer, nullptr, nullptr, nullptr);
    try {
      executeScript("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;");
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteDatabase() override {
    prepared_.clear();
    sqlite3_close(db_);
  }

  std::string dialect() const override { return "sqlite"; }

  ResultSet query(std::string_view text, const std::vector<Cell>& params) override {
    return collected(
        [&](RowReader& rows) { return bounded([&] { return run(text, params, rows); }); });
  }
  void queryInto(std::string_view text, const std::vector<Cell>& params,
                 RowReader& reader) override {
    bounded([&] { return run(text, params, reader); });
  }

  std::int64_t execute(std::string_view text, const std::vector<Cell>& params) override {
    return bounded([&] {
      Running st(db_, prepared(text), busyTimeoutMs_);
      st.bind(params);
      while (st.step()) {
      }
      return sqlite3_changes64(db_);
    });
  }

  // No string or blob may grow past the result limit either: SQLite builds a value whole
  // (randomblob, zeroblob, printf widths, concatenation) before the result counts it.
  void setResultLimit(std::size_t bytes) override {
    Database::setResultLimit(bytes);
    if (defaultLength_ < 0) defaultLength_ = sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, -1);
    const auto cap = static_cast<std::size_t>(defaultLength_);
    sqlite3_limit(db_, SQLITE_LIMIT_LENGTH,
                  static_cast<int>(bytes == 0 || bytes > cap ? cap : bytes));
  }

  void setStatementBounds(int timeoutMs, std::function<bool()> abandoned) override {
    Database::setStatementBounds(timeoutMs, std::move(abandoned));
    // SQLite asks every kProgressSteps virtual-machine steps (well under a millisecond)
    // whether to go on.
    constexpr int kProgressSteps = 4000;
    if (bound_.active())
      sqlite3_progress_handler(db_, kProgressSteps, goOn, this);
    else
      sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  }

  void executeScript(std::string_view text) override {
    char* err = nullptr;
    if (const int rc = sqlite3_exec(db_, std::string(text).c_str(), nullptr, nullptr, &err);
        rc != SQLITE_OK) {
      std::string msg = rc == SQLITE_BUSY ? busyMessage(busyTimeoutMs_)
                        : err             ? err
                                          : sqlite3_errmsg(db_);
      sqlite3_free(err);
      throw DatabaseError(msg);
    }
  }

  void begin(TxMode mode) override {
    executeScript(mode == TxMode::Write ? "BEGIN IMMEDIATE" : "BEGIN");
  }
  void commit() override { executeScript("COMMIT"); }
  void rollback() noexcept override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  void guardClientWork(bool on) override { guard_.on = on; }

 private:
  // Runs one statement's work under the statement bound: a statement the progress
  // handler stopped fails with the bound's reason (SQLite has rolled back what it did).
  template <class F>
  std::invoke_result_t<F&> bounded(F&& work) {
    armed_ = bound_.active();
    bound_.start();
    try {
      auto r = work();
      armed_ = false;
      return r;
    } catch (const DatabaseError&) {
      armed_ = false;
      if (bound_.tripped()) throw bound_.error();
      throw;
    } catch (...) {
      armed_ = false;
      throw;
    }
  }
  static int goOn(void* self) {
    auto& db = *static_cast<SqliteDatabase*>(self);
    return db.armed_ && db.bound_.expired() ? 1 : 0;
  }
  // The query itself (query() and queryInto() bound it): hands the rows to reader and
  // returns the columns, an expression column's kind as its first value that is not
  // null has it.
  std::vector<ResultColumn> run(std::string_view text, const std::vector<Cell>& params,
                                RowReader& reader) {
    Running st(db_, prepared(text), busyTimeoutMs_);
    if (guard_.on && !sqlite3_stmt_readonly(st.get()))
      throw DatabaseError("The statement is refused: a query may only read");
    st.bind(params);
    const auto n = static_cast<std::size_t>(sqlite3_column_count(st.get()));
    std::vector<ResultColumn> columns(n);
    // An expression column (no declared type) is typed by its first value that is not
    // null; until then it reads as text, which it holds none of.
    std::vector<char> pending(n);
    std::size_t stillPending = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const int c = static_cast<int>(i);
      const char* name = sqlite3_column_name(st.get(), c);
      columns[i].name = name ? name : "";
      pending[i] = !kindFromDecltype(sqlite3_column_decltype(st.get(), c), columns[i]);
      stillPending += pending[i];
    }
    reader.columns(columns);
    ResultBudget budget(resultLimit());
    std::vector<CellView> row(n);
    while (st.step()) {
      for (std::size_t i = 0; i < n; ++i) {
        const int c = static_cast<int>(i);
        if (stillPending && pending[i]) {
          const int t = sqlite3_column_type(st.get(), c);
          if (t != SQLITE_NULL) {
            columns[i].kind =
                (t == SQLITE_INTEGER || t == SQLITE_FLOAT) ? ColumnKind::Number : ColumnKind::Text;
            pending[i] = false;
            --stillPending;
          }
        }
        row[i] = readCell(st.get(), c, columns[i]);
      }
      budget.add(row);
      reader.row(row);
    }
    return columns;
  }

  // The session's prepared statement of text, prepared now if it has none. A statement
  // prepared while the guard is on was prepared under it (the authorizer decides as a
  // statement is prepared): it is kept apart from the same text prepared without it.
  // A statement the guard refused fails with the guard's reason.
  sqlite3_stmt* prepared(std::string_view text) {
    std::string key(1, guard_.on ? 'G' : 'S');
    key += text;
    if (sqlite3_stmt** kept = prepared_.find(key)) return *kept;
    guard_.refusal.clear();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (const int rc = sqlite3_prepare_v3(db_, text.data(), static_cast<int>(text.size()),
                                          SQLITE_PREPARE_PERSISTENT, &stmt, &tail);
        rc != SQLITE_OK) {
      if (!guard_.refusal.empty()) throw DatabaseError(guard_.refusal);
      throw failure(db_, rc, busyTimeoutMs_);
    }
    if (!stmt) throw DatabaseError("empty statement");
    const std::string_view rest(tail, static_cast<std::size_t>(text.data() + text.size() - tail));
    if (rest.find_first_not_of(" \t\r\n;") != std::string_view::npos) {
      sqlite3_finalize(stmt);
      throw DatabaseError("only one statement may be sent at a time");
    }
    return prepared_.insert(std::move(key), stmt);
  }

  sqlite3* db_ = nullptr;
  int busyTimeoutMs_;
  ClientGuard guard_;
  DayMemo dayMemo_;  // TRUNC's, for this connection
  StatementCache<sqlite3_stmt*> prepared_{kPreparedStatementsKept,
                                          [](sqlite3_stmt*& st) { sqlite3_finalize(st); }};
  bool armed_ = false;      // a bounded statement is running
  int defaultLength_ = -1;  // SQLite's own length limit, once the result limit is set
};

}  // namespace

std::string busyMessage(int busyTimeoutMs) {
  const std::string bound = busyTimeoutMs % 1000 == 0 ? std::to_string(busyTimeoutMs / 1000) + " s"
                                                      : std::to_string(busyTimeoutMs) + " ms";
  return "The database is busy: another session has held its write lock for more than " + bound +
         "; nothing was changed, please try again";
}

std::unique_ptr<Database> openSqlite(const std::string& path, int busyTimeoutMs, OpenMode mode) {
  return std::make_unique<SqliteDatabase>(path, busyTimeoutMs, mode);
}

std::optional<std::string> sqlitePathOf(const std::string& url) {
  if (url.rfind("sqlite:", 0) != 0) return std::nullopt;
  std::string path = url.substr(7);
  if (path.rfind("//", 0) == 0) path = path.substr(2);  // sqlite:///abs/path
  return path;
}

std::unique_ptr<Database> openDatabase(const std::string& url, OpenMode mode) {
  if (const auto path = sqlitePathOf(url)) {
    if (path->empty()) throw UnusableDatabase("database URL '" + url + "' names no file");
    return openSqlite(*path, kSqliteBusyTimeoutMs, mode);
  }
  // libpq's connection URI, or its keyword form ("host=a,b dbname=q ...").
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0 ||
      url.find('=') != std::string::npos)
    return openPostgres(url);
  throw UnusableDatabase("database URL '" + url +
                         "' is not understood: use sqlite:PATH, postgresql://... or "
                         "host=... dbname=...");
}

}  // namespace qadj::appserver
