// Server side of a large fetch: encoding and decoding a 100 000-row packet of the
// detail query's shape beside a memcpy of its bytes, and a whole FetchRecords of the
// window's detail query on a seeded SQLite database.
#include <benchmark/benchmark.h>

#include <cstring>

#include "qadj/appserver/database.h"
#include "qadj/appserver/provider.h"
#include "qadj/appserver/schema.h"
#include "qadj/protocol/packet.h"
#include "qadj/protocol/statements.h"
#include "support/detail_packet.h"
#include "support/quota_data.h"

namespace {

using namespace qadj;

using bench::detailPacketBytes;
constexpr int kRows = bench::kDetailPacketRows;

void BM_MemcpyPacket(benchmark::State& state) {
  const auto& bytes = detailPacketBytes();
  std::vector<std::uint8_t> copy(bytes.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_MemcpyPacket);

void BM_DecodePacket(benchmark::State& state) {
  const auto& bytes = detailPacketBytes();
  for (auto _ : state) benchmark::DoNotOptimize(packet::decode(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodePacket)->Unit(benchmark::kMillisecond);

void BM_EncodePacket(benchmark::State& state) {
  const auto p = bench::detailPacket(kRows);
  for (auto _ : state) benchmark::DoNotOptimize(packet::encode(p));
}
BENCHMARK(BM_EncodePacket)->Unit(benchmark::kMillisecond);

// FetchRecords of the window's detail query for a giver with 10 000 colleagues: the
// server's side of detail_query_10k (SQLite, UTF-8 → GBK, packet encoding).
void BM_FetchDetailQuery10k(benchmark::State& state) {
  const bench::SeededSqliteFile file("packet", {.receivers = 10000, .products = 1});
  auto db = appserver::openDatabase(file.url());
  appserver::prepareSession(*db);
  const std::string text = statements::detailQuery(bench::kQuotaDate, bench::kWarehouse,
                                                   bench::giverCode(0), bench::productCode(0));
  for (auto _ : state) {
    auto r = appserver::fetchRecords(*db, text, -1, 1);
    benchmark::DoNotOptimize(r.packet.data());
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_FetchDetailQuery10k)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
