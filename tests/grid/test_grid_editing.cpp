// Cell editing and the keyboard operations on records.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include "qadj/platform/error.h"
#include "qadj/server/fields.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/widgets/message_box.h"
#include "qadj/window/window_grids.h"
#include "support/grid_fixture.h"

using namespace qadj;
using namespace qadj::grid;
using gridtest::DetailRow;
using qadj::window::configureDetailGrid;
using qadj::window::configureProductGrid;

namespace {

constexpr int kQuotaColumn = 4;
constexpr int kAdjustColumn = 5;

class EditingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gridtest::declareDetailFields(ds);
    source.SetDataSet(&ds);
    configureDetailGrid(grid, &source);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(&grid);
    layout->addWidget(&other);
    window.resize(420, 320);
    window.show();
    ds.packet = gridtest::detailPacket(
        {{"0013", "B", 10, 2}, {"0012", "A", 20, 0.5}, {"0015", "C", 30, std::nullopt}});
    ds.Open();
    grid.Beep = [this] { ++beeps; };
    grid.OnEdited = [this](TdxDBGrid&, int row) {
      edited.push_back({row, ds.State(), tz()->AsString(), footer()});
      if (postInEdited) {
        ds.Edit();
        ds.Post();
        footerAfterPost = footer();
      }
    };
    previousReporter = setErrorReporter([this](std::exception_ptr e) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        errors.push_back(ex.what());
      }
    });
  }
  void TearDown() override { setErrorReporter(previousReporter); }

  TField* tz() { return ds.FieldByName("TZXL00"); }
  std::string footer() { return grid.ColumnByName("dxDBGrid2TZXL00")->SummaryFooterText(); }
  void focusCell(int record, int column) {
    ds.First();
    ds.MoveBy(record);
    grid.setFocusedColumn(column);
    grid.setFocus();
  }
  void key(QWidget* w, int k, Qt::KeyboardModifiers mods = {}) {
    QTest::keyClick(w, static_cast<Qt::Key>(k), mods);
  }
  QLineEdit* editor() { return grid.Editor(); }

  struct Edited {
    int row;
    TDataSetState state;
    std::string value;
    std::string footer;
  };

  gridtest::PacketDataSet ds{"ClientDataSet2"};
  TDataSource source{"DataSource2"};
  QWidget window;
  TdxDBGrid grid{&window};
  QLineEdit other{&window};
  int beeps = 0;
  bool postInEdited = false;
  std::string footerAfterPost;
  std::vector<Edited> edited;
  std::vector<std::string> errors;
  ErrorReporter previousReporter;
};

}  // namespace

TEST_F(EditingTest, TypedValueIsWrittenBeforeTheEditedEventAndPostedByIt) {
  focusCell(0, kAdjustColumn);
  key(&grid, Qt::Key_Return);
  ASSERT_TRUE(grid.EditorVisible());
  EXPECT_EQ(editor()->text(), "2");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);  // opening is no change
  const QRect cell = grid.CellRect(0, kAdjustColumn);
  EXPECT_EQ(editor()->geometry(), cell.adjusted(-2, -2, 2, 2));
  postInEdited = true;
  QTest::keyClicks(editor(), "5");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  EXPECT_TRUE(grid.RowModified());
  key(editor(), Qt::Key_Return);
  ASSERT_EQ(edited.size(), 1u);
  EXPECT_EQ(edited[0].row, 0);
  EXPECT_EQ(edited[0].state, TDataSetState::dsEdit);  // written, not posted
  EXPECT_EQ(edited[0].value, "5");                    // the selected opening text was replaced
  EXPECT_EQ(edited[0].footer, "2.50");
  EXPECT_EQ(footerAfterPost, "5.50");  // the post in the handler reloaded at once
  EXPECT_FALSE(grid.EditorVisible());
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(errors.empty());
}

