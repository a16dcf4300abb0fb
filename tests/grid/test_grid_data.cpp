// The grid following its data set: loading, footer totals, reloads inside data-set
// operations, clicks, header sorting and keyboard movement.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>

#include "qadj/server/fields.h"
#include "qadj/widgets/qt_text.h"
#include "qadj/window/window_grids.h"
#include "support/grid_fixture.h"

using namespace qadj;
using namespace qadj::grid;
using gridtest::DetailRow;
using qadj::window::configureDetailGrid;
using qadj::window::configureProductGrid;

namespace {

class DetailGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gridtest::declareDetailFields(ds);
    source.SetDataSet(&ds);
    configureDetailGrid(grid, &source);
    grid.resize(400, 300);
    grid.show();
  }
  void open(const std::vector<DetailRow>& rows) {
    ds.packet = gridtest::detailPacket(rows);
    ds.Open();
  }
  std::string footer() { return grid.ColumnByName("dxDBGrid2TZXL00")->SummaryFooterText(); }
  std::vector<std::string> gridKeys() {
    std::vector<std::string> keys;
    for (int r = 0; r < grid.RowCount(); ++r) keys.push_back(std::get<std::string>(grid.RowKey(r)));
    return keys;
  }
  void clickHeader(int column, Qt::KeyboardModifiers mods = {}) {
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, mods, grid.HeaderRect(column).center());
  }

  gridtest::PacketDataSet ds{"ClientDataSet2"};
  TDataSource source{"DataSource2"};
  TdxDBGrid grid;
};

// Back in the event loop, where the scroll area shows or hides its bars.
void settle() {
  QCoreApplication::processEvents();
}

const std::vector<DetailRow> kThree = {
    {"0013", "B", 10, 2}, {"0012", "A", 20, 0.5}, {"0015", "C", 30, std::nullopt}};

}  // namespace

TEST_F(DetailGridTest, LoadsEveryRecordAndTotalsTheFooter) {
  EXPECT_EQ(footer(), "0.00");  // nothing loaded yet
  open(kThree);
  ASSERT_EQ(grid.RowCount(), 3);
  EXPECT_EQ(gridKeys(), (std::vector<std::string>{"0013", "0012", "0015"}));
  EXPECT_EQ(footer(), "2.50");  // 2 + 0.5 + null counted as 0
  EXPECT_EQ(grid.ColumnByName("dxDBGrid2XL0000")->SummaryFooterText(), "60.00");
  EXPECT_EQ(grid.ColumnByName("dxDBGrid2FXRY00")->SummaryFooterText(), "");  // cstNone
  EXPECT_EQ(grid.CellText(2, 5), "");
  EXPECT_EQ(grid.CellText(1, 5), "0.5");
  EXPECT_EQ(grid.FocusedRow(), 0);
  EXPECT_EQ(grid.SummaryRecordCount(), 3);
  // What a paint shows is each cell's text converted, also where a character is cut,
  // a text holds NUL, or a row came or changed after the load.
  ds.Close();
  open({{"0013", "\xC0\xEE\xCB", 1, 2}, {"0012", std::string("A\0B", 3), 2, 0.5}});
  ds.FieldByName("RYMC00")->SetReadOnly(false);
  ds.Last();
  ds.Insert();
  ds.FieldByName("RYMC00")->SetAsString("\xD5\xC5");
  ds.Post();
  ds.First();
  ds.Edit();
  ds.FieldByName("RYMC00")->SetAsString("\xCB\xEF");
  ds.Post();
  for (int r = 0; r < grid.RowCount(); ++r)
    for (int c = 0; c < grid.ColumnCount(); ++c)
      EXPECT_EQ(grid.cellText(r, c), text::gbkToQString(grid.CellText(r, c))) << r << ", " << c;
  EXPECT_EQ(grid.cellText(0, 1), QString::fromUtf8("孙"));
}

TEST_F(DetailGridTest, EmptyAndNegativeTotals) {
  open({});
  EXPECT_EQ(grid.RowCount(), 0);
  EXPECT_EQ(footer(), "0.00");
  EXPECT_EQ(grid.ColumnByName("dxDBGrid2XL0000")->SummaryFooterText(), "0.00");
  ds.Close();
  open({{"0012", "A", 1, -1}, {"0013", "B", 1, -2}});
  EXPECT_EQ(footer(), "-3.00");
}

