// Our stack beside the bare libraries it is built on, on one seeded SQLite file:
//  - detail_query_10k: the window's detail query (10 000 rows) opened and closed
//    through TDCOMConnection + TClientDataSet with the server object in-process, vs the
//    same SQL text through the SQLite C API reading every column of every row (CPU
//    time; BM_DetailQuery10k_OursReadingFields, outside the pair, also reads every field);
//  - detail_query_10k_grpc: the same with the server object behind a RemoteObjectServer
//    on loopback, vs a bare gRPC unary call answering the same packet bytes after the
//    bare SQLite query (real time);
//  - save_50_increments: the window's save block (50 increments and the giver's
//    decrement) with its save id through the server object in-process (which records
//    the id and a journal row), vs the same UPDATE texts and one journal INSERT in one
//    transaction through the SQLite C API (real time). Successive iterations move +1 and
//    −1, so the data returns to where it was every second iteration.
#include <benchmark/benchmark.h>
#include <grpcpp/grpcpp.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "proto/bench_echo.grpc.pb.h"
#include "qadj/appserver/costore_product.h"
#include "qadj/appserver/database.h"
#include "qadj/appserver/embedded.h"
#include "qadj/appserver/provider.h"
#include "qadj/com/object_server.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/save_request.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/connection.h"
#include "qadj/server/fields.h"
#include "qadj/window/numbers.h"
#include "qadj/window/window_datasets.h"
#include "support/bare_sqlite.h"
#include "support/quota_data.h"