TEST_F(EditingTest, ReadOnlyColumnAndEscapeWriteNothingButStillNotify) {
  focusCell(1, kQuotaColumn);
  key(&grid, Qt::Key_Return);
  ASSERT_TRUE(grid.EditorVisible());
  QTest::keyClicks(editor(), "9");  // refused: XL0000 is read-only
  EXPECT_EQ(editor()->text(), "20");
  key(editor(), Qt::Key_Return);
  ASSERT_EQ(edited.size(), 1u);
  EXPECT_EQ(edited[0].state, TDataSetState::dsBrowse);
  EXPECT_EQ(ds.FieldByName("XL0000")->AsString(), "20");

  grid.setFocusedColumn(kAdjustColumn);
  key(&grid, Qt::Key_Return);
  editor()->selectAll();
  QTest::keyClicks(editor(), "5");
  EXPECT_EQ(editor()->text(), "5");
  key(editor(), Qt::Key_Escape);
  ASSERT_EQ(edited.size(), 2u);
  EXPECT_EQ(edited[1].value, "0.5");  // nothing written
  EXPECT_EQ(grid.CellText(1, kAdjustColumn), "0.5");
  EXPECT_FALSE(grid.EditorVisible());
}

TEST_F(EditingTest, InvalidCharactersBeepAndPrintableKeysOpenTheEditor) {
  focusCell(2, kAdjustColumn);
  key(&grid, Qt::Key_7);
  ASSERT_TRUE(grid.EditorVisible());
  EXPECT_EQ(editor()->text(), "7");  // opened by the key, holding it
  QTest::keyClicks(editor(), "a");
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(editor()->text(), "7");
  QTest::keyClicks(editor(), "E+1");
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(editor()->text(), "7E+1");
  key(editor(), Qt::Key_Return);
  EXPECT_EQ(tz()->AsString(), "70");
}

TEST_F(EditingTest, ConversionErrorReachesTheErrorFrameAndKeepsTheValue) {
  focusCell(0, kAdjustColumn);
  key(&grid, Qt::Key_Plus);
  EXPECT_EQ(editor()->text(), "+");
  key(editor(), Qt::Key_Return);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "'+' is not a valid floating point value for field 'TZXL00'");
  EXPECT_EQ(tz()->AsString(), "2");
  EXPECT_TRUE(edited.empty());
  EXPECT_TRUE(grid.EditorVisible());  // the operator can correct the text
  editor()->selectAll();
  QTest::keyClicks(editor(), "3");
  key(editor(), Qt::Key_Return);
  EXPECT_EQ(tz()->AsString(), "3");
  EXPECT_EQ(edited.size(), 1u);
}

TEST_F(EditingTest, PendingValueIsWrittenInsideTheDataSetsMoveToFirst) {
  focusCell(2, kAdjustColumn);
  key(&grid, Qt::Key_4);
  int indexDuringEvent = -1;
  grid.OnEdited = [&](TdxDBGrid&, int) {
    indexDuringEvent = ds.CurrentIndex();
    edited.push_back({0, ds.State(), tz()->AsString(), footer()});
  };
  ds.First();
  ASSERT_EQ(edited.size(), 1u);
  EXPECT_EQ(indexDuringEvent, 2);  // before the move completed
  EXPECT_EQ(edited[0].value, "4");
  EXPECT_EQ(ds.CurrentIndex(), 0);
  EXPECT_EQ(gridtest::columnTexts(ds, "TZXL00")[2], "4");
  EXPECT_EQ(footer(), "6.50");
  EXPECT_FALSE(grid.EditorVisible());
}

TEST_F(EditingTest, ReloadClosesTheEditorWithoutTheEvent) {
  focusCell(0, kAdjustColumn);
  key(&grid, Qt::Key_Return);
  ASSERT_TRUE(grid.EditorVisible());
  ds.Edit();  // the owner's code edits and posts: the post reloads the grid
  tz()->SetAsFloat(9);
  ds.Post();
  EXPECT_FALSE(grid.EditorVisible());
  EXPECT_TRUE(edited.empty());
  EXPECT_EQ(footer(), "9.50");
  key(&grid, Qt::Key_5);
  ASSERT_TRUE(grid.EditorVisible());
  ds.Close();
  EXPECT_FALSE(grid.EditorVisible());
  EXPECT_TRUE(edited.empty());
  EXPECT_EQ(grid.RowCount(), 0);
}

