#include <gtest/gtest.h>

#include <numeric>

#include "qadj/grid/layout.h"
#include "qadj/grid/rows.h"

using namespace qadj::grid;

namespace {
int sum(const std::vector<int>& v) {
  return std::accumulate(v.begin(), v.end(), 0);
}
}  // namespace

TEST(AutoWidths, AlwaysFillTheClientWidthInProportion) {
  const std::vector<int> weights = {48, 58, 58, 96, 52, 100};
  for (int width : {1, 100, 394, 395, 777, 1921}) {
    std::vector<int> w = autoWidths(weights, width);
    EXPECT_EQ(sum(w), width) << width;
  }
  std::vector<int> w = autoWidths({100, 100, 200}, 400);
  EXPECT_EQ(w, (std::vector<int>{100, 100, 200}));
  w = autoWidths({1, 1, 1}, 100);
  EXPECT_EQ(w, (std::vector<int>{33, 34, 33}));
  EXPECT_TRUE(autoWidths({}, 100).empty());
  EXPECT_EQ(autoWidths({0, 0}, 100), (std::vector<int>{0, 0}));
  EXPECT_EQ(autoWidths({5, 5}, 0), (std::vector<int>{0, 0}));
}

TEST(ResizeFilled, KeepsFillAndMinimums) {
  const std::vector<int> widths = {100, 100, 200};
  const std::vector<int> mins = {20, 20, 20};
  std::vector<int> w = resizeFilled(widths, mins, 0, 160, 400);
  EXPECT_EQ(w[0], 160);
  EXPECT_EQ(sum(w), 400);
  EXPECT_EQ(w[1] * 2, w[2]);  // the right-hand columns share in proportion
  w = resizeFilled(widths, mins, 0, 5, 400);
  EXPECT_EQ(w[0], 20);  // never below MinWidth
  w = resizeFilled(widths, mins, 0, 1000, 400);
  EXPECT_EQ(w, (std::vector<int>{360, 20, 20}));
  w = resizeFilled(widths, mins, 1, 50, 400);
  EXPECT_EQ(w[0], 100);  // left of the dragged column nothing moves
  EXPECT_EQ(sum(w), 400);
  EXPECT_EQ(resizeFilled(widths, mins, 2, 10, 400), widths);  // last column: no change
  EXPECT_EQ(clampedWidth(3, 20), 20);
  EXPECT_EQ(clampedWidth(30, 20), 30);
}

TEST(HitTesting, SeparatesHeadersEdgesCellsAndFooter) {
  GridGeometry g;
  g.headerHeight = 20;
  g.rowHeight = 18;
  g.footerHeight = 20;
  g.clientWidth = 300;
  g.clientHeight = 200;
  g.widths = {100, 100, 100};
  g.rowCount = 5;
  g.firstRow = 1;
  EXPECT_EQ(hitTest(g, 50, 10).kind, HitKind::Header);
  EXPECT_EQ(hitTest(g, 150, 10).column, 1);
  HitTest edge = hitTest(g, 101, 10);
  EXPECT_EQ(edge.kind, HitKind::HeaderEdge);
  EXPECT_EQ(edge.column, 0);
  EXPECT_EQ(hitTest(g, 98, 10).kind, HitKind::HeaderEdge);
  HitTest cell = hitTest(g, 250, 20 + 18 + 2);
  EXPECT_EQ(cell.kind, HitKind::Cell);
  EXPECT_EQ(cell.column, 2);
  EXPECT_EQ(cell.row, 2);  // second visible row, first shown is row 1
  EXPECT_EQ(hitTest(g, 10, 20 + 18 * 4 + 1).kind, HitKind::Empty);  // past the last row
  EXPECT_EQ(hitTest(g, 10, 190).kind, HitKind::Footer);
  EXPECT_EQ(hitTest(g, 10, 250).kind, HitKind::Nowhere);
  EXPECT_EQ(g.visibleRows(), 8);
  EXPECT_EQ(dropIndex(g.widths, 150), 1);
  EXPECT_EQ(dropIndex(g.widths, 999), 2);
}

TEST(Scrolling, KeepsTheFocusedRowVisibleAndPagesClamp) {
  EXPECT_EQ(scrollToShow(0, 3, 5), 0);
  EXPECT_EQ(scrollToShow(0, 7, 5), 3);
  EXPECT_EQ(scrollToShow(6, 2, 5), 2);
  EXPECT_EQ(pageMove(0, 10, 100, true), 9);
  EXPECT_EQ(pageMove(95, 10, 100, true), 99);
  EXPECT_EQ(pageMove(3, 10, 100, false), 0);
  EXPECT_EQ(pageMove(0, 10, 0, true), -1);
}

