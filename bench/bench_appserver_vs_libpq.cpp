// The application server under concurrent clients on a private PostgreSQL that flushes
// every commit to disk (fsync and synchronous_commit on), against bare libpq clients.
//
// The data: kWarehouses warehouses, each with kGiversPerWarehouse givers holding lines
// for every product and kReceivers receivers holding lines for the first
// kGiversPerWarehouse products. Client c is giver c, in warehouse c / kGiversPerWarehouse;
// it works on product c % kGiversPerWarehouse (its own lines), or, in the one-product
// layout, on product 0 like every other client of its warehouse (the same lines).
//
// Each client thread repeats the window's workflow:
//   1. the salesperson list (Public_qry open, read, close);
//   2. m_qadj, then the product query (ClientDataSet1);
//   3. the detail query (ClientDataSet2);
//   4. the save: the document look-up, then one block moving 1 (−1 the next time) to
//      the first colleague, 0 to the others, and the total from the giver.
// Ours: the window's data sets over gRPC to one or more qadj-appserver processes on the
// same database (client c talks to daemon c % daemons). Peer: one bare libpq connection
// per client sending the same statements (m_qadj as the statements the server runs for
// it: DELETE, two grouped SELECTs, one INSERT of all the rows, in one transaction; the save
// as BEGIN, the same line locks, the UPDATEs, COMMIT).
//
// Each side runs for a fixed time after one warm-up workflow per thread; the counters
// are workflows per second over all threads and the latency percentiles of one
// workflow. The label states the server's durability settings.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qadj/appserver/costore_product.h"
#include "qadj/appserver/database.h"
#include "qadj/appserver/dates.h"
#include "qadj/appserver/quota.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/connection.h"
#include "qadj/server/fields.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/postgres_server.h"
#include "qadj/window/numbers.h"
#include "qadj/window/window_datasets.h"
#include "support/process_cpu.h"
#include "support/quota_data.h"

namespace {

using namespace qadj;
using Clock = std::chrono::steady_clock;

constexpr int kWarehouses = 4;
constexpr int kGiversPerWarehouse = 8;
constexpr int kMostClients = kWarehouses * kGiversPerWarehouse;
constexpr int kReceivers = 20;
constexpr int kProducts = 100;

// Who client c is and what it saves.
struct Role {
  std::string giver, warehouse, product;
};

Role roleOf(int client, bool oneProduct) {
  if (client >= kMostClients) throw std::runtime_error("more clients than givers");
  return {bench::giverCode(client), bench::warehouseCode(client / kGiversPerWarehouse),
          bench::productCode(oneProduct ? 0 : client % kGiversPerWarehouse)};
}

// Seconds each side runs; QADJ_BENCH_SECONDS overrides.
double runSeconds() {
  const char* env = std::getenv("QADJ_BENCH_SECONDS");
  const double v = env ? std::atof(env) : 0;
  return v > 0 ? v : 5.0;
}

// The private durable server and its seeded database, made at first use.
const std::string& databaseUrl() {
  static const std::string url = [] {
    testing::PostgresServer& server = testing::PostgresServer::durable();
    if (!server.running()) throw std::runtime_error("no PostgreSQL: " + server.error());
    std::string u = server.createDatabase();
    auto db = appserver::openDatabase(u);
    bench::QuotaDataShape shape;
    shape.warehouses = kWarehouses;
    shape.givers = kGiversPerWarehouse;
    shape.receivers = kReceivers;
    shape.products = kProducts;
    shape.receiverProducts = kGiversPerWarehouse;
    bench::seedQuotaData(*db, shape);
    return u;
  }();
  return url;
}

// The process id of the private server's postmaster (the parent of a session's
// backend); read once.
pid_t postmaster() {
  static const pid_t pid = [] {
    PGconn* conn = PQconnectdb(databaseUrl().c_str());
    pid_t found = -1;
    if (PQstatus(conn) == CONNECTION_OK) found = bench::parentOf(PQbackendPID(conn));
    PQfinish(conn);
    if (found <= 0) throw std::runtime_error("the PostgreSQL server's process is not found");
    return found;
  }();
  return pid;
}

// "fsync=on synchronous_commit=on", as the server reports them; read once.
const std::string& durability() {
  static const std::string text = [] {
    auto db = appserver::openDatabase(databaseUrl());
    std::string t;
    for (const char* setting : {"fsync", "synchronous_commit"}) {
      const auto result = db->query(std::string("SHOW ") + setting);
      const auto* value =
          result.rows.empty() ? nullptr : std::get_if<std::string>(&result.rows[0][0]);
      t += (t.empty() ? "" : " ") + std::string(setting) + "=" + (value ? *value : "?");
    }
    return t;
  }();
  return text;
}

// One save's statements as the window builds them from the detail rows (FXRY00 of
// each): step to the first, 0 to the others, the total from the giver.
std::vector<std::string> saveStatements(const std::string& document,
                                        const std::vector<std::string>& receivers,
                                        const std::string& giver, const std::string& product,
                                        double step) {
  std::vector<std::string> statements;
  QuantitySum sent;
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    const Quantity adjustment = window::adjustmentQuantity(i == 0 ? step : 0);
    statements.push_back(statements::increment(adjustment, document, receivers[i], product));
    sent.add(adjustment);
  }
  statements.push_back(statements::decrement(*sent.quantity(), document, giver, product));
  return statements;
}

