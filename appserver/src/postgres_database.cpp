// The PostgreSQL session (libpq): UTF-8 client encoding, ISO dates, the server's
// statements prepared once per session (named prepared statements of the extended
// protocol) and run with their parameters bound.
#include <libpq-fe.h>
#include <poll.h>

#include <array>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "qadj/appserver/database.h"
#include "qadj/appserver/dates.h"
#include "statement_cache.h"

namespace qadj::appserver {
namespace {

// What one sort or hash of a session may take before it spills to a temporary file.
constexpr const char* kWorkMem = "4MB";

// Type identifiers of the built-in types (pg_type.oid).
enum : Oid {
  kBool = 16,
  kInt8 = 20,
  kInt2 = 21,
  kInt4 = 23,
  kOidType = 26,
  kFloat4 = 700,
  kFloat8 = 701,
  kBpchar = 1042,
  kVarchar = 1043,
  kDate = 1082,
  kTimestamp = 1114,
  kTimestamptz = 1184,
  kNumeric = 1700,
};

ColumnKind kindOf(Oid type) {
  switch (type) {
    case kInt8:
    case kInt2:
    case kInt4:
    case kOidType:
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return ColumnKind::Number;
    case kDate:
      return ColumnKind::Date;
    case kTimestamp:
    case kTimestamptz:
      return ColumnKind::DateTime;
    default:
      return ColumnKind::Text;  // text, varchar, bpchar and everything else as text
  }
}

class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  PGresult* get() const { return r_; }

 private:
  PGresult* r_;
};

std::string describe(PGconn* conn, PGresult* res) {
  if (res) {
    if (const char* primary = PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY)) return primary;
  }
  std::string msg = PQerrorMessage(conn);
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  return msg.empty() ? "database request failed" : msg;
}

// What a bounded text column (boundedText) fails with: PostgreSQL has no function that
// raises an error, so the item casts this text (made non-constant by an empty part of the
// value, so that the planner cannot fold it) to an integer.
constexpr std::string_view kTooLongMarker = "qadj: a text value too long to send";

// Throws the error of a failed result: TransactionConflict when the server rolled the
// transaction back as a deadlock victim (40P01) or for a serialization failure (40001),
// ResultTooLarge for a bounded text column's value too long, else DatabaseError.
[[noreturn]] void fail(PGconn* conn, PGresult* res) {
  const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
  const std::string code = state ? state : "";
  if (code == "22P02" && describe(conn, res).find(kTooLongMarker) != std::string::npos)
    throw ResultTooLarge(kMaxTextValueBytes);
  if (code == "40P01" || code == "40001") throw TransactionConflict(describe(conn, res));
  if (code == "55P03") throw DatabaseError(busyMessage(kBusyTimeoutMs));  // lock_timeout
  throw DatabaseError(describe(conn, res));
}

// The value of a cell as its column's kind wants it; a text points into res.
CellView readCell(PGresult* res, int row, int col, const ResultColumn& rc, Oid type) {
  if (PQgetisnull(res, row, col)) return {};
  const char* v = PQgetvalue(res, row, col);
  switch (rc.kind) {
    case ColumnKind::Text:
      if (type == kBool) return std::string_view(v[0] == 't' ? "T" : "F");
      return std::string_view(v, static_cast<std::size_t>(PQgetlength(res, row, col)));
    case ColumnKind::Number:
      return std::strtod(v, nullptr);  // the server's own text of a number, NaN among them
    case ColumnKind::Date:
    case ColumnKind::DateTime: {
      // ISO output; a time zone suffix (timestamptz) is dropped: local wall time.
      std::string s(v);
      const auto zone = s.find_first_of("+-", 19);
      if (zone != std::string::npos && s.size() > 19) s.resize(zone);
      const auto d = dates::parseTimestamp(s);
      if (!d) throw DatabaseError("column " + rc.name + ": '" + s + "' is not a date");
      return *d;
    }
  }
  return {};
}