TEST_F(DetailGridTest, OtherSummaryKindsOverNulls) {
  TdxDBGridColumn* tz = grid.ColumnByName("dxDBGrid2TZXL00");
  tz->SummaryFooterType = TSummaryType::cstCount;
  open({{"0012", "A", 1, std::nullopt}, {"0013", "B", 1, std::nullopt}});
  EXPECT_EQ(footer(), "2");
  ds.Close();
  tz->SummaryFooterType = TSummaryType::cstMin;
  open({{"0012", "A", 1, 4}, {"0013", "B", 1, std::nullopt}, {"0014", "C", 1, 3}});
  EXPECT_EQ(footer(), "MIN=0.00");
  ds.Close();
  tz->SummaryFooterType = TSummaryType::cstNone;
  open(kThree);
  EXPECT_EQ(footer(), "");
}

TEST_F(DetailGridTest, SummaryEventsRunAroundTheComputation) {
  std::vector<std::string> calls;
  grid.OnBeforeCalcSummary = [&](TdxDBGrid&) { calls.push_back("before"); };
  grid.OnCalcSummary = [&](TdxDBGrid& g) {
    calls.push_back("calc " + g.ColumnByName("dxDBGrid2TZXL00")->SummaryFooterText());
  };
  // The per-record handler sees the data set on the record being added.
  grid.ColumnByName("dxDBGrid2TZXL00")->OnSummaryFooter = [&](TdxDBGridColumn&, TDataSet& d,
                                                              long double& v) {
    calls.push_back(d.FieldByName("FXRY00")->AsString());
    v *= 10;
  };
  open(kThree);
  ds.Next();
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(1);
  ds.Post();
  EXPECT_EQ(calls, (std::vector<std::string>{"before", "0013", "0012", "0015", "calc 25.00",
                                             "before", "0013", "0012", "0015", "calc 30.00"}));
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0012");  // cursor restored
  EXPECT_EQ(grid.FocusedRow(), 1);
}

// Posting or cancelling an edit brings that row and the footer up to date in place; a
// grid that counts every record again (a per-record footer handler makes it do so)
// shows the same rows, texts, order and totals after every step, for a total kept in
// hundredths (sum, average) and one counted again (maximum).
TEST_F(DetailGridTest, AnEndedEditShowsWhatAFullLoadShows) {
  TdxDBGrid reference;
  configureDetailGrid(reference, &source);
  reference.ColumnByName("dxDBGrid2TZXL00")->OnSummaryFooter = [](auto&, auto&, auto&) {};
  std::vector<DetailRow> rows;
  for (int i = 0; i < 12; ++i)
    rows.push_back({"00" + std::to_string(10 + i), "N", double(i), std::nullopt});
  for (TdxDBGrid* g : {&grid, &reference})
    g->ColumnByName("dxDBGrid2TZXL00")->setSorted(TdxGridColumnSorted::csDown);
  auto shown = [](const TdxDBGrid& g) {
    std::vector<std::string> out{g.ColumnByName("dxDBGrid2TZXL00")->SummaryFooterText(),
                                 std::to_string(g.FocusedRow())};
    for (int r = 0; r < g.RowCount(); ++r)
      for (int c = 0; c < g.ColumnCount(); ++c)
        out.push_back(g.CellText(r, c) + "|" + g.cellText(r, c).toStdString());
    return out;
  };
  int step = 0;
  for (TSummaryType type : {TSummaryType::cstSum, TSummaryType::cstMax, TSummaryType::cstAvg}) {
    ds.Close();
    for (TdxDBGrid* g : {&grid, &reference})
      g->ColumnByName("dxDBGrid2TZXL00")->SummaryFooterType = type;
    open(rows);
    for (double typed : {0.125, 2.675, 1.005, 0.3 - 0.1, -4.0, 1e9, 0.0}) {
      for (int record : {3, 7, 3}) {
        ds.First();
        ds.MoveBy(record);
        ds.Edit();
        ds.FieldByName("TZXL00")->SetAsFloat(typed);
        if (++step % 4 == 0)
          ds.Cancel();
        else
          ds.Post();
        ASSERT_EQ(shown(grid), shown(reference)) << "step " << step;
      }
    }
  }
  EXPECT_EQ(footer(), "AVG=0.00");  // the last value written everywhere was 0
}

