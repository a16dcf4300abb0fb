// product_grid_paint_scroll: the product grid from its query to the first painted
// screen, then scrolled to the last row and painted again, beside QSqlQueryModel +
// QTableView (QSQLITE driver) doing the same on the same SQLite file: 10 000 products
// of one giver in the working table. Both widgets are shown on the offscreen platform
// with the same size and painted into a QImage with render().
//
// Ours: TClientDataSet (server object in-process, its PGTQADJ0 filled once by m_qadj)
// Open, render, Last, render, Close. Peer: setQuery, render, fetchMore until all rows
// are in, scrollToBottom, render, clear. The peer's connection has its own temporary
// PGTQADJ0 with the same rows, and its query text has the ORDER BY that SQLite accepts
// (ORDER BY 1, as our server rewrites the window's ORDER BY SPDM00).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <memory>
#include <stdexcept>
#include <string>

#include "qadj/appserver/costore_product.h"
#include "qadj/appserver/database.h"
#include "qadj/appserver/embedded.h"
#include "qadj/appserver/provider.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/connection.h"
#include "qadj/server/data_source.h"
#include "qadj/window/window_datasets.h"
#include "qadj/window/window_grids.h"
#include "support/quota_data.h"

namespace {

using namespace qadj;

constexpr int kProducts = 10000;
constexpr int kWidth = 420, kHeight = 480;

// The seeded database file, made once per run and removed at exit.
const bench::SeededSqliteFile& seededFile() {
  static const bench::SeededSqliteFile file("grid", {.receivers = 10, .products = kProducts});
  return file;
}

// With QADJ_BENCH_SHOTS set to a folder, the last screen of the first iteration is
// saved there as NAME.png, to look at what was painted.
void keepShot(const QImage& image, const char* name) {
  const QByteArray dir = qgetenv("QADJ_BENCH_SHOTS");
  if (!dir.isEmpty()) image.save(QString::fromUtf8(dir) + "/" + name + ".png");
}

bool atBottom(QAbstractScrollArea& area) {
  const QScrollBar* bar = area.verticalScrollBar();
  return bar->maximum() > 0 && bar->value() == bar->maximum();
}

void BM_ProductGridPaintScroll_Ours(benchmark::State& state) {
  const std::string path = seededFile().path();
  if (com::failed(com::CoRegisterClass(CLSID_CoStoreProduct, kCoStoreProductProgId, [path] {
        return appserver::createCoStoreProduct(appserver::sqliteUrl(path));
      }))) {
    state.SkipWithError("cannot register the server class");
    return;
  }
  {
    TDCOMConnection dcom;
    dcom.SetServerGUID(CLSID_CoStoreProduct.toString());
    WindowDataSets sets = CreateWindowDataSets(&dcom);
    TClientDataSet& products = *sets.clientDataSet1;
    TDataSource source("DataSource1");
    source.SetDataSet(&products);
    grid::TdxDBGrid grid;
    window::configureProductGrid(grid, &source);
    grid.resize(kWidth, kHeight);
    grid.show();
    QImage image(grid.size(), QImage::Format_ARGB32_Premultiplied);
    try {
      dcom.Connect();
      std::string giver = bench::giverCode(0);
      dcom.CallMethod("m_qadj",
                      {DispatchArg::textRef(giver), DispatchArg::date(bench::quotaDateValue())});
      products.SetCommandText(statements::productQuery());
      bool checked = false;
      for (auto _ : state) {
        products.Open();
        grid.render(&image);
        products.Last();
        grid.render(&image);
        if (!checked) {
          checked = true;
          keepShot(image, "product_grid_ours");
          if (products.RecordCount() != kProducts || !atBottom(grid))
            throw std::runtime_error("the grid did not show every product or did not scroll");
        }
        products.Close();
      }
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
    }
    grid.setDataSource(nullptr);
    sets = {};
  }
  com::CoRevokeClass(CLSID_CoStoreProduct);
}
BENCHMARK(BM_ProductGridPaintScroll_Ours)->Unit(benchmark::kMillisecond);

void BM_ProductGridPaintScroll_Peer(benchmark::State& state) {
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peer"));
    db.setDatabaseName(QString::fromStdString(seededFile().path()));
    if (!db.open()) {
      state.SkipWithError(("QSQLITE: " + db.lastError().text().toStdString()).c_str());
      return;
    }
    QSqlQuery fill(db);
    const bool filled =
        fill.exec(QStringLiteral("CREATE TEMP TABLE PGTQADJ0 (SPDM00 VARCHAR(8) NOT NULL PRIMARY "
                                 "KEY, XL0000 DOUBLE PRECISION NOT NULL DEFAULT 0, YFXSL0 DOUBLE "
                                 "PRECISION NOT NULL DEFAULT 0, KTZXL0 DOUBLE PRECISION NOT NULL "
                                 "DEFAULT 0)")) &&
        fill.exec(QStringLiteral("INSERT INTO PGTQADJ0 SELECT A.SPDM00, SUM(A.XL0000), 0, "
                                 "SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B WHERE "
                                 "A.DHAO00=B.DHAO00 AND A.FXRY00='") +
                  QString::fromStdString(bench::giverCode(0)) +
                  QStringLiteral("' GROUP BY A.SPDM00"));
    if (!filled) {
      state.SkipWithError(("QSQLITE: " + fill.lastError().text().toStdString()).c_str());
      return;
    }
    // The statement the server runs for the window's product query.
    const QString text = QString::fromUtf8(
        appserver::servedQuery(statements::Kind::ProductQuery).sql.data(),
        static_cast<int>(appserver::servedQuery(statements::Kind::ProductQuery).sql.size()));
    {
      QSqlQueryModel model;
      QTableView view;
      view.setModel(&model);
      view.resize(kWidth, kHeight);
      view.show();
      QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
      bool checked = false;
      for (auto _ : state) {
        model.setQuery(text, db);
        view.render(&image);
        while (model.canFetchMore()) model.fetchMore();
        view.scrollToBottom();
        view.render(&image);
        if (!checked) {
          checked = true;
          keepShot(image, "product_grid_peer");
          if (model.rowCount() != kProducts || !atBottom(view)) {
            state.SkipWithError("the view did not show every product or did not scroll");
            break;
          }
        }
        model.clear();
      }
    }
    fill = QSqlQuery();
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("peer"));
}
BENCHMARK(BM_ProductGridPaintScroll_Peer)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  com::CoInitialize();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  com::CoUninitialize();
  return 0;
}