TEST_F(EditingTest, ClickOpensTheImmediateEditorBeforeTheClickEvent) {
  bool editorOpenInClick = false;
  int clickRecord = -1;
  grid.OnClick = [&](TdxDBGrid& g) {
    editorOpenInClick = g.EditorVisible();
    clickRecord = ds.CurrentIndex();
  };
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(1, kAdjustColumn).center());
  EXPECT_TRUE(editorOpenInClick);
  EXPECT_EQ(clickRecord, 1);
  // Shift+click focuses but opens nothing.
  key(editor(), Qt::Key_Escape);
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::ShiftModifier,
                    grid.CellRect(2, kAdjustColumn).center());
  EXPECT_FALSE(grid.EditorVisible());
  EXPECT_EQ(ds.CurrentIndex(), 2);
}

TEST_F(EditingTest, ClickOnAnotherRowClosesTheEditorAndPostsTheRecord) {
  focusCell(0, kAdjustColumn);
  key(&grid, Qt::Key_8);
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, grid.CellRect(2, kQuotaColumn).center());
  ASSERT_EQ(edited.size(), 1u);
  EXPECT_EQ(edited[0].value, "8");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);  // leaving the record posted it
  EXPECT_EQ(footer(), "8.50");
  EXPECT_EQ(ds.CurrentIndex(), 2);
}