struct RunResult {
  std::vector<double> latenciesMs;
  double seconds = 0;
  bench::CpuUse cpu;  // used between the start and the end of the timed part
  std::string error;
};

// On each of clients threads: makes the client's workflow with setUp(client index),
// runs it once to warm up, then repeatedly (with the iteration number) until the time
// is up, and drops it on the same thread. The CPU of the sources is read when every
// client is ready and after the last has finished.
RunResult runClients(int clients, const std::function<std::function<void(int)>(int)>& setUp,
                     const bench::CpuSources& cpu) {
  RunResult result;
  std::mutex mutex;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  const double seconds = runSeconds();
  Clock::time_point start, stop;
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      const testing::ComScope comScope;
      std::vector<double> mine;
      std::string error;
      try {
        const std::function<void(int)> workflow = setUp(c);
        workflow(0);  // warm-up: connects, opens the session
        ++ready;
        while (!go) std::this_thread::yield();
        for (int i = 1; Clock::now() < stop; ++i) {
          const auto t0 = Clock::now();
          workflow(i);
          mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
      } catch (const std::exception& e) {
        error = e.what();
        ++ready;
      }
      std::lock_guard lock(mutex);
      result.latenciesMs.insert(result.latenciesMs.end(), mine.begin(), mine.end());
      if (!error.empty()) result.error = error;
    });
  while (ready < clients) std::this_thread::yield();
  const bench::CpuUse before = cpu.now();
  start = Clock::now();
  stop =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  go = true;
  for (auto& t : threads) t.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.cpu = cpu.now() - before;
  return result;
}

void report(benchmark::State& state, RunResult& r) {
  if (!r.error.empty()) {
    state.SkipWithError(r.error.c_str());
    return;
  }
  if (r.latenciesMs.empty()) {
    state.SkipWithError("no workflow finished");
    return;
  }
  std::sort(r.latenciesMs.begin(), r.latenciesMs.end());
  const auto pct = [&](double p) {
    const auto i = static_cast<std::size_t>(p * static_cast<double>(r.latenciesMs.size() - 1));
    return r.latenciesMs[i];
  };
  state.counters["workflows"] = static_cast<double>(r.latenciesMs.size());
  state.counters["workflows_per_s"] = static_cast<double>(r.latenciesMs.size()) / r.seconds;
  state.counters["p50_ms"] = pct(0.50);
  state.counters["p99_ms"] = pct(0.99);
  state.counters["max_ms"] = r.latenciesMs.back();
  // CPU per workflow of each party, from the processes' own accounting: on a machine
  // whose cores are all busy, the throughput ratio of the pair is the ratio of these.
  const double n = static_cast<double>(r.latenciesMs.size());
  state.counters["cpu_pg_ms"] = r.cpu.postgresMs / n;
  state.counters["cpu_daemon_ms"] = r.cpu.daemonMs / n;
  state.counters["cpu_client_ms"] = r.cpu.clientMs / n;
  state.counters["cpu_ms"] = (r.cpu.postgresMs + r.cpu.daemonMs + r.cpu.clientMs) / n;
  state.SetLabel(durability());
}

// --- Ours: the window's data sets over gRPC.

struct WindowClient {
  WindowClient(const std::string& host, Role role) : role(std::move(role)) {
    dcom.SetServerGUID(CLSID_CoStoreProduct.toString());
    dcom.SetComputerName(host);
    sets = CreateWindowDataSets(&dcom);
  }
  ~WindowClient() { sets = {}; }

