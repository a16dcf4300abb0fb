// Server side of a large fetch: encoding and decoding a 100 000-row packet of the
// detail query's shape beside a memcpy of its bytes, and a whole FetchRecords on a
// SQLite database of that many quota lines.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "qadj/appserver/database.h"
#include "qadj/appserver/provider.h"
#include "qadj/appserver/schema.h"
#include "qadj/protocol/packet.h"

namespace {

using namespace qadj;

constexpr int kRows = 100000;

packet::Packet detailShape(int rows) {
  packet::Packet p;
  p.columns = {{"FXRY00", "String", 4, false}, {"RYMC00", "String", 8, false},
               {"SPDM00", "String", 8, false}, {"SPMC00", "String", 30, false},
               {"XL0000", "Float", 0, false},  {"TZXL00", "Float", 0, false}};
  p.rows.reserve(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "%04d", i % 10000);
    p.rows.push_back(
        {std::string(code), "\xD5\xC5\xC8\xFD" + std::to_string(i % 100),
         std::to_string(10000000 + i % 5000),
         std::string("\xBF\xC9\xBF\xDA\xBF\xC9\xC0\xD6 330ml ") + std::to_string(i % 977),
         50.0 + i % 300, 0.0});
  }
  return p;
}

const std::vector<std::uint8_t>& packetBytes() {
  static const std::vector<std::uint8_t> bytes = packet::encode(detailShape(kRows));
  return bytes;
}

void BM_MemcpyPacket(benchmark::State& state) {
  const auto& bytes = packetBytes();
  std::vector<std::uint8_t> copy(bytes.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_MemcpyPacket);

void BM_DecodePacket(benchmark::State& state) {
  const auto& bytes = packetBytes();
  for (auto _ : state) benchmark::DoNotOptimize(packet::decode(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DecodePacket)->Unit(benchmark::kMillisecond);

void BM_EncodePacket(benchmark::State& state) {
  const auto p = detailShape(kRows);
  for (auto _ : state) benchmark::DoNotOptimize(packet::encode(p));
}
BENCHMARK(BM_EncodePacket)->Unit(benchmark::kMillisecond);

// FetchRecords of every quota line (SQLite, UTF-8 → GBK, packet encoding).
void BM_FetchAllQuotaLines(benchmark::State& state) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("qadj-bench-" + std::to_string(::getpid()) + ".sqlite");
  {
    auto db = appserver::openSqlite(path.string());
    appserver::createSchema(*db);
    appserver::inTransaction(*db, [&] {
      for (int i = 0; i < kRows; ++i)
        db->execute(
            "INSERT INTO XSTXLGL01 (DHAO00, FXRY00, SPDM00, XL0000) VALUES ($1, $2, $3, $4)",
            {std::string("D") + std::to_string(i / 1000), std::to_string(1000 + i % 1000),
             std::to_string(10000000 + i), static_cast<double>(i % 300)});
    });
  }
  auto db = appserver::openSqlite(path.string());
  for (auto _ : state) {
    auto r = appserver::fetchRecords(
        *db, "SELECT DHAO00,FXRY00,SPDM00,XL0000,0 TZXL00 FROM XSTXLGL01", -1, 1);
    benchmark::DoNotOptimize(r.packet.data());
  }
  db.reset();
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"})
    std::filesystem::remove(path.string() + suffix, ec);
}
BENCHMARK(BM_FetchAllQuotaLines)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
