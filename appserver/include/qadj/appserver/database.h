// One interface for the databases behind the application server: SQLite (the
// embedded default, one file) and PostgreSQL (shared). A Database object is one
// session; it is used by one thread at a time. Text in and out is UTF-8.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "qadj/protocol/packet.h"

namespace qadj::appserver {

// A failure that the database reported; what() is its own description.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The URL names no database this user can use, whatever happens later: a scheme not
// understood, no file, a SQLite file that does not exist (OpenMode::Existing), or one
// that this user may not read and write (the file or its folder, where SQLite keeps its
// journal). Only the administrator can mend it; the daemon exits with its
// configuration status.
class UnusableDatabase : public DatabaseError {
 public:
  using DatabaseError::DatabaseError;
};

// The database chose this session's transaction as the victim of a conflict with other
// sessions (PostgreSQL: deadlock 40P01, serialization failure 40001) and rolled it back
// whole: running the same work again from its start is safe.
class TransactionConflict : public DatabaseError {
 public:
  using DatabaseError::DatabaseError;
};

// The connection to the database broke while a transaction was being committed: the
// database may or may not have committed it. The caller must not take it for a refusal.
class OutcomeUnknown : public DatabaseError {
 public:
  using DatabaseError::DatabaseError;
};

// A query whose result grew past the session's result limit; what() tells the
// operator to narrow the query.
class ResultTooLarge : public std::runtime_error {
 public:
  explicit ResultTooLarge(std::size_t limitBytes);
};

// The longest text value a query of the server returns, in bytes: a longer one fails
// the query with ResultTooLarge as soon as it is read.
inline constexpr std::size_t kMaxTextValueBytes = std::size_t{1} << 20;

// A query given up because the application server's memory for replies is taken by
// other calls (com::ChargeCallMemory); what() tells the operator to try again.
class ReplyMemoryFull : public std::runtime_error {
 public:
  ReplyMemoryFull();
};

// A statement stopped before it finished: it ran past the session's statement time
// limit, or the remote call it served was abandoned (Database::setStatementBounds).
// Whatever it had changed is undone.
class StatementCancelled : public DatabaseError {
 public:
  using DatabaseError::DatabaseError;
};

// How often a running statement asks whether its call was abandoned. Asking a remote
// call costs a poll of its transport, so a statement asks only once it has run this long.
inline constexpr int kAskAbandonedMs = 10;

// Default time limit of one statement run for a remote client: 30 s.
inline constexpr int kDefaultStatementTimeoutMs = 30000;

// Prepared statements a session keeps (the least recently used beyond are dropped): the
// window's statements and the server's own texts, with room for the lock statements of
// saves of different sizes.
inline constexpr std::size_t kPreparedStatementsKept = 64;

// Default largest result of one query: 64 MiB of values.
inline constexpr std::size_t kDefaultMaxResultBytes = std::size_t{64} << 20;

enum class ColumnKind { Text, Number, Date, DateTime };

struct ResultColumn {
  std::string name;  // as the database reports it
  ColumnKind kind = ColumnKind::Text;
  int width = 0;  // declared width of a text column, 0 when not declared
};

// null, UTF-8 text, or a number (Date and DateTime columns: an automation date): the
// packet's value, read before its text is the window's.
using Cell = packet::Value;

struct ResultSet {
  std::vector<ResultColumn> columns;
  std::vector<std::vector<Cell>> rows;
};

// A value of a row as a driver reads it: null, UTF-8 text, or a number (as in Cell). A
// text points into the driver's buffers: it is valid only during the RowReader::row
// call that receives it.
using CellView = std::variant<std::monostate, std::string_view, double>;

// The values of a held row, as a driver hands them over (valid while row is).
std::vector<CellView> viewsOf(const std::vector<Cell>& row);

// Takes a query's result as the driver reads it, for a caller that keeps no copy of its
// own (Database::queryInto). What it throws stops the query and reaches the caller.
class RowReader {
 public:
  virtual ~RowReader() = default;
  // Once, before the first row (also when there is none): each column's name, declared
  // width and kind. A SQLite expression column (no declared type) reads as Text here,
  // and its values come as they are, numbers as numbers.
  virtual void columns(const std::vector<ResultColumn>& columns) = 0;
  // The next row: a value per column.
  virtual void row(std::span<const CellView> values) = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  // "sqlite" or "postgresql".
  virtual std::string dialect() const = 0;
  // Runs one statement of the server's own and returns its columns (also when there is
  // no row) and rows. Parameters are written $1, $2, ... and bound in order. A session
  // prepares each text once and keeps the most recently used prepared statements
  // (kPreparedStatementsKept). Throws DatabaseError with the database's description;
  // refuses text holding several statements.
  virtual ResultSet query(std::string_view sql, const std::vector<Cell>& params = {}) = 0;
  // Runs one query alone in a read-only transaction: begin(ReadOnly), query(sql, params),
  // commit(). A driver may send the three to the server together, in one exchange.
  // Must not be called inside a transaction. Throws as query(); the transaction is over
  // when it returns or throws.
  virtual ResultSet readOnlyQuery(std::string_view sql, const std::vector<Cell>& params = {});
  // query() and readOnlyQuery() handing each row to reader as it is read instead of
  // holding the result; the result limit counts the rows all the same. Throws as they
  // do, and what reader throws (the statement is then stopped, the transaction of
  // readOnlyQueryInto over).
  virtual void queryInto(std::string_view sql, const std::vector<Cell>& params, RowReader& reader);
  virtual void readOnlyQueryInto(std::string_view sql, const std::vector<Cell>& params,
                                 RowReader& reader);
  // Runs one statement (prepared as query() does); returns the number of rows it
  // changed. Throws as query().
  virtual std::int64_t execute(std::string_view sql, const std::vector<Cell>& params = {}) = 0;
  // One statement of a batch: its text and parameters, as execute() takes them. rows,
  // when set, takes the statement's rows as queryInto() hands them over (the caller
  // keeps it alive); asClient runs it as a client's work (guardClientWork).
  struct Command {
    std::string_view sql;
    std::vector<Cell> params;
    RowReader* rows = nullptr;
    bool asClient = false;
  };
  // Inside the caller's transaction: runs commands in order, appending to changed the
  // number of rows each changed (0 for one that reads rows). A driver may send them to
  // the server together, in one exchange (PostgreSQL's pipeline). Each command runs as a
  // client's work or not as its asClient says, whatever the guard was before (it is off
  // afterwards). When commands[i] fails, throws what execute() or queryInto() throws for
  // it; changed then holds the counts of the i commands before it, the commands after
  // it are not run, and the caller must roll back.
  virtual void executeBatch(std::span<const Command> commands, std::vector<std::int64_t>& changed);
  // Runs trusted text of several statements (schema scripts). Throws DatabaseError.
  virtual void executeScript(std::string_view sql) = 0;
  // Transaction control. Write: takes the database's write lock at once where that
  // matters (SQLite), so that a busy database is waited for up front. Private: the
  // transaction writes only session-private tables.
  // ReadOnly: the transaction may not change data (PostgreSQL: READ ONLY).
  enum class TxMode { Write, Private, ReadOnly };
  virtual void begin(TxMode mode = TxMode::Write) = 0;
  virtual void commit() = 0;
  virtual void rollback() noexcept = 0;
  // False when the session to the server is lost and the object must be reopened.
  virtual bool healthy() const { return true; }
  // While on, statements run on a client's behalf (the server's statements for the
  // window's) and may do only what the window does: read, and update rows of existing
  // tables. A second line behind the statement templates: refused (DatabaseError naming
  // what was refused, when the statement is prepared) are ATTACH / DETACH, setting a
  // PRAGMA, creating, dropping or altering any schema object, REINDEX / ANALYZE, INSERT
  // or DELETE on the host's tables and any change of the server's own records; and from
  // query(), any statement that writes. SQLite enforces it; on PostgreSQL the role's
  // privileges do (see docs/access-control.md), so this is a no-op there.
  virtual void guardClientWork(bool on) { (void)on; }

