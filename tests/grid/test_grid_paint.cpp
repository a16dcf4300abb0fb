// What the grid draws: header colour, footer text, alignment of numbers and texts.
// Set GRID_SNAPSHOT_DIR to keep the rendered images for a look.
#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "qadj/grid/configure.h"
#include "support/grid_fixture.h"

using namespace qadj;
using namespace qadj::grid;

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

}  // namespace

TEST(GridPaint, DetailGridLooksLikeADesktopGrid) {
  gridtest::AppFirst appFirst;
  gridtest::MemDataSet ds{"ClientDataSet2"};
  gridtest::declareDetailFields(ds);
  TDataSource source{"DataSource2"};
  source.SetDataSet(&ds);
  TdxDBGrid grid;
  configureDetailGrid(grid, &source);
  grid.resize(398, 200);
  // Chinese names (GBK) in the name column.
  ds.packet = gridtest::detailPacket({{"0012", "\xD5\xC5\xC8\xFD", 12.5, 2},
                                      {"0013", "\xC0\xEE\xCB\xC4", 8, 0.5},
                                      {"0015", "\xCD\xF5\xCE\xE5", 30, std::nullopt}});
  ds.Open();
  grid.show();
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
  gridtest::AppFirst appFirst;
  gridtest::MemDataSet ds{"ClientDataSet1"};
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