TEST_F(DetailGridTest, MissingKeyFieldLeavesTheGridEmpty) {
  grid.setKeyField("NOSUCH");
  open(kThree);
  EXPECT_EQ(grid.RowCount(), 0);
  EXPECT_EQ(grid.FocusedRow(), -1);
  EXPECT_EQ(footer(), "0.00");
  // Without navigation the rows need no key.
  grid.setOptionsDB(grid.OptionsDB().exclude(TdxDBGridOptionDB::edgoCanNavigation));
  EXPECT_EQ(grid.RowCount(), 3);
}

TEST_F(DetailGridTest, PostReloadsBeforeReturningAndKeepsTheFocusedRecord) {
  open(kThree);
  ds.Next();
  ds.Next();  // 0015
  EXPECT_EQ(grid.FocusedRow(), 2);
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(7);
  EXPECT_EQ(footer(), "2.50");          // editing: the footer keeps the last load
  EXPECT_EQ(grid.CellText(2, 5), "7");  // the edited row shows its value
  ds.Post();
  EXPECT_EQ(footer(), "9.50");
  EXPECT_EQ(std::get<std::string>(grid.RowKey(grid.FocusedRow())), "0015");
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(0);
  ds.Post();
  EXPECT_EQ(footer(), "2.50");
  ds.Delete();
  EXPECT_EQ(grid.RowCount(), 2);
}

TEST_F(DetailGridTest, InsertAddsOneRowWithoutRecomputing) {
  open(kThree);
  ds.Next();
  ds.Insert();
  ASSERT_EQ(grid.RowCount(), 4);
  EXPECT_EQ(grid.FocusedRow(), 1);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(grid.RowKey(1)));
  EXPECT_EQ(footer(), "2.50");
  ds.FieldByName("TZXL00")->SetAsFloat(4);
  ds.Post();
  EXPECT_EQ(grid.RowCount(), 4);
  EXPECT_EQ(footer(), "6.50");
  ds.Insert();
  ds.Cancel();
  EXPECT_EQ(grid.RowCount(), 4);
}

TEST_F(DetailGridTest, HeaderClickSortsTheGridRowsButNotTheDataSet) {
  open({{"0013", "B", 10, 1}, {"0011", "A", 20, 3}, {"0012", "C", 30, 1}});
  std::vector<std::string> clicked;
  grid.OnColumnClick = [&](TdxDBGrid& g, TdxDBGridColumn& c) {
    clicked.push_back(c.Name);
    EXPECT_EQ(c.Sorted(), TdxGridColumnSorted::csNone);  // before sorting
    (void)g;
  };
  int clicks = 0;
  grid.OnClick = [&](TdxDBGrid&) { ++clicks; };
  clickHeader(5);
  EXPECT_EQ(clicked, (std::vector<std::string>{"dxDBGrid2TZXL00"}));
  EXPECT_EQ(grid.Column(5)->Sorted(), TdxGridColumnSorted::csUp);
  EXPECT_EQ(gridKeys(), (std::vector<std::string>{"0012", "0013", "0011"}));  // ties by key
  EXPECT_EQ(gridKeys()[grid.FocusedRow()], "0013");  // focus stays on the current record
  grid.OnColumnClick = nullptr;
  clickHeader(5);
  EXPECT_EQ(gridKeys(), (std::vector<std::string>{"0011", "0012", "0013"}));
  EXPECT_EQ(gridKeys()[grid.FocusedRow()], "0013");
  EXPECT_EQ(gridtest::columnTexts(ds, "FXRY00"),
            (std::vector<std::string>{"0013", "0011", "0012"}));
  // The sort survives a reload.
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(9);
  ds.Post();
  EXPECT_EQ(gridKeys(), (std::vector<std::string>{"0013", "0011", "0012"}));
  clickHeader(5, Qt::ControlModifier);
  EXPECT_EQ(grid.Column(5)->Sorted(), TdxGridColumnSorted::csNone);
  EXPECT_EQ(gridKeys(), (std::vector<std::string>{"0013", "0011", "0012"}));
  EXPECT_EQ(clicks, 0);
}

TEST_F(DetailGridTest, AutoWidthFillsTheClientAreaAndSizingKeepsMinimum) {
  open(kThree);
  for (int w : {400, 523, 777}) {
    grid.resize(w, 300);
    std::vector<int> widths = grid.DisplayedWidths();
    int total = 0;
    for (int x : widths) total += x;
    EXPECT_EQ(total, grid.viewport()->width());
  }
  // Drag the first column's edge far to the left: it stops at its minimum.
  QRect h = grid.HeaderRect(0);
  QPoint edge(h.right() + 1, h.center().y());
  QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, edge);
  QTest::mouseMove(grid.viewport(), QPoint(edge.x() - 300, edge.y()));
  QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, QPoint(edge.x() - 300, edge.y()));
  EXPECT_EQ(grid.DisplayedWidths()[0], grid.Column(0)->MinWidth);
  EXPECT_EQ(grid.Column(5)->Sorted(), TdxGridColumnSorted::csNone);  // sizing is no click
}