  // A select-list item of a text column bounded before its value leaves the database
  // server: the item fails the query with ResultTooLarge(kMaxTextValueBytes) for a
  // longer value, else it is the column, with its declared type and width. SQLite
  // bounds every value itself (its length limit), so there it is column as it stands.
  virtual std::string boundedText(std::string_view column) const { return std::string(column); }

  // Largest result query() may build, counted in bytes of its values (text bytes, 8
  // for a number or date) as the rows are read; 0 means no limit. A query passing it
  // throws ResultTooLarge without reading further rows; so does a statement that would
  // build any one value larger than the limit, where the driver can tell before it
  // builds it (SQLite).
  virtual void setResultLimit(std::size_t bytes) { resultLimit_ = bytes; }
  std::size_t resultLimit() const { return resultLimit_; }

  // Bounds each statement that query() and execute() run: one running longer than
  // timeoutMs (0: no limit), or one for which abandoned answers true (asked on the
  // session's thread every kAskAbandonedMs while it runs, first when it has run that
  // long, so that quick statements never ask; may be empty), is stopped
  // and fails with StatementCancelled. Transaction control and scripts are not bounded.
  // Throws DatabaseError when the database refuses the setting.
  virtual void setStatementBounds(int timeoutMs, std::function<bool()> abandoned) {
    bound_.set(timeoutMs, std::move(abandoned));
  }

 protected:
  // The bound of the statement running now (setStatementBounds).
  class StatementBound {
   public:
    void set(int timeoutMs, std::function<bool()> abandoned);
    bool active() const { return timeoutMs_ > 0 || abandoned_ != nullptr; }
    int timeoutMs() const { return timeoutMs_; }
    // A statement starts: its time runs from now and no reason to stop is kept.
    void start();
    // True when the running statement must stop now; the reason is kept for error().
    // Cheap to call often: abandoned is asked at most every kAskAbandonedMs.
    bool expired();
    // True when expired() has said so since start().
    bool tripped() const { return why_ != Why::None; }
    // The failure of a statement stopped for the kept reason, or for running past the
    // limit when none is kept (the database stopped it by itself).
    StatementCancelled error() const;

