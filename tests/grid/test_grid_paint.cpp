// What the grid draws: header colour, footer text, alignment of numbers and texts.
// Set GRID_SNAPSHOT_DIR to keep the rendered images for a look.
#include <gtest/gtest.h>

#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>

#include "qadj/window/window_grids.h"
#include "support/grid_fixture.h"

using namespace qadj;
using namespace qadj::grid;
using qadj::window::configureDetailGrid;
using qadj::window::configureProductGrid;

namespace {

void keep(const QImage& image, const char* name) {
  QByteArray dir = qgetenv("GRID_SNAPSHOT_DIR");
  if (!dir.isEmpty()) image.save(QString::fromUtf8(dir) + "/" + name);
}

// Returns the x of the leftmost and rightmost pixel in the row band [top, bottom) of
// rect whose colour is dark (text).
std::pair<int, int> inkSpan(const QImage& image, const QRect& rect) {
  int left = -1, right = -1;
  for (int x = rect.left(); x <= rect.right(); ++x)
    for (int y = rect.top(); y <= rect.bottom(); ++y)
      if (qGray(image.pixel(x, y)) < 100) {
        if (left < 0) left = x;
        right = x;
      }
  return {left, right};
}

// Counts the paint events a widget receives.
struct PaintCounter : QObject {
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count;
    return false;
  }
  int count = 0;
};

// A detail grid set up as the window's, of the given width, showing rows.
struct DetailGrid {
  DetailGrid(int width, const std::vector<gridtest::DetailRow>& rows) {
    gridtest::declareDetailFields(ds);
    source.SetDataSet(&ds);
    configureDetailGrid(grid, &source);
    grid.resize(width, 200);
    ds.packet = gridtest::detailPacket(rows);
    ds.Open();
    grid.show();
  }
  gridtest::PacketDataSet ds{"ClientDataSet2"};
  TDataSource source{"DataSource2"};
  TdxDBGrid grid;
};

}  // namespace

TEST(GridPaint, DetailGridLooksLikeADesktopGrid) {
  // Chinese names (GBK) in the name column.
  DetailGrid detail(398, {{"0012", "\xD5\xC5\xC8\xFD", 12.5, 2},
                          {"0013", "\xC0\xEE\xCB\xC4", 8, 0.5},
                          {"0015", "\xCD\xF5\xCE\xE5", 30, std::nullopt}});
  TdxDBGrid& grid = detail.grid;
  QImage image = grid.viewport()->grab().toImage();
  keep(grid.grab().toImage(), "detail_grid.png");

  // Headers on HeaderColor.
  QRect header = grid.HeaderRect(2);
  EXPECT_EQ(QColor(image.pixel(header.left() + 4, header.top() + 3)), QColor(197, 217, 220));
  // Numbers right-aligned, texts left-aligned.
  QRect number = grid.CellRect(2, 4);  // a row that is not focused
  auto [numLeft, numRight] = inkSpan(image, number.adjusted(1, 1, -2, -2));
  EXPECT_GT(numLeft, number.center().x());
  EXPECT_GE(numRight, number.right() - 8);
  QRect code = grid.CellRect(2, 0);
  auto [codeLeft, codeRight] = inkSpan(image, code.adjusted(1, 1, -2, -2));
  EXPECT_LE(codeLeft, code.left() + 6);
  EXPECT_LT(codeRight, code.center().x() + 10);
  // The footer shows text under the summed columns only.
  const int footerTop = grid.viewport()->height() - 20;
  QRect sumCell(number.left(), footerTop, number.width(), 18);
  EXPECT_GT(inkSpan(image, sumCell).first, 0);
  QRect noSum(code.left(), footerTop, code.width(), 18);
  EXPECT_EQ(inkSpan(image, noSum).first, -1);
}

TEST(GridPaint, ProductGridHasNoFooter) {
  gridtest::PacketDataSet ds{"ClientDataSet1"};
  gridtest::declareProductFields(ds);
  TDataSource source{"DataSource1"};
  source.SetDataSet(&ds);
  TdxDBGrid grid;
  configureProductGrid(grid, &source);
  grid.resize(369, 200);
  ds.packet = gridtest::productPacket(
      {{"P001", "\xC2\xCC\xB2\xE8", 10, 2, 8}, {"P002", "\xBA\xEC\xB2\xE8", 5, 5, 0}});
  ds.Open();
  grid.show();
  QImage before = grid.viewport()->grab().toImage();
  keep(grid.grab().toImage(), "product_grid.png");
  // The product grid draws no footer: the bottom line is plain background.
  EXPECT_EQ(QColor(before.pixel(5, before.height() - 3)), grid.palette().color(QPalette::Base));
}