// Parameters in libpq's text form (null pointer for null). A text points into params,
// which must outlive the object; a number is written as the shortest text that reads
// back as the same double.
struct TextParams {
  explicit TextParams(const std::vector<Cell>& params) : pointers(params.size(), nullptr) {
    numbers.reserve(params.size());  // pointers into it stay valid
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (const auto* s = std::get_if<std::string>(&params[i])) {
        pointers[i] = s->c_str();
      } else if (const auto* d = std::get_if<double>(&params[i])) {
        std::array<char, 32> text{};  // the longest shortest form has 24 characters
        std::to_chars(text.data(), text.data() + text.size() - 1, *d);
        pointers[i] = numbers.emplace_back(text).data();
      }
    }
  }
  std::vector<std::array<char, 32>> numbers;
  std::vector<const char*> pointers;
};

// Column names, kinds and declared text widths of a result.
void describeColumns(PGresult* res, std::vector<ResultColumn>& columns, std::vector<Oid>& types) {
  const int n = PQnfields(res);
  columns.resize(static_cast<std::size_t>(n));
  types.resize(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    auto& col = columns[static_cast<std::size_t>(i)];
    col.name = PQfname(res, i);
    const Oid type = PQftype(res, i);
    types[static_cast<std::size_t>(i)] = type;
    col.kind = kindOf(type);
    const int mod = PQfmod(res, i);
    if ((type == kVarchar || type == kBpchar) && mod > 4) col.width = mod - 4;
  }
}

class PostgresDatabase final : public Database {
 public:
  explicit PostgresDatabase(const std::string& conninfo) : conn_(PQconnectdb(conninfo.c_str())) {
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      const std::string msg = conn_ ? describe(conn_, nullptr) : "out of memory";
      PQfinish(conn_);
      throw DatabaseError("cannot connect to PostgreSQL: " + msg);
    }
    PQsetClientEncoding(conn_, "UTF8");
    try {
      // Backslashes in string literals are plain characters, as in SQLite and Oracle.
      // Whatever the role's or database's defaults say, a session waits for a lock at
      // most as long as a save would, and sorts and hashes within a fixed memory.
      executeScript(
          "SET DateStyle TO ISO, YMD; SET client_min_messages TO warning; "
          "SET standard_conforming_strings TO on; SET lock_timeout = " +
          std::to_string(kBusyTimeoutMs) + "; SET work_mem = '" + kWorkMem + "'");
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }
  ~PostgresDatabase() override {
    connectionLost_ = true;  // the session ends with the connection: nothing to deallocate
    prepared_.clear();
    PQfinish(conn_);
  }

  std::string dialect() const override { return "postgresql"; }

  // Both branches are the column, so the item keeps its type and declared width (a CASE
  // of one typmod keeps it); the condition reads the value's size without its bytes.
  std::string boundedText(std::string_view column) const override {
    const std::string c(column);
    return "CASE WHEN octet_length(" + c + ") > " + std::to_string(kMaxTextValueBytes) + " AND ('" +
           std::string(kTooLongMarker) + "' || substr(" + c + ", 1, 0))::int = 0" + " THEN " + c +
           " ELSE " + c + " END";
  }
  bool healthy() const override { return PQstatus(conn_) == CONNECTION_OK; }

  // Rows are taken one at a time (libpq's single-row mode), so that a result over the
  // session's limit is stopped before it is held in memory whole.
  ResultSet query(std::string_view text, const std::vector<Cell>& params) override {
    return collected([&](RowReader& rows) { return stream(text, params, rows); });
  }
  void queryInto(std::string_view text, const std::vector<Cell>& params,
                 RowReader& reader) override {
    stream(text, params, reader);
  }

  // BEGIN READ ONLY, the query and COMMIT go to the server together, as one pipeline: one
  // round trip instead of three. The rows are read as query() reads them; when anything
  // fails, the server skips what follows it and the transaction is rolled back here.
  ResultSet readOnlyQuery(std::string_view text, const std::vector<Cell>& params) override {
    return collected([&](RowReader& rows) { return streamReadOnly(text, params, rows); });
  }
  void readOnlyQueryInto(std::string_view text, const std::vector<Cell>& params,
                         RowReader& reader) override {
    streamReadOnly(text, params, reader);
  }

  std::int64_t execute(std::string_view text, const std::vector<Cell>& params) override {
    Result res(run(text, params));
    return rowsChanged(res.get());
  }