   private:
    enum class Why { None, Timeout, Abandoned };
    int timeoutMs_ = 0;
    std::function<bool()> abandoned_;
    std::chrono::steady_clock::time_point deadline_{};
    std::chrono::steady_clock::time_point nextAsk_{};  // when abandoned is asked next
    Why why_ = Why::None;
  };
  StatementBound bound_;

  // The running size of one query's result against the session's limit.
  class ResultBudget {
   public:
    explicit ResultBudget(std::size_t limit) : limit_(limit) {}
    // Adds a row and charges its memory to the remote call (com::ChargeCallMemory);
    // throws ResultTooLarge when the total passes the limit, ReplyMemoryFull when the
    // call has no room for the row.
    void add(std::span<const CellView> row);

   private:
    std::size_t limit_, used_ = 0;
  };

  // The result of a driver's reading held whole, for query(): read hands the rows to
  // the reader it is given and returns the columns.
  template <class Read>
  static ResultSet collected(Read&& read) {
    ResultSet rs;
    RowCollector collect(rs.rows);
    rs.columns = read(collect);
    return rs;
  }

 private:
  // The reader behind collected(): holds every row in rows.
  class RowCollector final : public RowReader {
   public:
    explicit RowCollector(std::vector<std::vector<Cell>>& rows) : rows_(rows) {}
    void columns(const std::vector<ResultColumn>&) override {}
    void row(std::span<const CellView> values) override;

   private:
    std::vector<std::vector<Cell>>& rows_;
  };
  std::size_t resultLimit_ = 0;
};

// Statements run on a client's behalf (or, with on false, not) for the lifetime of the
// object; the guard is off afterwards (Database::guardClientWork).
class ClientWork {
 public:
  explicit ClientWork(Database& db, bool on = true) : db_(db) { db_.guardClientWork(on); }
  ~ClientWork() { db_.guardClientWork(false); }
  ClientWork(const ClientWork&) = delete;
  ClientWork& operator=(const ClientWork&) = delete;

 private:
  Database& db_;
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

inline ResultSet Database::readOnlyQuery(std::string_view sql, const std::vector<Cell>& params) {
  return inTransaction(
      *this, [&] { return query(sql, params); }, TxMode::ReadOnly);
}

inline void Database::readOnlyQueryInto(std::string_view sql, const std::vector<Cell>& params,
                                        RowReader& reader) {
  inTransaction(
      *this, [&] { queryInto(sql, params, reader); }, TxMode::ReadOnly);
}

// How long a save waits for other sessions' locks before it fails with
// busyMessage(bound): 5 s, long enough for every save queued behind others (each holds
// the lock for milliseconds), short enough for an operator to wait. SQLite: the busy
// timeout of every session; PostgreSQL: lock_timeout of write transactions.
inline constexpr int kBusyTimeoutMs = 5000;
inline constexpr int kSqliteBusyTimeoutMs = kBusyTimeoutMs;

// The description of a request that waited busyTimeoutMs for another session's lock in
// vain: "The database is busy: another session has held its write lock for more than
// 5 s; nothing was changed, please try again".
std::string busyMessage(int busyTimeoutMs);

// The file of an "sqlite:PATH" (or "sqlite://PATH") URL; nullopt for other URLs.
std::optional<std::string> sqlitePathOf(const std::string& url);

// Whether opening a SQLite database may create its file. Only what makes a database
// creates one (--init-schema, --init-demo, the demo's seeding); the daemon and the
// journal open what exists, so a mistyped path is an error naming the path, never a
// new empty database.
enum class OpenMode { Create, Existing };

// Opens a session from a URL: "sqlite:PATH" (the file created when missing if mode
// allows), "postgresql://..." / "postgres://..." (libpq connection URI) or libpq's
// keyword form ("host=a,b dbname=q target_session_attrs=read-write"; any text with
// "=" that is not a sqlite: URL). Several hosts are libpq's to try in turn. Throws
// UnusableDatabase when the URL is not understood, names no file, a SQLite file that is
// missing where it may not be created or one this user may not read and write; DatabaseError when
// the database cannot be opened.
std::unique_ptr<Database> openDatabase(const std::string& url, OpenMode mode = OpenMode::Create);

// busyTimeoutMs: how long a request waits for another session's write lock.
std::unique_ptr<Database> openSqlite(const std::string& path,
                                     int busyTimeoutMs = kSqliteBusyTimeoutMs,
                                     OpenMode mode = OpenMode::Create);
std::unique_ptr<Database> openPostgres(const std::string& conninfo);

}  // namespace qadj::appserver
