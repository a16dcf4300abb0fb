// concurrent_8_clients_pg: the application server (RemoteObjectServer over gRPC on
// loopback serving CoStoreProduct on a private PostgreSQL) under 8 client threads, each
// repeating the window's workflow for its own giver and product:
//   1. the salesperson list (Public_qry open, read, close);
//   2. m_qadj, then the product query (ClientDataSet1);
//   3. the detail query (ClientDataSet2);
//   4. the save: the document look-up, then one block moving 1 (−1 the next time) to
//      the first colleague, 0 to the others, and the total from the giver.
// Beside it, 8 bare libpq connections sending the same statements (m_qadj as the
// statements the server runs for it: DELETE, two grouped SELECTs, one INSERT per
// product, in one transaction; the block as BEGIN, the UPDATEs, COMMIT).
//
// Each side runs for a fixed time after one warm-up workflow per thread; the counters
// are workflows per second over all threads and the latency percentiles of one
// workflow.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
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
#include "qadj/com/remote.h"
#include "qadj/grid/number_format.h"
#include "qadj/protocol/appserver.h"
#include "qadj/server/connection.h"
#include "qadj/server/fields.h"
#include "qadj/server/window_datasets.h"
#include "qadj/window/numbers.h"
#include "qadj/window/sql.h"
#include "support/postgres_server.h"
#include "support/quota_data.h"

namespace {

using namespace qadj;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 8;
constexpr int kReceivers = 20;
constexpr int kProducts = 100;

// Seconds each side runs; QADJ_BENCH_SECONDS overrides.
double runSeconds() {
  const char* env = std::getenv("QADJ_BENCH_SECONDS");
  const double v = env ? std::atof(env) : 0;
  return v > 0 ? v : 5.0;
}

// The private server and its seeded database, made at first use.
const std::string& databaseUrl() {
  static const std::string url = [] {
    testing::PostgresServer& server = testing::PostgresServer::instance();
    if (!server.running()) throw std::runtime_error("no PostgreSQL: " + server.error());
    std::string u = server.createDatabase();
    auto db = appserver::openDatabase(u);
    bench::QuotaDataShape shape;
    shape.givers = kClients;
    shape.receivers = kReceivers;
    shape.products = kProducts;
    shape.receiverProducts = kClients;
    bench::seedQuotaData(*db, shape);
    return u;
  }();
  return url;
}

// One save's statements as the window builds them from the detail rows (FXRY00 of
// each): step to the first, 0 to the others, the total from the giver.
std::vector<std::string> saveStatements(const std::string& document,
                                        const std::vector<std::string>& receivers,
                                        const std::string& giver, const std::string& product,
                                        double step) {
  std::vector<std::string> statements;
  double sent = 0;
  for (std::size_t i = 0; i < receivers.size(); ++i) {
    const double adjustment = i == 0 ? step : 0;
    statements.push_back(window::sql::increment(window::adjustmentText(adjustment), document,
                                                receivers[i], product));
    sent += window::roundToCents(adjustment);
  }
  statements.push_back(
      window::sql::decrement(grid::formatFloat("0.00;-0.00", sent), document, giver, product));
  return statements;
}

struct RunResult {
  std::vector<double> latenciesMs;
  double seconds = 0;
  std::string error;
};

// On each of kClients threads: makes the client's workflow with setUp(client index),
// runs it once to warm up, then repeatedly (with the iteration number) until the time
// is up, and drops it on the same thread.
RunResult runClients(const std::function<std::function<void(int)>(int)>& setUp) {
  RunResult result;
  std::mutex mutex;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  const double seconds = runSeconds();
  Clock::time_point start, stop;
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c)
    threads.emplace_back([&, c] {
      std::vector<double> mine;
      std::string error;
      try {
        com::CoInitialize();
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
      com::CoUninitialize();
      std::lock_guard lock(mutex);
      result.latenciesMs.insert(result.latenciesMs.end(), mine.begin(), mine.end());
      if (!error.empty()) result.error = error;
    });
  while (ready < kClients) std::this_thread::yield();
  start = Clock::now();
  stop =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  go = true;
  for (auto& t : threads) t.join();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
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
}

// --- Ours: the window's data sets over gRPC.

struct WindowClient {
  explicit WindowClient(const std::string& host, int index)
      : giver(bench::giverCode(index)), product(bench::productCode(index)) {
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
    q.SetCommandText(window::sql::salespersonList(bench::kWarehouse));
    q.Open();
    int persons = 0;
    for (TField* code = q.FieldByName("RYDM00"); !q.Eof(); q.Next())
      persons += code->AsString().empty() ? 0 : 1;
    q.Close();
    if (persons != kClients + kReceivers) throw std::runtime_error("salesperson list is wrong");
    // 2. The working table and the product query.
    detail.Close();
    products.Close();
    std::string code = giver;
    dcom.CallMethod("m_qadj",
                    {DispatchArg::textRef(code), DispatchArg::date(bench::quotaDateValue())});
    products.SetCommandText(window::sql::productQuery());
    products.Open();
    if (products.RecordCount() != kProducts) throw std::runtime_error("product list is wrong");
    // 3. The detail.
    detail.SetCommandText(
        window::sql::detailQuery(bench::kQuotaDate, bench::kWarehouse, giver, product));
    detail.Open();
    std::vector<std::string> receivers;
    for (TField* r = detail.FieldByName("FXRY00"); !detail.Eof(); detail.Next())
      receivers.push_back(r->AsString());
    // 4. The save.
    q.SetCommandText(window::sql::documentLookup(bench::kQuotaDate));
    q.Open();
    const std::string document = q.FieldByName("DHAO00")->AsString();
    q.Close();
    q.SetCommandText(window::sql::block(
        saveStatements(document, receivers, giver, product, iteration % 2 ? -1 : 1)));
    q.Execute();
  }