TEST_F(DetailGridTest, DraggingAHeaderMovesTheColumn) {
  open(kThree);
  QPoint from = grid.HeaderRect(0).center();
  QPoint to = grid.HeaderRect(3).center();
  QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, from);
  QTest::mouseMove(grid.viewport(), to);
  QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, to);
  EXPECT_EQ(grid.Column(3)->Name, "dxDBGrid2FXRY00");
  EXPECT_EQ(grid.CellText(0, 3), "0013");
  EXPECT_EQ(grid.Column(0)->Sorted(), TdxGridColumnSorted::csNone);
}

namespace {

class ProductGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gridtest::declareProductFields(ds);
    source.SetDataSet(&ds);
    configureProductGrid(grid, &source);
    grid.resize(370, 200);
    grid.show();
    std::vector<gridtest::ProductRow> rows;
    for (int i = 0; i < 40; ++i)
      rows.push_back({"P" + std::to_string(100 + i), "Name", double(i), 1, double(i) - 1});
    ds.packet = gridtest::productPacket(rows);
    ds.Open();
    grid.OnClick = [this](TdxDBGrid&) {
      clickedCodes.push_back(ds.FieldByName("SPDM00")->AsString());
    };
  }
  void clickCell(int row, int column, QWidget* target = nullptr) {
    QTest::mouseClick(target ? target : grid.viewport(), Qt::LeftButton, {},
                      grid.CellRect(row, column).center());
  }
  void key(int k, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(&grid, static_cast<Qt::Key>(k), mods);
  }

  gridtest::PacketDataSet ds{"ClientDataSet1"};
  TDataSource source{"DataSource1"};
  TdxDBGrid grid;
  std::vector<std::string> clickedCodes;
};

}  // namespace

TEST_F(ProductGridTest, ShowsTheDataSetRecordsWithoutCopies) {
  EXPECT_FALSE(grid.LoadAllMode());
  EXPECT_EQ(grid.RowCount(), 40);
  EXPECT_EQ(grid.CellText(3, 0), "P103");
  EXPECT_EQ(grid.CellText(3, 4), "2");
  EXPECT_EQ(std::get<std::string>(grid.RowKey(3)), "P103");  // read from the record
  ds.Next();
  ds.Next();
  EXPECT_EQ(grid.FocusedRow(), 2);  // the data set moves the focus
}

TEST_F(ProductGridTest, RowClickFiresOnceAfterTheRecordMoved) {
  clickCell(4, 1);
  EXPECT_EQ(clickedCodes, (std::vector<std::string>{"P104"}));
  EXPECT_EQ(grid.FocusedRow(), 4);
  EXPECT_EQ(grid.FocusedColumn(), 1);
  // The immediate editor opened on the clicked cell; a release in the editing state
  // still fires the click.
  EXPECT_TRUE(grid.EditorVisible());
  clickCell(6, 0);
  EXPECT_EQ(clickedCodes, (std::vector<std::string>{"P104", "P106"}));
}

TEST_F(ProductGridTest, HeaderClickIsNoRowClickAndDoesNotSort) {
  int columnClicks = 0;
  grid.OnColumnClick = [&](TdxDBGrid&, TdxDBGridColumn&) { ++columnClicks; };
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.HeaderRect(0).center());
  EXPECT_TRUE(clickedCodes.empty());
  EXPECT_EQ(columnClicks, 1);
  EXPECT_EQ(grid.Column(0)->Sorted(), TdxGridColumnSorted::csNone);
  EXPECT_EQ(grid.CellText(0, 0), "P100");
  // A press on a header that is released elsewhere is no column click either.
  QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, grid.HeaderRect(0).center());
  QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(2, 0).center());
  EXPECT_EQ(columnClicks, 1);
  EXPECT_TRUE(clickedCodes.empty());
}