  void workflow(int iteration) {
    TClientDataSet& q = *sets.publicQry;
    TClientDataSet& products = *sets.clientDataSet1;
    TClientDataSet& detail = *sets.clientDataSet2;
    // 1. The salesperson list.
    q.Close();
    q.SetCommandText(statements::salespersonList(role.warehouse));
    q.Open();
    int persons = 0;
    for (TField* code = q.FieldByName("RYDM00"); !q.Eof(); q.Next())
      persons += code->AsString().empty() ? 0 : 1;
    q.Close();
    if (persons != kGiversPerWarehouse + kReceivers)
      throw std::runtime_error("salesperson list is wrong");
    // 2. The working table and the product query.
    detail.Close();
    products.Close();
    std::string code = role.giver;
    dcom.CallMethod("m_qadj",
                    {DispatchArg::textRef(code), DispatchArg::date(bench::quotaDateValue())});
    products.SetCommandText(statements::productQuery());
    products.Open();
    if (products.RecordCount() != kProducts) throw std::runtime_error("product list is wrong");
    // 3. The detail.
    detail.SetCommandText(
        statements::detailQuery(bench::kQuotaDate, role.warehouse, role.giver, role.product));
    detail.Open();
    std::vector<std::string> receivers;
    for (TField* r = detail.FieldByName("FXRY00"); !detail.Eof(); detail.Next())
      receivers.push_back(r->AsString());
    // 4. The save.
    q.SetCommandText(statements::documentLookup(bench::kQuotaDate));
    q.Open();
    const std::string document = q.FieldByName("DHAO00")->AsString();
    q.Close();
    q.SetCommandText(statements::block(
        saveStatements(document, receivers, role.giver, role.product, iteration % 2 ? -1 : 1)));
    q.Execute();
  }

  Role role;
  TDCOMConnection dcom;
  WindowDataSets sets;
};