TEST(RowSorting, OrdersByColumnWithKeyTiesAscending) {
  RowStore s;
  s.clear(1);
  // key, value: ties on value 1 between keys "0013" and "0012".
  const std::vector<std::pair<std::string, CellValue>> rows = {
      {"0013", 1.0}, {"0011", 3.0}, {"0012", 1.0}, {"0014", CellValue{}}};
  for (auto& [key, value] : rows) {
    s.keys.push_back(key);
    s.columns[0].push_back(value);
  }
  sortRows(s, 0, TdxGridColumnSorted::csUp);
  EXPECT_EQ(s.order, (std::vector<int>{3, 2, 0, 1}));  // null first, then 1 (0012, 0013), 3
  sortRows(s, 0, TdxGridColumnSorted::csDown);
  EXPECT_EQ(s.order, (std::vector<int>{1, 2, 0, 3}));  // ties still by key ascending
  sortRows(s, 0, TdxGridColumnSorted::csNone);
  EXPECT_EQ(s.order, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(std::get<std::string>(s.keyAt(0)), "0013");
}

TEST(RowSorting, HeaderClickCyclesAndCtrlClears) {
  using enum TdxGridColumnSorted;
  EXPECT_EQ(nextSortState(csNone, false), csUp);
  EXPECT_EQ(nextSortState(csUp, false), csDown);
  EXPECT_EQ(nextSortState(csDown, false), csUp);
  EXPECT_EQ(nextSortState(csUp, true), csNone);
  EXPECT_LT(compareValues(CellValue{}, CellValue{0.0}), 0);
  EXPECT_LT(compareValues(CellValue{5.0}, CellValue{std::string("a")}), 0);
  EXPECT_GT(compareValues(CellValue{std::string("b")}, CellValue{std::string("a")}), 0);
  EXPECT_EQ(displayText(CellValue{2.5}), "2.5");
  EXPECT_EQ(displayText(CellValue{}), "");
}

TEST(OptionSets, BitsFollowDeclarationOrder) {
  using DB = TdxDBGridOptionDB;
  EXPECT_EQ(TdxDBGridOptionsDB{DB::edgoCanAppend}.bits(), 1u);
  EXPECT_EQ(TdxDBGridOptionsDB{DB::edgoUseLocate}.bits(), 1u << 13);
  EXPECT_EQ(kDefaultOptionsDB.bits(), 0x103Eu);
  EXPECT_EQ(kDefaultOptionsView.bits(), (1u << 3) | (1u << 13));
  EXPECT_EQ(kDefaultOptionsBehavior.bits(), (1u << 3) | (1u << 11) | (1u << 12) | (1u << 13) |
                                                (1u << 18) | (1u << 27) | (1u << 28));
  EXPECT_EQ(kDefaultOptionsCustomize.bits(), (1u << 0) | (1u << 2) | (1u << 3) | (1u << 4));
  EXPECT_EQ(TdxDBGridOptionsBehavior{TdxDBGridOptionBehavior::edgoVertThrough}.bits(), 1u << 28);
  TdxDBGridOptionsDB s = kDefaultOptionsDB.with(DB::edgoLoadAllRecords);
  EXPECT_TRUE(s.has(DB::edgoLoadAllRecords));
  EXPECT_FALSE(kDefaultOptionsDB.has(DB::edgoLoadAllRecords));
  s.exclude(DB::edgoCanDelete);
  EXPECT_FALSE(s.has(DB::edgoCanDelete));
  EXPECT_EQ(TdxDBGridOptionsDB::fromBits(s.bits()), s);
}

TEST(TextSpans, ANumberRunsLeftOverCellsWithoutTextOnly) {
  // code, name, (empty), quota total, adjustment total
  const std::vector<bool> hasText{true, false, false, true, true};
  const std::vector<bool> right{false, false, true, true, true};
  EXPECT_EQ(textSpanStarts(hasText, right), (std::vector<int>{0, 1, 2, 1, 4}));
  // A left-aligned text never runs over anything.
  EXPECT_EQ(textSpanStarts({false, true}, {false, false}), (std::vector<int>{0, 1}));
  EXPECT_EQ(textSpanStarts({false, true}, {true, true}), (std::vector<int>{0, 0}));
}