  // The commands go to the server together, as one pipeline inside the open
  // transaction: one round trip instead of one a command. All are sent before any answer
  // is read (libpq takes in the answers that arrive while it still sends). After a
  // failure the server skips the rest up to the sync point, and the transaction stays
  // failed until the caller rolls it back.
  void executeBatch(std::span<const Command> commands,
                    std::vector<std::int64_t>& changed) override {
    assert(PQtransactionStatus(conn_) == PQTRANS_INTRANS);
    requireConnection();
    // Prepared before the pipeline (preparing waits). A batch has a few texts, far fewer
    // than the session keeps, so preparing one never drops another of the batch.
    std::vector<std::string> names;
    names.reserve(commands.size());
    for (const Command& c : commands) names.push_back(prepared(c.sql));
    sendPipeline([&] {
      for (std::size_t i = 0; i < commands.size(); ++i)
        if (!sendPrepared(names[i], TextParams(commands[i].params))) return false;
      return true;
    });
    std::exception_ptr failure;
    for (const Command& c : commands) {
      bound_.start();  // each statement has the time of one
      std::int64_t rows = 0;
      if (c.rows) {
        PQsetSingleRowMode(conn_);
        readRows(*c.rows, failure);
      } else {
        rows = readCommand(failure);
      }
      if (!failure) changed.push_back(rows);
    }
    endPipeline();
    if (failure) std::rethrow_exception(failure);
  }

  void executeScript(std::string_view text) override {
    Result res(PQexec(conn_, std::string(text).c_str()));
    if (!ok(res.get())) fail(conn_, res.get());
  }

