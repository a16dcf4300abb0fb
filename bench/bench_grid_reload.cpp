// Full load-all reload of the detail grid with its footer sums, beside a plain loop
// that copies the same values and sums them; and a Post on a detail grid.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "qadj/server/data_source.h"
#include "qadj/server/dataset.h"
#include "qadj/server/fields.h"
#include "qadj/testing/window_packets.h"
#include "qadj/window/window_datasets.h"
#include "qadj/window/window_grids.h"

namespace {

using qadj::packet::Packet;
using qadj::packet::Value;

class MemDataSet : public qadj::TDataSet {
 public:
  explicit MemDataSet(const Packet& p)
      : TDataSet("ClientDataSet2"), bytes_(qadj::packet::encode(p)) {}

 protected:
  std::unique_ptr<qadj::RecordSet> DoOpen() override {
    qadj::com::ByteArray copy = bytes_;  // as a fetch hands its reply over
    return std::make_unique<qadj::RecordSet>(std::move(copy));
  }

 private:
  qadj::com::ByteArray bytes_;
};

Packet detailPacket(int rows) {
  std::vector<qadj::testing::DetailRow> out;
  for (int i = 0; i < rows; ++i)
    out.push_back({std::to_string(10000 + i), "\xD5\xC5\xC8\xFD", 100.0 + i, double(i % 7), "P001",
                   "Green tea 250g"});
  return qadj::testing::detailPacket(out);
}

struct Detail {
  explicit Detail(int rows) : ds(detailPacket(rows)) {
    qadj::declareDetailFields(ds);  // as the window declares them
    source.SetDataSet(&ds);
    qadj::window::configureDetailGrid(grid, &source);
    grid.resize(400, 300);
    ds.Open();
  }
  MemDataSet ds;
  qadj::TDataSource source{"DataSource2"};
  qadj::grid::TdxDBGrid grid;
};

// A reload through a general change of the data set (First): the grid copies every
// record, converts its texts for painting and sums.
void BM_GridReload(benchmark::State& state) {
  Detail d(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    d.ds.First();
    benchmark::DoNotOptimize(d.grid.RowCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The same values copied into vectors and the two sums, in a plain loop.
void BM_PlainCopyAndSum(benchmark::State& state) {
  Detail d(static_cast<int>(state.range(0)));
  std::vector<qadj::TField*> fields = d.ds.Fields();
  qadj::TField* key = d.ds.FieldByName("FXRY00");
  qadj::TField* quota = d.ds.FieldByName("XL0000");
  qadj::TField* adjust = d.ds.FieldByName("TZXL00");
  for (auto _ : state) {
    std::vector<std::vector<Value>> columns(fields.size());
    std::vector<Value> keys;
    const int n = d.ds.RecordCount();
    for (auto& c : columns) c.reserve(n);
    keys.reserve(n);
    long double s1 = 0, s2 = 0;
    for (int i = 0; i < n; ++i) {
      for (std::size_t c = 0; c < fields.size(); ++c) columns[c].push_back(fields[c]->ValueAt(i));
      keys.push_back(key->ValueAt(i));
      const Value q = quota->ValueAt(i);
      const Value a = adjust->ValueAt(i);
      if (auto* v = std::get_if<double>(&q)) s1 += *v;
      if (auto* v = std::get_if<double>(&a)) s2 += *v;
    }
    benchmark::DoNotOptimize(s1 + s2);
    benchmark::DoNotOptimize(columns.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A Post of a changed adjustment on a 10 000-row detail grid: that row and the footer
// are refreshed (target: under 16 ms).
void BM_GridPostChangedValue(benchmark::State& state) {
  Detail d(10000);
  double v = 0;
  for (auto _ : state) {
    d.ds.Edit();
    d.ds.FieldByName("TZXL00")->SetAsFloat(v += 1);
    d.ds.Post();
  }
}

BENCHMARK(BM_GridReload)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopyAndSum)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridPostChangedValue)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