namespace {

using namespace qadj;

constexpr int kDetailRows = 10000;
constexpr int kSaveLines = 50;

// The seeded database file, made once per run and removed at exit.
const bench::SeededSqliteFile& seededFile() {
  static const bench::SeededSqliteFile file("window",
                                            {.receivers = kDetailRows, .products = 10000});
  return file;
}

std::string detailText() {
  return statements::detailQuery(bench::kQuotaDate, bench::kWarehouse, bench::giverCode(0),
                                 bench::productCode(0));
}

// The window's connection and data sets; computer text empty = in-process.
struct Client {
  explicit Client(const std::string& host) {
    dcom.SetServerGUID(CLSID_CoStoreProduct.toString());
    dcom.SetComputerName(host);
    sets = CreateWindowDataSets(&dcom);
  }
  ~Client() { sets = {}; }
  TDCOMConnection dcom;
  WindowDataSets sets;
};

void registerInProcess() {
  static std::once_flag once;
  std::call_once(once, [] { appserver::registerInProcessServer(seededFile().url()); });
}

// Opens the detail data set and closes it again: every row has reached the data set.
double openClose(TClientDataSet& ds) {
  ds.Open();
  const int rows = ds.RecordCount();
  ds.Close();
  if (rows != kDetailRows)
    throw std::runtime_error("detail query returned " + std::to_string(rows));
  return rows;
}

// The same, reading every field of every record before closing.
double openReadClose(TClientDataSet& ds) {
  ds.Open();
  const auto& fields = ds.Fields();
  std::size_t textBytes = 0;
  double sum = 0;
  for (ds.First(); !ds.Eof(); ds.Next())
    for (TField* f : fields) {
      if (f->DataType() == TFieldType::ftString)
        textBytes += f->AsString().size();
      else
        sum += f->AsFloat();
    }
  const int rows = ds.RecordCount();
  ds.Close();
  if (rows != kDetailRows)
    throw std::runtime_error("detail query returned " + std::to_string(rows));
  return sum + static_cast<double>(textBytes);
}

void runDetailOurs(benchmark::State& state, const std::string& host, bool readFields) {
  Client client(host);
  TClientDataSet& ds = *client.sets.clientDataSet2;
  ds.SetCommandText(detailText());
  try {
    openClose(ds);  // connects and opens the server's session
    for (auto _ : state) benchmark::DoNotOptimize(readFields ? openReadClose(ds) : openClose(ds));
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  state.SetItemsProcessed(state.iterations() * kDetailRows);
}

void BM_DetailQuery10k_Ours(benchmark::State& state) {
  registerInProcess();
  runDetailOurs(state, "", false);
}
BENCHMARK(BM_DetailQuery10k_Ours)->Unit(benchmark::kMillisecond);

// Not part of the pair: the open followed by a walk that reads every field.
void BM_DetailQuery10k_OursReadingFields(benchmark::State& state) {
  registerInProcess();
  runDetailOurs(state, "", true);
}
BENCHMARK(BM_DetailQuery10k_OursReadingFields)->Unit(benchmark::kMillisecond);

void BM_DetailQuery10k_Peer(benchmark::State& state) {
  bench::BareSqlite db(seededFile().path());
  const std::string text = detailText();
  for (auto _ : state) {
    const auto t = db.readAll(text);
    if (t.rows != kDetailRows) state.SkipWithError("detail query returned a wrong row count");
    benchmark::DoNotOptimize(t);
  }
  state.SetItemsProcessed(state.iterations() * kDetailRows);
}
BENCHMARK(BM_DetailQuery10k_Peer)->Unit(benchmark::kMillisecond);

// --- Over gRPC.

void BM_DetailQuery10kGrpc_Ours(benchmark::State& state) {
  com::RemoteServerOptions options;
  options.listen = "127.0.0.1:0";
  com::RemoteObjectServer server(options);
  const std::string url = seededFile().url();
  server.registerClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                       [url] { return appserver::createCoStoreProduct(url); });
  server.start();
  runDetailOurs(state, "127.0.0.1:" + std::to_string(server.port()), false);
}
BENCHMARK(BM_DetailQuery10kGrpc_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

// Runs the request text with the bare SQLite API, reading every column, and answers
// the packet our server would send for it.
class EchoService final : public benchwire::Echo::Service {
 public:
  EchoService(const std::string& path, std::string packet)
      : db_(path), packet_(std::move(packet)) {}
  grpc::Status Call(grpc::ServerContext*, const benchwire::EchoRequest* request,
                    benchwire::EchoReply* reply) override {
    std::lock_guard lock(mutex_);
    try {
      const auto t = db_.readAll(request->payload());
      benchmark::DoNotOptimize(t);
    } catch (const std::exception& e) {
      return grpc::Status(grpc::StatusCode::INTERNAL, e.what());
    }
    reply->set_payload(packet_);
    return grpc::Status::OK;
  }

 private:
  std::mutex mutex_;
  bench::BareSqlite db_;
  std::string packet_;
};

void BM_DetailQuery10kGrpc_Peer(benchmark::State& state) {
  const std::string text = detailText();
  std::string packet;
  {
    auto db = appserver::openDatabase(seededFile().url());
    const auto r = appserver::fetchRecords(*db, text, -1, 0);
    packet.assign(r.packet.begin(), r.packet.end());
  }
  EchoService service(seededFile().path(), packet);
  grpc::ServerBuilder builder;
  int port = 0;
  builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
  builder.SetMaxReceiveMessageSize(256 << 20);
  builder.SetMaxSendMessageSize(256 << 20);
  builder.RegisterService(&service);
  auto server = builder.BuildAndStart();
  grpc::ChannelArguments args;
  args.SetMaxReceiveMessageSize(256 << 20);
  args.SetMaxSendMessageSize(256 << 20);
  auto stub = benchwire::Echo::NewStub(grpc::CreateCustomChannel(
      "127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials(), args));
  benchwire::EchoRequest request;
  request.set_payload(text);
  for (auto _ : state) {
    grpc::ClientContext context;
    benchwire::EchoReply reply;
    const grpc::Status status = stub->Call(&context, request, &reply);
    if (!status.ok() || reply.payload().size() != packet.size()) {
      state.SkipWithError(("echo call failed: " + status.error_message()).c_str());
      break;
    }
    benchmark::DoNotOptimize(reply.payload().data());
  }
  state.counters["packet_bytes"] = static_cast<double>(packet.size());
  server->Shutdown();
}
BENCHMARK(BM_DetailQuery10kGrpc_Peer)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The save.

// The statements of one save moving `step` to each of the first 50 receivers, built
// as the window builds them.
std::vector<std::string> saveStatements(double step) {
  std::vector<std::string> statements;
  QuantitySum sent;
  const Quantity amount = window::adjustmentQuantity(step);
  for (int r = 0; r < kSaveLines; ++r) {
    statements.push_back(statements::increment(amount, bench::kDocument, bench::receiverCode(r),
                                               bench::productCode(0)));
    sent.add(amount);
  }
  statements.push_back(statements::decrement(*sent.quantity(), bench::kDocument,
                                             bench::giverCode(0), bench::productCode(0)));
  return statements;
}

void BM_Save50Increments_Ours(benchmark::State& state) {
  registerInProcess();
  Client client("");
  TClientDataSet& q = *client.sets.publicQry;
  const std::string blocks[2] = {statements::block(saveStatements(1)),
                                 statements::block(saveStatements(-1))};
  // Each save has its own id, as each of the window's does.
  const auto execute = [&](const std::string& block) {
    q.Close();
    q.SetCommandText(block);
    q.Execute(saveOwnerData({newSaveId(), "0001"}));
  };
  try {
    int k = 0;
    for (auto _ : state) execute(blocks[k++ & 1]);
    if (k & 1) execute(blocks[1]);  // leave the data as it was
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_Save50Increments_Ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Save50Increments_Peer(benchmark::State& state) {
  bench::BareSqlite db(seededFile().path());
  // The same read of the giver's limit (the quota of the document's day and that
  // day's sales, in one statement), the same UPDATEs and one INSERT of a row of the
  // same shape as our journal's.
  std::vector<std::string> saves[2] = {saveStatements(1), saveStatements(-1)};
  const std::string giver = "'" + bench::giverCode(0) + "'",
                    product = "'" + bench::productCode(0) + "'";
  const std::string limitRead =
      "SELECT (SELECT SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B WHERE A.DHAO00 = B.DHAO00 AND "
      "A.FXRY00 = " +
      giver + " AND A.SPDM00 = " + product +
      " AND TRUNC(B.ZDRQ00) = TRUNC(C.ZDRQ00)), (SELECT SUM(D.XSSL00) FROM XSTFXDD0 D WHERE "
      "D.FXRY00 = " +
      giver + " AND D.SPDM00 = " + product +
      " AND TRUNC(D.XSRQ00) = TRUNC(C.ZDRQ00)) FROM XSTXLGL1 C WHERE C.DHAO00 = '" +
      std::string(bench::kDocument) + "'";
  for (auto& statements : saves) {
    statements.insert(statements.begin(), limitRead);
    statements.push_back(
        "INSERT INTO QADJ_TRANSFER_JOURNAL (SAVE_ID, SAVED_AT, OPERATOR, CLIENT, DHAO00, "
        "SPDM00, GIVER, RECEIVERS, TOTAL) VALUES ('0123456789abcdef0123456789abcdef', "
        "'2026-12-08 09:00:00', '0001', 'in-process', '" +
        std::string(bench::kDocument) + "', '" + bench::productCode(0) + "', '" +
        bench::giverCode(0) + "', '" + std::string(50 * 10, 'r') + "', 50)");
  }
  try {
    int k = 0;
    for (auto _ : state) db.runInTransaction(saves[k++ & 1]);
    if (k & 1) db.runInTransaction(saves[1]);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}
BENCHMARK(BM_Save50Increments_Peer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  qadj::com::CoInitialize();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  qadj::com::CoUninitialize();
  return 0;
}