// Arguments: clients, daemons, one product (0 or 1).
void BM_ConcurrentPg_Ours(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  const int daemons = static_cast<int>(state.range(1));
  const bool oneProduct = state.range(2) != 0;
  try {
    std::vector<std::string> args{"--db", databaseUrl()};
    testing::allowTestSuperuser(args);
    const std::string logs = std::filesystem::temp_directory_path() / "qadj-bench-daemons";
    std::vector<std::unique_ptr<testing::DaemonProcess>> servers;
    std::vector<std::string> hosts;
    bench::CpuSources cpu{postmaster(), {}};
    for (int d = 0; d < daemons; ++d) {
      const std::string dir = logs + "/" + std::to_string(d);
      std::filesystem::create_directories(dir);
      servers.push_back(std::make_unique<testing::DaemonProcess>(args, dir));
      if (!servers.back()->start()) throw std::runtime_error(servers.back()->error());
      hosts.push_back(servers.back()->host());
      cpu.daemons.push_back(servers.back()->pid());
    }
    for (auto _ : state) {
      RunResult r = runClients(
          clients,
          [&](int c) {
            auto client = std::make_shared<WindowClient>(hosts[c % daemons], roleOf(c, oneProduct));
            return std::function<void(int)>([client](int i) { client->workflow(i); });
          },
          cpu);
      report(state, r);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_ConcurrentPg_Ours)
    ->ArgNames({"clients", "daemons", "one_product"})
    ->Args({8, 1, 0})
    ->Args({8, 1, 1})
    ->Args({32, 1, 0})
    ->Args({8, 2, 0})
    ->Args({32, 2, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// --- Peer: bare libpq.

class PgClient {
 public:
  // Each save first locks its lines as our server does (the same statement, the same
  // wait limit): the best a hand-written client that never deadlocks could do.
  PgClient(const std::string& url, Role role) : role_(std::move(role)) {
    conn_ = PQconnectdb(url.c_str());
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string msg = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw std::runtime_error("libpq: " + msg);
    }
    command(
        "CREATE TEMPORARY TABLE IF NOT EXISTS PGTQADJ0 (SPDM00 VARCHAR(8) NOT NULL PRIMARY KEY,"
        " XL0000 DOUBLE PRECISION NOT NULL DEFAULT 0, YFXSL0 DOUBLE PRECISION NOT NULL DEFAULT 0,"
        " KTZXL0 DOUBLE PRECISION NOT NULL DEFAULT 0)");
  }
  ~PgClient() { PQfinish(conn_); }
  PgClient(const PgClient&) = delete;
  PgClient& operator=(const PgClient&) = delete;

  void workflow(int iteration) {
    // 1. The salesperson list.
    if (readAll(statements::salespersonList(role_.warehouse), nullptr) !=
        kGiversPerWarehouse + kReceivers)
      throw std::runtime_error("salesperson list is wrong");
    // 2. The working table, as the server fills it, and the product query.
    const std::string day = bench::kQuotaDate;
    command("BEGIN");
    command("DELETE FROM PGTQADJ0");
    std::vector<std::pair<std::string, double>> quotas;
    std::vector<std::pair<std::string, double>> sold;
    grouped(
        "SELECT A.SPDM00, SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B"
        " WHERE A.DHAO00 = B.DHAO00 AND A.FXRY00 = $1"
        " AND TRUNC(B.ZDRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY A.SPDM00",
        day, quotas);
    grouped(
        "SELECT SPDM00, SUM(XSSL00) FROM XSTFXDD0"
        " WHERE FXRY00 = $1 AND TRUNC(XSRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY SPDM00",
        day, sold);
    std::vector<std::string> values;
    for (const auto& [code, quota] : quotas) {
      double already = 0;
      for (const auto& [c, s] : sold)
        if (c == code) already += s;
      values.insert(values.end(),
                    {code, number(quota), number(already), number(std::max(quota - already, 0.0))});
    }
    if (!values.empty()) params(appserver::workingRowsInsert(quotas.size()), values);
    command("COMMIT");
    if (readAll(statements::productQuery(), nullptr) != kProducts)
      throw std::runtime_error("product list is wrong");
    // 3. The detail.
    std::vector<std::string> receivers;
    readAll(statements::detailQuery(day, role_.warehouse, role_.giver, role_.product), &receivers);
    // 4. The save.
    std::vector<std::string> documents;
    readAll(statements::documentLookup(day), &documents);
    if (documents.empty()) throw std::runtime_error("no quota document");
    command("BEGIN");
    command("SET LOCAL lock_timeout = " + std::to_string(appserver::kBusyTimeoutMs));
    lockLines(documents[0], receivers);
    for (const std::string& s : saveStatements(documents[0], receivers, role_.giver, role_.product,
                                               iteration % 2 ? -1 : 1))
      command(s);
    command("COMMIT");
  }

 private:
  // The save's lines, locked in one statement (appserver::SaveChecks).
  void lockLines(const std::string& document, const std::vector<std::string>& receivers) {
    std::vector<const char*> values{role_.product.c_str(), document.c_str()};
    for (const std::string& person : receivers) values.push_back(person.c_str());
    values.push_back(role_.giver.c_str());
    const std::string sql = appserver::quotaLineLockQuery(receivers.size() + 1);
    PGresult* res = PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                 values.data(), nullptr, nullptr, 0);
    check(res, sql);
    PQclear(res);
  }

  static std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
  }

  void check(PGresult* res, const std::string& sql) {
    const auto status = PQresultStatus(res);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const std::string msg = PQresultErrorMessage(res);
      PQclear(res);
      PQclear(PQexec(conn_, "ROLLBACK"));
      throw std::runtime_error("libpq: " + msg + " in " + sql);
    }
  }
  void command(const std::string& sql) {
    PGresult* res = PQexec(conn_, sql.c_str());
    check(res, sql);
    PQclear(res);
  }
  void params(const std::string& sql, const std::vector<std::string>& values) {
    std::vector<const char*> texts;
    for (const std::string& v : values) texts.push_back(v.c_str());
    PGresult* res = PQexecParams(conn_, sql.c_str(), static_cast<int>(texts.size()), nullptr,
                                 texts.data(), nullptr, nullptr, 0);
    check(res, sql);
    PQclear(res);
  }
  // Runs a query and reads every value; the first column's texts go to first.
  int readAll(const std::string& sql, std::vector<std::string>* first) {
    PGresult* res = PQexec(conn_, sql.c_str());
    check(res, sql);
    const int rows = PQntuples(res), cols = PQnfields(res);
    std::size_t bytes = 0;
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) bytes += static_cast<std::size_t>(PQgetlength(res, r, c));
      if (first) first->emplace_back(PQgetvalue(res, r, 0));
    }
    benchmark::DoNotOptimize(bytes);
    PQclear(res);
    return rows;
  }
  void grouped(const char* sql, const std::string& day,
               std::vector<std::pair<std::string, double>>& out) {
    const char* values[2] = {role_.giver.c_str(), day.c_str()};
    PGresult* res = PQexecParams(conn_, sql, 2, nullptr, values, nullptr, nullptr, 0);
    check(res, sql);
    for (int r = 0; r < PQntuples(res); ++r)
      out.emplace_back(PQgetvalue(res, r, 0), std::atof(PQgetvalue(res, r, 1)));
    PQclear(res);
  }

  Role role_;
  PGconn* conn_ = nullptr;
};

// Arguments: clients, one product (0 or 1).
void BM_ConcurrentPg_Peer(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  const bool oneProduct = state.range(1) != 0;
  try {
    const std::string url = databaseUrl();
    const bench::CpuSources cpu{postmaster(), {}};
    for (auto _ : state) {
      RunResult r = runClients(
          clients,
          [&](int c) {
            auto client = std::make_shared<PgClient>(url, roleOf(c, oneProduct));
            return std::function<void(int)>([client](int i) { client->workflow(i); });
          },
          cpu);
      report(state, r);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_ConcurrentPg_Peer)
    ->ArgNames({"clients", "one_product"})
    ->Args({8, 0})
    ->Args({8, 1})
    ->Args({32, 0})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