  std::string giver, product;
  TDCOMConnection dcom;
  WindowDataSets sets;
};

void BM_Concurrent8ClientsPg_Ours(benchmark::State& state) {
  try {
    const std::string url = databaseUrl();
    com::RemoteServerOptions options;
    options.listen = "127.0.0.1:0";
    options.logRequests = std::getenv("QADJ_BENCH_LOG") != nullptr;
    com::RemoteObjectServer server(options);
    server.registerClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                         [url] { return appserver::createCoStoreProduct(url); });
    server.start();
    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    for (auto _ : state) {
      RunResult r = runClients([&](int c) {
        auto client = std::make_shared<WindowClient>(host, c);
        return std::function<void(int)>([client](int i) { client->workflow(i); });
      });
      report(state, r);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_Concurrent8ClientsPg_Ours)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

// --- Peer: bare libpq.

class PgClient {
 public:
  // Each save first locks its lines as our server does (the same statement, the same
  // wait limit): the best a hand-written client that never deadlocks could do.
  PgClient(const std::string& url, int index)
      : giver_(bench::giverCode(index)), product_(bench::productCode(index)) {
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
    if (readAll(window::sql::salespersonList(bench::kWarehouse), nullptr) != kClients + kReceivers)
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
    for (const auto& [code, quota] : quotas) {
      double already = 0;
      for (const auto& [c, s] : sold)
        if (c == code) already += s;
      const std::string values[4] = {code, number(quota), number(already),
                                     number(std::max(quota - already, 0.0))};
      params("INSERT INTO PGTQADJ0 (SPDM00, XL0000, YFXSL0, KTZXL0) VALUES ($1, $2, $3, $4)",
             values, 4);
    }
    command("COMMIT");
    if (readAll(window::sql::productQuery(), nullptr) != kProducts)
      throw std::runtime_error("product list is wrong");
    // 3. The detail.
    std::vector<std::string> receivers;
    readAll(window::sql::detailQuery(day, bench::kWarehouse, giver_, product_), &receivers);
    // 4. The save.
    std::vector<std::string> documents;
    readAll(window::sql::documentLookup(day), &documents);
    if (documents.empty()) throw std::runtime_error("no quota document");
    command("BEGIN");
    command("SET LOCAL lock_timeout = " + std::to_string(appserver::kBusyTimeoutMs));
    lockLines(documents[0], receivers);
    for (const std::string& s :
         saveStatements(documents[0], receivers, giver_, product_, iteration % 2 ? -1 : 1))
      command(s);
    command("COMMIT");
  }

 private:
  // The save's lines, locked in one statement (appserver::lockQuotaLines).
  void lockLines(const std::string& document, const std::vector<std::string>& receivers) {
    std::vector<const char*> values;
    for (const std::string& person : receivers)
      values.insert(values.end(), {person.c_str(), product_.c_str()});
    values.insert(values.end(), {giver_.c_str(), product_.c_str(), document.c_str()});
    const std::string sql = appserver::quotaLineLockQuery(receivers.size() + 1, 1);
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
  void params(const char* sql, const std::string* values, int n) {
    const char* texts[4];
    for (int i = 0; i < n; ++i) texts[i] = values[i].c_str();
    PGresult* res = PQexecParams(conn_, sql, n, nullptr, texts, nullptr, nullptr, 0);
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
    const char* values[2] = {giver_.c_str(), day.c_str()};
    PGresult* res = PQexecParams(conn_, sql, 2, nullptr, values, nullptr, nullptr, 0);
    check(res, sql);
    for (int r = 0; r < PQntuples(res); ++r)
      out.emplace_back(PQgetvalue(res, r, 0), std::atof(PQgetvalue(res, r, 1)));
    PQclear(res);
  }

  std::string giver_, product_;
  PGconn* conn_ = nullptr;
};

void BM_Concurrent8ClientsPg_Peer(benchmark::State& state) {
  try {
    const std::string url = databaseUrl();
    for (auto _ : state) {
      RunResult r = runClients([&](int c) {
        auto client = std::make_shared<PgClient>(url, c);
        return std::function<void(int)>([client](int i) { client->workflow(i); });
      });
      report(state, r);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

BENCHMARK(BM_Concurrent8ClientsPg_Peer)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