TEST(GridPaint, ANumberIsShownWholeOrVisiblyCutNeverAsAnotherNumber) {
  // The detail grid as the window lays it out.
  DetailGrid detail(396, {{"0012", "A", 9141, 0}, {"0013", "B", 6000, 0}});
  TdxDBGrid& grid = detail.grid;
  constexpr int kQuota = 4;
  const QRect quotaCell = grid.CellRect(0, kQuota);
  auto footerOf = [&](int column) {
    for (const auto& t : grid.FooterTexts())
      if (t.column == column) return t;
    return TdxDBGrid::DrawnText{};
  };
  // The quota total is wider than its column: it runs left over the footer cell
  // without a total, shown whole.
  const auto total = footerOf(kQuota);
  EXPECT_EQ(total.text, QStringLiteral("15141.00"));
  EXPECT_LT(total.rect.left(), quotaCell.left());
  EXPECT_LE(total.rect.right(), quotaCell.right());
  QImage image = grid.viewport()->grab().toImage();
  keep(image, "detail_footer.png");
  EXPECT_LT(inkSpan(image, total.rect).first, quotaCell.left() + 3) << "drawn where laid out";
  // With no room at all, the cut shows as an ellipsis.
  grid.resize(150, 200);
  const auto cut = footerOf(kQuota);
  EXPECT_TRUE(cut.text == QStringLiteral("15141.00") || cut.text.endsWith(QChar(0x2026)))
      << cut.text.toStdString();
  for (const auto& t : grid.RowTexts(0)) {
    if (t.column == kQuota) {
      EXPECT_TRUE(t.text == QStringLiteral("9141") || t.text.endsWith(QChar(0x2026)))
          << t.text.toStdString();
    }
  }
  // A number in a data cell does not run over a neighbour that shows a text.
  grid.resize(396, 200);
  for (const auto& t : grid.RowTexts(0)) {
    if (t.column == kQuota) {
      EXPECT_GE(t.rect.left(), quotaCell.left());
    }
  }
}

TEST(GridPaint, OnlyTheGridWithTheKeyboardFocusShowsItsFocusedCell) {
  gridtest::PacketDataSet products{"ClientDataSet1"}, details{"ClientDataSet2"};
  gridtest::declareProductFields(products);
  gridtest::declareDetailFields(details);
  TDataSource productSource{"DataSource1"}, detailSource{"DataSource2"};
  productSource.SetDataSet(&products);
  detailSource.SetDataSet(&details);
  QWidget window;
  TdxDBGrid productGrid(&window), detailGrid(&window);
  QLineEdit elsewhere(&window);
  elsewhere.setGeometry(0, 210, 100, 20);
  configureProductGrid(productGrid, &productSource);
  configureDetailGrid(detailGrid, &detailSource);
  productGrid.setGeometry(0, 0, 369, 200);
  detailGrid.setGeometry(372, 0, 396, 200);
  products.packet = gridtest::productPacket({{"P001", "A", 10, 2, 8}, {"P002", "B", 5, 5, 0}});
  details.packet = gridtest::detailPacket({{"0012", "A", 1, 0}, {"0013", "B", 2, 0}});
  products.Open();
  details.Open();
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  const QColor highlight = productGrid.palette().color(QPalette::Highlight);
  // Whether any pixel of the grid's data rows has the focused-cell colour (an open
  // editor covers the cell, so it counts too).
  auto looksFocused = [&](TdxDBGrid& g) {
    if (g.EditorVisible()) return true;
    const QImage image = g.viewport()->grab().toImage();
    for (int y = g.Geometry().dataTop(); y < g.Geometry().dataTop() + 2 * g.Geometry().rowHeight;
         ++y)
      for (int x = 0; x < image.width(); ++x)
        if (QColor(image.pixel(x, y)) == QColor(highlight.rgb())) return true;
    return false;
  };
  QTest::mouseClick(productGrid.viewport(), Qt::LeftButton, {},
                    productGrid.CellRect(1, 1).center());
  EXPECT_TRUE(looksFocused(productGrid));
  QTest::mouseClick(detailGrid.viewport(), Qt::LeftButton, {}, detailGrid.CellRect(1, 0).center());
  EXPECT_TRUE(looksFocused(detailGrid));
  EXPECT_FALSE(looksFocused(productGrid)) << "two grids look focused at once";
  // What is on the screen: the grid repaints when it loses the focus.
  PaintCounter painted(detailGrid.viewport());
  elsewhere.setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
  EXPECT_GT(painted.count, 0) << "the grid kept its focused look on the screen";
  EXPECT_FALSE(looksFocused(detailGrid));
  EXPECT_FALSE(looksFocused(productGrid));
}