TEST_F(EditingTest, DeleteAsksTheGridOwnedConfirmation) {
  auto boxes = std::make_shared<ScriptedMessageBoxService>();
  ScopedMessageBoxService scoped(boxes);
  focusCell(1, 0);
  boxes->answerNext(IDCANCEL);
  key(&grid, Qt::Key_Delete, Qt::ControlModifier);
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_EQ(boxes->calls()[0].text, "Delete record?");
  EXPECT_EQ(boxes->calls()[0].caption, "Confirm");
  EXPECT_EQ(boxes->calls()[0].flags, MB_ICONQUESTION | MB_OKCANCEL);
  EXPECT_EQ(boxes->calls()[0].owner.widget, &grid);
  EXPECT_EQ(ds.RecordCount(), 3);
  boxes->answerNext(IDOK);
  key(&grid, Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(grid.RowCount(), 2);
  EXPECT_EQ(gridtest::columnTexts(ds, "FXRY00"), (std::vector<std::string>{"0013", "0015"}));
  EXPECT_EQ(footer(), "2.00");
  // Plain Delete deletes nothing.
  key(&grid, Qt::Key_Delete);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(boxes->calls().size(), 2u);
}

TEST_F(EditingTest, InsertAddsAnEmptyRowWhoseOnlyFillableCellIsTheAdjustment) {
  focusCell(1, 0);
  key(&grid, Qt::Key_Insert);
  ASSERT_EQ(ds.State(), TDataSetState::dsInsert);
  ASSERT_EQ(grid.RowCount(), 4);
  EXPECT_EQ(grid.FocusedRow(), 1);
  for (int c = 0; c < grid.ColumnCount(); ++c) EXPECT_EQ(grid.CellText(1, c), "");
  key(&grid, Qt::Key_1);  // code column: read-only, dropped
  EXPECT_EQ(editor()->text(), "");
  key(editor(), Qt::Key_Return);
  EXPECT_FALSE(ds.Modified());
  grid.setFocusedColumn(kAdjustColumn);
  key(&grid, Qt::Key_6);
  key(editor(), Qt::Key_Return);
  EXPECT_EQ(grid.CellText(1, kAdjustColumn), "6");
  EXPECT_EQ(footer(), "2.50");  // not counted before the post
  key(&grid, Qt::Key_Down);     // leaving the record posts it
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(footer(), "8.50");
}

TEST_F(EditingTest, UntouchedInsertIsCancelledByMovesAndEscape) {
  focusCell(1, 0);
  key(&grid, Qt::Key_Insert);
  key(&grid, Qt::Key_Down);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0012");
  // Esc with the editor closed cancels a pending edit.
  ds.Edit();
  tz()->SetAsFloat(42);
  key(&grid, Qt::Key_Escape);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(tz()->AsString(), "0.5");
}

TEST_F(EditingTest, LeavingTheGridClosesTheEditorAndCancelsAnUntouchedInsert) {
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  focusCell(0, kAdjustColumn);
  key(&grid, Qt::Key_Return);
  QTest::keyClicks(editor(), "1");
  other.setFocus(Qt::TabFocusReason);
  ASSERT_EQ(edited.size(), 1u);
  EXPECT_EQ(edited[0].value, "1");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);  // written, left in edit state
  ds.Post();
  grid.setFocus(Qt::TabFocusReason);
  key(&grid, Qt::Key_Insert);
  ASSERT_EQ(ds.State(), TDataSetState::dsInsert);
  other.setFocus(Qt::TabFocusReason);
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST_F(EditingTest, OnEditingMayRefuseAndTabMovesOnThroughRows) {
  grid.OnEditing = [](TdxDBGrid& g, int, bool& allow) {
    allow = g.FocusedColumn() != kQuotaColumn;
  };
  focusCell(0, kQuotaColumn);
  key(&grid, Qt::Key_Return);
  EXPECT_FALSE(grid.EditorVisible());
  grid.setFocusedColumn(kAdjustColumn);
  key(&grid, Qt::Key_Return);
  ASSERT_TRUE(grid.EditorVisible());
  // Tab from the last column closes the editor and goes on to the next row.
  key(editor(), Qt::Key_Tab);
  EXPECT_EQ(edited.size(), 1u);
  EXPECT_FALSE(grid.EditorVisible());
  EXPECT_EQ(grid.FocusedColumn(), 0);
  EXPECT_EQ(ds.CurrentIndex(), 1);
  grid.setFocusedColumn(kAdjustColumn);
  key(&grid, Qt::Key_Return);
  key(editor(), Qt::Key_Up);
  EXPECT_EQ(edited.size(), 2u);
  EXPECT_EQ(ds.CurrentIndex(), 0);
}

TEST_F(EditingTest, PasteOpensTheEditorAndPastes) {
  QGuiApplication::clipboard()->setText("12.5");
  focusCell(2, kAdjustColumn);
  key(&grid, Qt::Key_V, Qt::ControlModifier);
  ASSERT_TRUE(grid.EditorVisible());
  EXPECT_EQ(editor()->text(), "12.5");
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  key(editor(), Qt::Key_Return);
  EXPECT_EQ(tz()->AsString(), "12.5");
}

TEST_F(EditingTest, AClickAfterAnEditThatReSortsLandsOnTheClickedRecord) {
  ds.Close();
  ds.packet = gridtest::detailPacket(
      {{"0011", "A", 1, 0}, {"0012", "B", 2, 0}, {"0013", "C", 3, 0}, {"0014", "D", 4, 0}});
  ds.Open();
  grid.ColumnByName("dxDBGrid2TZXL00")->setSorted(TdxGridColumnSorted::csUp);
  postInEdited = true;  // as the window's handler does: the post reloads and re-sorts
  focusCell(0, kAdjustColumn);
  key(&grid, Qt::Key_5);
  ASSERT_TRUE(grid.EditorVisible());
  // 0012 is shown on the second row; after the post 0011 moves to the bottom.
  const int target = 1;
  ASSERT_EQ(grid.CellText(target, 0), "0012");
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                    grid.CellRect(target, kAdjustColumn).center());
  ASSERT_EQ(edited.size(), 1u);
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0012");
  EXPECT_EQ(grid.CellText(grid.FocusedRow(), 0), "0012");
  EXPECT_EQ(grid.CellText(grid.RowCount() - 1, 0), "0011");
  // The editor that the click opens belongs to the clicked salesperson.
  ASSERT_TRUE(grid.EditorVisible());
  QTest::keyClicks(editor(), "3");
  key(editor(), Qt::Key_Return);
  EXPECT_EQ(footer(), "8.00");
  EXPECT_TRUE(errors.empty());
}

TEST_F(EditingTest, APostWhosePendingValueMakesTheEditedHandlerPostSucceeds) {
  focusCell(0, kAdjustColumn);
  key(&grid, Qt::Key_7);  // typed, not confirmed: the editor holds it
  ASSERT_TRUE(grid.EditorVisible());
  ASSERT_EQ(ds.State(), TDataSetState::dsEdit);
  postInEdited = true;  // the edited handler posts, as the window's does
  EXPECT_NO_THROW(ds.Post());
  ASSERT_EQ(edited.size(), 1u);
  EXPECT_EQ(edited[0].value, "7");
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(footer(), "7.50");
  // Posting outside editing still fails.
  EXPECT_THROW(ds.Post(), EDatabaseError);
}
