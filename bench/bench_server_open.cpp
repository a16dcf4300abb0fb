// Opening a data set on a 100 000-row packet of the detail query's shape, and walking
// it reading every field, beside a plain memcpy of the same packet bytes. Compare the
// bytes_per_second of BM_MemcpyPacket with BM_OpenDataSet (target: open no slower
// than ten memcpys).
#include <benchmark/benchmark.h>

#include <cstring>

#include "qadj/server/client_dataset.h"
#include "qadj/testing/app_server_stub.h"
#include "support/detail_packet.h"

namespace {

using namespace qadj;

using bench::detailPacketBytes;
constexpr int kRows = bench::kDetailPacketRows;

// Hands out the packet as FetchRecords' result, as the transport would.
class PacketServer : public testing::AppServerStub, public TCustomRemoteServer {
 public:
  com::HRESULT FetchRecords(const std::u16string&, std::int32_t, std::int32_t& recsOut,
                            std::int32_t options, const std::u16string&, com::Variant&,
                            com::Variant&, com::Variant& result) override {
    if (options == kFetchReset) return com::S_OK;
    result = com::Variant::bytes(detailPacketBytes());
    recsOut = kRows;
    return com::S_OK;
  }
  com::HRESULT ExecuteCommand(const std::u16string&, const std::u16string&, com::Variant&,
                              com::Variant&) override {
    return com::S_OK;
  }
  std::shared_ptr<IAppServer> GetRecordSetInterface() override {
    return std::shared_ptr<IAppServer>(std::shared_ptr<void>(), this);  // not owned
  }
};

void setCounters(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * kRows);
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(detailPacketBytes().size()));
}

void BM_MemcpyPacket(benchmark::State& state) {
  const auto& src = detailPacketBytes();
  std::vector<std::uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  setCounters(state);
}
BENCHMARK(BM_MemcpyPacket)->Unit(benchmark::kMillisecond);

void BM_DecodeOnly(benchmark::State& state) {
  for (auto _ : state) {
    auto p = packet::decode(detailPacketBytes());
    benchmark::DoNotOptimize(p.rows.data());
    state.PauseTiming();
    p = {};
    state.ResumeTiming();
  }
  setCounters(state);
}
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond);

void BM_OpenDataSet(benchmark::State& state) {
  PacketServer server;
  TClientDataSet ds("ClientDataSet2");
  ds.SetProviderName("PUBLIC_DSP");
  ds.SetRemoteServer(&server);
  ds.SetCommandText("detail");
  for (auto _ : state) {
    ds.Open();
    benchmark::DoNotOptimize(ds.RecordCount());
    state.PauseTiming();
    ds.Close();
    state.ResumeTiming();
  }
  setCounters(state);
}
BENCHMARK(BM_OpenDataSet)->Unit(benchmark::kMillisecond);

void BM_WalkDataSet(benchmark::State& state) {
  PacketServer server;
  TClientDataSet ds("ClientDataSet2");
  ds.SetProviderName("PUBLIC_DSP");
  ds.SetRemoteServer(&server);
  ds.SetCommandText("detail");
  ds.Open();
  const auto& fields = ds.Fields();
  for (auto _ : state) {
    std::size_t textBytes = 0;
    double sum = 0;
    ds.First();
    while (!ds.Eof()) {
      for (TField* f : fields) {
        if (f->DataType() == TFieldType::ftString)
          textBytes += f->AsString().size();
        else
          sum += f->AsFloat();
      }
      ds.Next();
    }
    benchmark::DoNotOptimize(textBytes);
    benchmark::DoNotOptimize(sum);
  }
  setCounters(state);
}
BENCHMARK(BM_WalkDataSet)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
