// Full load-all reload of the detail grid with its footer sums, beside a plain loop
// that copies the same values and sums them; a Post on a detail grid; and
// detail_edit_10k: twenty adjustments typed and posted on a 10 000-row detail, beside
// a QTableView on a QStandardItemModel holding the same rows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "qadj/server/data_source.h"
#include "qadj/server/dataset.h"
#include "qadj/server/fields.h"
#include "qadj/testing/packet_dataset.h"
#include "qadj/testing/window_packets.h"
#include "qadj/window/window_datasets.h"
#include "qadj/window/window_grids.h"

namespace {

using qadj::packet::Packet;
using qadj::packet::Value;

Packet detailPacket(int rows) {
  std::vector<qadj::testing::DetailRow> out;
  for (int i = 0; i < rows; ++i)
    out.push_back({std::to_string(10000 + i), "\xD5\xC5\xC8\xFD", 100.0 + i, double(i % 7), "P001",
                   "Green tea 250g"});
  return qadj::testing::detailPacket(out);
}

struct Detail {
  explicit Detail(int rows) : ds("ClientDataSet2", detailPacket(rows)) {
    qadj::declareDetailFields(ds);  // as the window declares them
    source.SetDataSet(&ds);
    qadj::window::configureDetailGrid(grid, &source);
    grid.resize(400, 300);
    ds.Open();
  }
  qadj::testing::PacketDataSet ds;
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

// A paint of the detail grid's screen (10 000 rows loaded): the texts it shows were
// converted at the load, the numbers are formatted here.
void BM_DetailGridPaint(benchmark::State& state) {
  Detail d(10000);
  d.grid.resize(420, 600);
  QImage image(d.grid.size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) d.grid.render(&image);
}

BENCHMARK(BM_GridReload)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainCopyAndSum)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GridPostChangedValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetailGridPaint)->Unit(benchmark::kMillisecond);

// detail_edit_10k. Both sides hold the same 10 000 rows, are shown at the same size on
// the offscreen platform, and take the same gestures for each of 20 edits: a click on
// the adjustment cell of one of the first 20 rows, "1.5" (or "2.5" on odd iterations,
// so that every edit changes the value) typed as key presses, Return, and a turn of the
// event loop that paints what changed. Ours: the window's detail grid over its data set, the
// adjustment posted by the Edited handler as the window posts it, the footer total kept
// by the grid. Peer: the item view's own editor and model, no total.
constexpr int kEditRows = 10000, kEdits = 20, kEditWidth = 420, kEditHeight = 600;

// Types text as key presses: the first to `start`, the rest to whatever then has the
// keyboard focus (the editor the first key opened), Return last; then one turn of the
// event loop, in which the item view commits its editor and both repaint what changed.
void typeAndCommit(QWidget* start, const char* text) {
  QWidget* target = start;
  for (const char* c = text; *c; ++c) {
    QTest::keyClick(target, *c);
    if (QWidget* focus = QApplication::focusWidget()) target = focus;
  }
  QTest::keyClick(target, Qt::Key_Return);
  QCoreApplication::processEvents();
}

void BM_DetailEdit10k_Ours(benchmark::State& state) {
  Detail d(kEditRows);
  d.grid.resize(kEditWidth, kEditHeight);
  d.grid.OnEdited = [&d](qadj::grid::TdxDBGrid&, int) {
    d.ds.Edit();
    d.ds.Post();
  };
  d.grid.show();
  QApplication::setActiveWindow(&d.grid);
  d.grid.setFocus();
  const int column = 5;  // TZXL00
  qadj::TField* adjustment = d.ds.FieldByName("TZXL00");
  int iteration = 0;
  for (auto _ : state) {
    const char* typed = iteration++ % 2 ? "2.5" : "1.5";
    for (int edit = 0; edit < kEdits; ++edit) {
      QTest::mouseClick(d.grid.viewport(), Qt::LeftButton, {},
                        d.grid.CellRect(edit, column).center());
      typeAndCommit(&d.grid, typed);
    }
    if (iteration == 1 && (adjustment->AsFloat() != 1.5 || d.ds.RecNo() != kEdits)) {
      state.SkipWithError("the typed adjustments did not reach the data set");
      return;
    }
  }
}
BENCHMARK(BM_DetailEdit10k_Ours)->Unit(benchmark::kMillisecond);

void BM_DetailEdit10k_Peer(benchmark::State& state) {
  QStandardItemModel model(kEditRows, 6);
  for (int r = 0; r < kEditRows; ++r) {
    const QString code = QString::number(10000 + r);
    model.setItem(r, 0, new QStandardItem(code));
    model.setItem(r, 1, new QStandardItem(QString::fromUtf8("张三")));
    model.setItem(r, 2, new QStandardItem(QStringLiteral("P001")));
    model.setItem(r, 3, new QStandardItem(QStringLiteral("Green tea 250g")));
    auto* quota = new QStandardItem;
    quota->setData(100.0 + r, Qt::EditRole);
    model.setItem(r, 4, quota);
    auto* adjust = new QStandardItem;
    adjust->setData(double(r % 7), Qt::EditRole);
    model.setItem(r, 5, adjust);
  }
  QTableView view;
  view.setModel(&model);
  view.setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed);
  view.resize(kEditWidth, kEditHeight);
  view.show();
  QApplication::setActiveWindow(&view);
  view.setFocus();
  const int column = 5;
  int iteration = 0;
  for (auto _ : state) {
    const char* typed = iteration++ % 2 ? "2.5" : "1.5";
    for (int edit = 0; edit < kEdits; ++edit) {
      QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                        view.visualRect(model.index(edit, column)).center());
      typeAndCommit(&view, typed);
    }
    if (iteration == 1 && model.data(model.index(kEdits - 1, column)).toDouble() != 1.5) {
      state.SkipWithError("the typed adjustments did not reach the model");
      return;
    }
  }
}
BENCHMARK(BM_DetailEdit10k_Peer)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