TEST_F(ProductGridTest, KeyboardMovesTheRecordWithoutClicks) {
  grid.setFocus();
  key(Qt::Key_Down);
  key(Qt::Key_Down);
  EXPECT_EQ(ds.CurrentIndex(), 2);
  key(Qt::Key_Up);
  EXPECT_EQ(ds.CurrentIndex(), 1);
  key(Qt::Key_PageDown);
  const int page = grid.Geometry().visibleRows();
  EXPECT_EQ(ds.CurrentIndex(), 1 + page - 1);
  key(Qt::Key_PageUp);
  EXPECT_EQ(ds.CurrentIndex(), 1);
  key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(ds.CurrentIndex(), 39);
  EXPECT_EQ(grid.FocusedRow(), 39);
  // The focused row was scrolled into view.
  EXPECT_LT(grid.CellRect(39, 0).bottom(), grid.viewport()->height());
  key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(ds.CurrentIndex(), 0);
  EXPECT_TRUE(clickedCodes.empty());
}

TEST_F(ProductGridTest, TheScrollBarIsThereRightAfterTheFirstLoad) {
  QScrollBar* bar = grid.verticalScrollBar();
  settle();
  EXPECT_TRUE(bar->isVisible()) << "40 rows in a grid that shows " << grid.Geometry().visibleRows();
  EXPECT_EQ(bar->maximum(), 40 - grid.Geometry().visibleRows());
  ds.Close();
  settle();
  EXPECT_FALSE(bar->isVisible());
  ds.packet = gridtest::productPacket({{"P1", "Name", 1, 0, 1}});
  ds.Open();
  settle();
  EXPECT_FALSE(bar->isVisible());
  // Dragging the bar scrolls the record window.
  ds.Close();
  std::vector<gridtest::ProductRow> rows;
  for (int i = 0; i < 40; ++i) rows.push_back({"P" + std::to_string(100 + i), "N", 1, 0, 1});
  ds.packet = gridtest::productPacket(rows);
  ds.Open();
  settle();
  ASSERT_TRUE(bar->isVisible());
  bar->setValue(10);
  EXPECT_EQ(grid.CellText(10, 0), "P110");
  EXPECT_EQ(grid.CellRect(10, 0).top(), grid.Geometry().dataTop());
}

TEST_F(DetailGridTest, TheScrollBarFollowsLoadsInsertsAndDeletes) {
  std::vector<DetailRow> rows;
  const int visible = grid.Geometry().visibleRows();
  for (int i = 0; i < visible; ++i) rows.push_back({std::to_string(1000 + i), "N", 1, 0});
  open(rows);
  QScrollBar* bar = grid.verticalScrollBar();
  settle();
  EXPECT_FALSE(bar->isVisible()) << "every row fits";
  ds.Insert();
  settle();
  EXPECT_TRUE(bar->isVisible()) << "one row more than fits";
  ds.Cancel();
  settle();
  EXPECT_FALSE(bar->isVisible());
  ds.Append();
  ds.FieldByName("TZXL00")->SetAsFloat(1);
  ds.Post();
  settle();
  EXPECT_TRUE(bar->isVisible());
  ds.Last();
  ds.Delete();
  settle();
  EXPECT_FALSE(bar->isVisible());
}

TEST(GridFooter, ADateColumnsTotalIsShownAsADate) {
  gridtest::PacketDataSet ds{"Public_qry"};  // default fields: a date/time field for ZDRQ00
  ds.packet.columns = {packet::Column{"DHAO00", "String", 4},
                       packet::Column{"ZDRQ00", "DateTime", 0}};
  ds.packet.rows = {{std::string("D1"), 46364.375}, {std::string("D2"), 46363.0}};
  TDataSource source{"DataSource"};
  source.SetDataSet(&ds);
  TdxDBGrid grid;
  grid.setOptionsDB(grid.OptionsDB().with(TdxDBGridOptionDB::edgoLoadAllRecords));
  grid.setKeyField("DHAO00");
  grid.setDataSource(&source);
  TdxDBGridColumn* date = grid.CreateColumn();
  date->FieldName = "ZDRQ00";
  date->SummaryFooterType = TSummaryType::cstMax;
  ds.Open();
  EXPECT_EQ(date->SummaryFooterText(), "MAX=2026-12-08 09:00:00");
  date->SummaryFooterType = TSummaryType::cstMin;
  ds.Close();
  ds.Open();
  EXPECT_EQ(date->SummaryFooterText(), "MIN=2026-12-07");
  ds.Close();  // the footer keeps the last load's total, still a date
  EXPECT_EQ(date->SummaryFooterText(), "MIN=2026-12-07");
}