  // A write transaction waits at most kBusyTimeoutMs for a lock. A save then locks the
  // quota lines it touches, in one order (SaveChecks), before its first UPDATE.
  void begin(TxMode mode) override {
    if (mode != TxMode::Write) {
      executeScript(mode == TxMode::ReadOnly ? "BEGIN READ ONLY" : "BEGIN");
      return;
    }
    try {  // the transaction and its wait limit in one round trip
      executeScript("BEGIN; SET LOCAL lock_timeout = " + std::to_string(kBusyTimeoutMs));
    } catch (...) {
      rollback();
      throw;
    }
  }
  void commit() override { executeScript("COMMIT"); }
  void rollback() noexcept override {
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) PQclear(PQexec(conn_, "ROLLBACK"));
  }

  // The server stops a statement at the limit itself (statement_timeout); an abandoned
  // call's statement is cancelled from here (nextResult).
  void setStatementBounds(int timeoutMs, std::function<bool()> abandoned) override {
    executeScript("SET statement_timeout = " + std::to_string(timeoutMs));
    Database::setStatementBounds(timeoutMs, std::move(abandoned));
  }

 private:
  static std::int64_t rowsChanged(PGresult* res) {
    const char* n = PQcmdTuples(res);
    return n && *n ? std::strtoll(n, nullptr, 10) : 0;
  }

  bool ok(PGresult* res) const {
    const auto st = PQresultStatus(res);
    return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
  }

  void requireConnection() const {
    if (PQstatus(conn_) != CONNECTION_OK) throw DatabaseError("the database connection was lost");
  }

  // Sends one statement with the extended protocol; false when libpq refused to.
  bool sendQuery(const std::string& text, const TextParams& params) {
    return PQsendQueryParams(conn_, text.c_str(), static_cast<int>(params.pointers.size()), nullptr,
                             params.pointers.data(), nullptr, nullptr, 0) == 1;
  }
  // Sends a prepared statement with its parameters; false when libpq refused to.
  bool sendPrepared(const std::string& name, const TextParams& params) {
    return PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(params.pointers.size()),
                               params.pointers.data(), nullptr, nullptr, 0) == 1;
  }

  // The name of the session's prepared statement of text, prepared now (one round
  // trip) if it has none. Prepared statements outlive the transactions they were
  // prepared in.
  const std::string& prepared(std::string_view text) {
    if (const std::string* kept = prepared_.find(text)) return *kept;
    std::string name = "qadj_" + std::to_string(++preparedCount_);
    Result res(PQprepare(conn_, name.c_str(), std::string(text).c_str(), 0, nullptr));
    if (!ok(res.get())) fail(conn_, res.get());
    return prepared_.insert(std::string(text), std::move(name));
  }

  // One query, its rows handed to reader; returns its columns.
  std::vector<ResultColumn> stream(std::string_view text, const std::vector<Cell>& params,
                                   RowReader& reader) {
    requireConnection();
    const TextParams values(params);
    if (!sendPrepared(prepared(text), values)) throw DatabaseError(describe(conn_, nullptr));
    bound_.start();
    PQsetSingleRowMode(conn_);
    std::exception_ptr failure;
    std::vector<ResultColumn> columns = readRows(reader, failure);
    if (failure) std::rethrow_exception(failure);
    return columns;
  }

  // readOnlyQuery's pipeline, its rows handed to reader; returns its columns.
  std::vector<ResultColumn> streamReadOnly(std::string_view text, const std::vector<Cell>& params,
                                           RowReader& reader) {
    assert(PQtransactionStatus(conn_) == PQTRANS_IDLE);
    requireConnection();
    const TextParams values(params);
    const TextParams none({});
    const std::string& name = prepared(text);  // before the pipeline: preparing waits
    sendPipeline([&] {
      return sendQuery("BEGIN READ ONLY", none) && sendPrepared(name, values) &&
             sendQuery("COMMIT", none);
    });
    std::exception_ptr failure;
    readCommand(failure);  // BEGIN
    PQsetSingleRowMode(conn_);
    std::vector<ResultColumn> columns = readRows(reader, failure);
    readCommand(failure);  // COMMIT
    endPipeline();
    if (failure) {
      rollback();
      std::rethrow_exception(failure);
    }
    return columns;
  }

  // Reads the results of the statement being received, up to its end, handing each row
  // to reader; keeps the first failure in `failure` (the rest is then only drained).
  // Returns the columns.
  std::vector<ResultColumn> readRows(RowReader& reader, std::exception_ptr& failure) {
    std::vector<ResultColumn> columns;
    std::vector<Oid> types;
    std::vector<CellView> row;
    bool described = false;
    ResultBudget budget(resultLimit());
    for (bool answered = false;; answered = true) {
      Result res(nextResult());
      if (!res.get()) {
        if (!answered) keepLoss(failure);
        break;
      }
      const auto st = PQresultStatus(res.get());
      if (st != PGRES_SINGLE_TUPLE && st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) {
        keepFailure(res.get(), failure);
        continue;
      }
      if (failure) continue;
      try {
        if (!described) {
          describeColumns(res.get(), columns, types);
          described = true;
          row.resize(columns.size());
          reader.columns(columns);
        }
        for (int r = 0; r < PQntuples(res.get()); ++r) {
          for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = readCell(res.get(), r, static_cast<int>(i), columns[i], types[i]);
          budget.add(row);
          reader.row(row);
        }
      } catch (...) {
        // Stop the server sending the rest; the results still on their way are read
        // and dropped, leaving the session ready for the next statement.
        failure = std::current_exception();
        cancelRunning();
      }
    }
    return columns;
  }

  // Enters pipeline mode, sends what send() sends (false when libpq refused) and marks
  // the sync point, then starts the statement bound. When sending fails, leaves the
  // pipeline, rolls the transaction back and throws DatabaseError.
  template <class Send>
  void sendPipeline(Send send) {
    if (!PQenterPipelineMode(conn_)) throw DatabaseError(describe(conn_, nullptr));
    const bool sent = send();
    const std::string sendError = sent ? std::string() : describe(conn_, nullptr);
    if (!PQpipelineSync(conn_) || !sent) {
      const std::string why = sent ? describe(conn_, nullptr) : sendError;
      endPipeline();
      rollback();
      throw DatabaseError(why);
    }
    bound_.start();
  }

  // Reads the results of a statement that returns no rows, keeping the first failure
  // (a statement that brought no result at all, as when the connection is lost, is
  // one). Returns the rows it changed.
  std::int64_t readCommand(std::exception_ptr& failure) {
    std::int64_t changed = 0;
    bool answered = false;
    while (PGresult* res = nextResult()) {
      const Result owned(res);
      answered = true;
      if (!ok(res))
        keepFailure(res, failure);
      else
        changed = rowsChanged(res);
    }
    if (!answered) keepLoss(failure);
    return changed;
  }

  // Keeps, unless one is kept already, the failure of a statement that brought no result
  // at all (the connection was lost).
  void keepLoss(std::exception_ptr& failure) {
    if (!failure) failure = std::make_exception_ptr(DatabaseError(describe(conn_, nullptr)));
  }

  // Keeps the error of a failed result unless one is kept already. A statement the
  // server skipped after an earlier failure of its pipeline is no failure of its own.
  void keepFailure(PGresult* res, std::exception_ptr& failure) {
    if (failure || PQresultStatus(res) == PGRES_PIPELINE_ABORTED) return;
    try {
      failed(res);
    } catch (...) {
      failure = std::current_exception();
    }
  }

  // Reads what is left of the pipeline up to its sync point, then leaves pipeline mode.
  // Stops early when the connection is lost or nothing more can come (the session is
  // then not healthy()).
  void endPipeline() {
    constexpr int kMostEnds = 8;  // ends of statements before the sync, with room to spare
    for (int ends = 0; PQstatus(conn_) == CONNECTION_OK && ends <= kMostEnds;) {
      PGresult* res = nextResult();
      if (!res) {
        ++ends;
        continue;
      }
      const bool sync = PQresultStatus(res) == PGRES_PIPELINE_SYNC;
      PQclear(res);
      if (sync) break;
    }
    PQexitPipelineMode(conn_);
  }

  // Runs one statement and returns its result (the first failing one when several).
  PGresult* run(std::string_view text, const std::vector<Cell>& params) {
    requireConnection();
    const TextParams p(params);
    if (!sendPrepared(prepared(text), p)) throw DatabaseError(describe(conn_, nullptr));
    bound_.start();
    PGresult* kept = nullptr;
    while (PGresult* res = nextResult()) {
      if (kept && !ok(kept)) {
        PQclear(res);
        continue;
      }
      PQclear(kept);
      kept = res;
    }
    if (!kept) throw DatabaseError(describe(conn_, nullptr));
    if (!ok(kept)) {
      const Result owned(kept);
      failed(kept);
    }
    return kept;
  }

  // The next result of the statement sent (null after the last). While the server
  // works on a bounded statement (its time runs from bound_.start()), the bound is asked every
  // kPollMs; once it expires the server is asked to cancel the statement, which then fails with
  // 57014.
  PGresult* nextResult() {
    constexpr int kPollMs = 50;
    if (bound_.active()) {
      bool cancelSent = false;
      while (PQisBusy(conn_)) {
        pollfd fd{PQsocket(conn_), POLLIN, 0};
        const int ready = ::poll(&fd, 1, kPollMs);
        if (ready < 0 && errno != EINTR) break;  // PQgetResult reports the broken link
        if (ready > 0 && !PQconsumeInput(conn_)) break;
        if (!cancelSent && bound_.expired()) {
          cancelRunning();
          cancelSent = true;
        }
      }
    }
    return PQgetResult(conn_);
  }

  // Asks the server to stop the statement running on this session; its result then
  // arrives as an error (or as it was, when it had finished).
  void cancelRunning() {
    if (PGcancel* cancel = PQgetCancel(conn_)) {
      char buf[256];
      PQcancel(cancel, buf, sizeof buf);
      PQfreeCancel(cancel);
    }
  }

  // Throws the error of a failed result; a cancelled statement (57014) fails with the
  // bound's reason.
  [[noreturn]] void failed(PGresult* res) {
    const char* state = PQresultErrorField(res, PG_DIAG_SQLSTATE);
    if (state && std::string_view(state) == "57014") throw bound_.error();
    fail(conn_, res);
  }

  // Drops a prepared statement the cache lets go (the connection may be gone, or a
  // failed transaction refuse it: the statement then lives until the session ends).
  void deallocate(const std::string& name) {
    if (connectionLost_ || PQstatus(conn_) != CONNECTION_OK) return;
    PQclear(PQexec(conn_, ("DEALLOCATE " + name).c_str()));
  }

  PGconn* conn_;
  bool connectionLost_ = false;
  std::size_t preparedCount_ = 0;
  StatementCache<std::string> prepared_{kPreparedStatementsKept,
                                        [this](std::string& name) { deallocate(name); }};
};

}  // namespace

std::unique_ptr<Database> openPostgres(const std::string& conninfo) {
  return std::make_unique<PostgresDatabase>(conninfo);
}

}  // namespace qadj::appserver
