// The PostgreSQL session (libpq): UTF-8 client encoding, ISO dates, statements sent
// with the extended protocol (one statement per call), column names returned as
// Oracle reports unquoted identifiers.
#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "qadj/appserver/database.h"
#include "qadj/appserver/dates.h"

namespace qadj::appserver {
namespace {

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

Cell readCell(PGresult* res, int row, int col, const ResultColumn& rc, Oid type) {
  if (PQgetisnull(res, row, col)) return {};
  const char* v = PQgetvalue(res, row, col);
  switch (rc.kind) {
    case ColumnKind::Text:
      if (type == kBool) return std::string(v[0] == 't' ? "T" : "F");
      return std::string(v, static_cast<std::size_t>(PQgetlength(res, row, col)));
    case ColumnKind::Number:
      return std::strtod(v, nullptr);
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
      executeScript("SET DateStyle TO ISO, YMD; SET client_min_messages TO warning");
    } catch (...) {
      PQfinish(conn_);
      throw;
    }
  }
  ~PostgresDatabase() override { PQfinish(conn_); }

  std::string dialect() const override { return "postgresql"; }
  bool healthy() const override { return PQstatus(conn_) == CONNECTION_OK; }

  ResultSet query(std::string_view text, const std::vector<Cell>& params) override {
    Result res(run(text, params));
    ResultSet rs;
    const int n = PQnfields(res.get());
    rs.columns.resize(static_cast<std::size_t>(n));
    std::vector<Oid> types(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      auto& col = rs.columns[static_cast<std::size_t>(i)];
      col.name = PQfname(res.get(), i);
      types[static_cast<std::size_t>(i)] = PQftype(res.get(), i);
      col.kind = kindOf(types[static_cast<std::size_t>(i)]);
      const int mod = PQfmod(res.get(), i);
      if ((types[static_cast<std::size_t>(i)] == kVarchar ||
           types[static_cast<std::size_t>(i)] == kBpchar) &&
          mod > 4)
        col.width = mod - 4;
    }
    const int rows = PQntuples(res.get());
    rs.rows.reserve(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
      std::vector<Cell> row(static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i)
        row[static_cast<std::size_t>(i)] =
            readCell(res.get(), r, i, rs.columns[static_cast<std::size_t>(i)],
                     types[static_cast<std::size_t>(i)]);
      rs.rows.push_back(std::move(row));
    }
    return rs;
  }

  std::int64_t execute(std::string_view text, const std::vector<Cell>& params) override {
    Result res(run(text, params));
    const char* n = PQcmdTuples(res.get());
    return n && *n ? std::strtoll(n, nullptr, 10) : 0;
  }

  void executeScript(std::string_view text) override {
    Result res(PQexec(conn_, std::string(text).c_str()));
    const auto st = PQresultStatus(res.get());
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
      throw DatabaseError(describe(conn_, res.get()));
  }

  void begin(TxMode) override { executeScript("BEGIN"); }
  void commit() override { executeScript("COMMIT"); }
  void rollback() noexcept override {
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) PQclear(PQexec(conn_, "ROLLBACK"));
  }

 private:
  PGresult* run(std::string_view text, const std::vector<Cell>& params) {
    if (PQstatus(conn_) != CONNECTION_OK) throw DatabaseError("the database connection was lost");
    std::vector<std::string> storage(params.size());
    std::vector<const char*> values(params.size(), nullptr);
    for (std::size_t i = 0; i < params.size(); ++i) {
      if (const auto* s = std::get_if<std::string>(&params[i])) {
        storage[i] = *s;
        values[i] = storage[i].c_str();
      } else if (const auto* d = std::get_if<double>(&params[i])) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", *d);
        storage[i] = buf;
        values[i] = storage[i].c_str();
      }
    }
    PGresult* res = PQexecParams(conn_, std::string(text).c_str(), static_cast<int>(params.size()),
                                 nullptr, values.data(), nullptr, nullptr, 0);
    const auto st = PQresultStatus(res);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
      std::string msg = describe(conn_, res);
      PQclear(res);
      throw DatabaseError(msg);
    }
    return res;
  }

  PGconn* conn_;
};

}  // namespace

std::unique_ptr<Database> openPostgres(const std::string& conninfo) {
  return std::make_unique<PostgresDatabase>(conninfo);
}

}  // namespace qadj::appserver
