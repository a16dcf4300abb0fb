// The flat drop-down list: drawing, the dropped list and the change rules.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/controls/system_colours.h"
#include "support/mouse.h"

namespace qadj {
namespace {

class FlatComboTest : public ::testing::Test {
 protected:
  void SetUp() override {
    combo = new TFlatComboBox(&window);
    combo->setGeometry(24, 7, 121, 21);
    combo->onChange = [this] { changes.push_back(combo->currentText()); };
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
  void fill(int n) {
    for (int i = 0; i < n; ++i) combo->addItem(QStringLiteral("%1 | name").arg(1000 + i));
  }
  QColor at(int x, int y) { return test::pixelOf(combo, QPoint(x, y)); }

  QWidget window;
  TFlatComboBox* combo = nullptr;
  std::vector<QString> changes;  // the text at each reported change
};

TEST_F(FlatComboTest, DefaultsAndEditField) {
  EXPECT_EQ(combo->color(), systemColours().window);
  EXPECT_EQ(combo->colorBorder(), QColor(160, 150, 131));
  EXPECT_EQ(combo->colorArrowBackground(), QColor(217, 214, 197));
  EXPECT_EQ(combo->colorArrow(), QColor(Qt::black));
  EXPECT_TRUE(combo->isEditable());
  EXPECT_EQ(combo->dropDownCount(), 8);
  fill(2);
  EXPECT_EQ(combo->currentIndex(), -1);  // adding items selects none
  combo->setItemHeight(20);
  QFont f = combo->font();
  f.setPointSize(f.pointSize() + 6);
  combo->setFont(f);
  EXPECT_EQ(combo->itemHeight(), 13);
  EXPECT_EQ(combo->lineEdit()->geometry(), QRect(3, 3, 102, 15));
  combo->resize(150, 25);
  EXPECT_EQ(combo->lineEdit()->geometry(), QRect(3, 3, 131, 19));
}

TEST_F(FlatComboTest, FrameArrowButtonAndArrowPixels) {
  combo->setColor(QColor(250, 250, 200));
  EXPECT_EQ(at(0, 10), combo->colorBorder());
  EXPECT_EQ(at(50, 0), combo->colorBorder());
  EXPECT_EQ(at(1, 10), combo->color());   // inner rectangles hide the sunken edge
  EXPECT_EQ(at(60, 10), combo->color());  // the edit field
  EXPECT_EQ(at(108, 10), combo->colorBorder());
  EXPECT_EQ(at(120, 10), combo->colorBorder());
  EXPECT_EQ(at(110, 4), combo->colorArrowBackground());
  EXPECT_EQ(at(112, 9), QColor(Qt::black));  // arrow base, pointing down
  EXPECT_EQ(at(114, 11), QColor(Qt::black));
  EXPECT_EQ(at(112, 11), combo->colorArrowBackground());
  combo->setEnabled(false);
  EXPECT_EQ(at(114, 9), QColor(128, 128, 128));
  EXPECT_EQ(at(117, 10), QColor(Qt::white));  // the white copy's base end
}

TEST_F(FlatComboTest, EmptyAndShortListsDropToTheirHeight) {
  combo->showPopup();
  QWidget* popup = combo->view()->parentWidget();
  ASSERT_TRUE(popup->isVisible());
  EXPECT_TRUE(combo->isDropped());
  EXPECT_EQ(popup->height(), 10);
  combo->hidePopup();
  EXPECT_FALSE(combo->isDropped());
  fill(3);
  combo->setColor(QColor(200, 255, 200));
  combo->showPopup();
  EXPECT_EQ(popup->height(), 3 * combo->listItemHeight() + 4);
  EXPECT_EQ(combo->view()->palette().color(QPalette::Base), QColor(200, 255, 200));
}

TEST_F(FlatComboTest, LongListShowsEightRows) {
  fill(20);
  combo->showPopup();
  QAbstractItemView* view = combo->view();
  const int row = combo->listItemHeight();
  EXPECT_EQ(view->parentWidget()->height(), 8 * row + 4);
  int fullyVisible = 0;
  for (int i = 0; i < 20; ++i) {
    fullyVisible +=
        view->viewport()->rect().contains(view->visualRect(combo->model()->index(i, 0)));
  }
  EXPECT_EQ(fullyVisible, 8);
  EXPECT_EQ(view->viewport()->height(), 8 * row);
  EXPECT_EQ(at(112, 11), QColor(Qt::black));  // the arrow points up while dropped
  EXPECT_EQ(at(112, 9), combo->colorArrowBackground());
}

TEST_F(FlatComboTest, ProgramChangesAreSilentTypingAndPastingReport) {
  fill(3);
  combo->setEditText(QStringLiteral("请选择访销员"));
  combo->setCurrentIndex(1);
  combo->lineEdit()->setText(QStringLiteral("x"));
  EXPECT_TRUE(changes.empty());
  combo->lineEdit()->setFocus();
  combo->lineEdit()->clear();
  QTest::keyClicks(combo->lineEdit(), "100");
  QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0], "1");
  EXPECT_EQ(changes[3], "10");
  QApplication::clipboard()->setText(QStringLiteral("1 | name"));
  combo->lineEdit()->paste();
  ASSERT_EQ(changes.size(), 5u);
  EXPECT_EQ(changes[4], "101 | name");
}

TEST_F(FlatComboTest, EnterOrLeavingOnAnItemTextIsNoSelection) {
  fill(3);
  QLineEdit other(&window);
  other.show();
  combo->lineEdit()->setFocus();
  QTest::keyClicks(combo->lineEdit(), "1001 | name");
  const size_t typed = changes.size();
  QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(changes.size(), typed);
  EXPECT_EQ(combo->count(), 3);  // nothing inserted
  QTest::keyClick(combo->lineEdit(), Qt::Key_Backspace);
  QTest::keyClicks(combo->lineEdit(), "e");
  other.setFocus();
  EXPECT_FALSE(combo->lineEdit()->hasFocus());
  EXPECT_EQ(changes.size(), typed + 2);
}

TEST_F(FlatComboTest, ArrowKeysSelectAndReportAfterReplacingTheText) {
  fill(3);
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Down);  // closed box; no item selected yet
  QTest::keyClick(combo, Qt::Key_Down);
  QTest::keyClick(combo, Qt::Key_Up);
  ASSERT_EQ(changes.size(), 3u);
  EXPECT_EQ(changes[0], "1000 | name");
  EXPECT_EQ(changes[2], "1000 | name");

  combo->showPopup();
  QTest::keyClick(combo->view(), Qt::Key_Down);
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[3], "1001 | name");
  QTest::keyClick(combo->view(), Qt::Key_Return);  // closing on it is no second change
  EXPECT_FALSE(combo->isDropped());
  EXPECT_EQ(changes.size(), 4u);
}

TEST_F(FlatComboTest, AClickOnTheArrowDropsTheListAndAClickOnAnItemChoosesIt) {
  fill(3);
  // The release of the opening click reaches the open list, as it does on a display.
  test::systemClick(combo, QPoint(114, 10));
  ASSERT_TRUE(combo->isDropped()) << "the list closed on the release of its opening click";
  EXPECT_TRUE(changes.empty());
  QAbstractItemView* view = combo->view();
  const QRect row = view->visualRect(combo->model()->index(1, 0));
  test::systemClick(view->viewport(), row.center());
  EXPECT_FALSE(combo->isDropped());
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], "1001 | name");
  // A click on the arrow of the dropped list closes it without a change.
  test::systemClick(combo, QPoint(114, 10));
  ASSERT_TRUE(combo->isDropped());
  test::systemClick(combo, QPoint(114, 10));
  EXPECT_FALSE(combo->isDropped());
  EXPECT_EQ(changes.size(), 1u);
  // A click on the edit part places the caret and drops nothing.
  test::systemClick(combo, QPoint(20, 10));
  EXPECT_FALSE(combo->isDropped());
  EXPECT_TRUE(combo->lineEdit()->hasFocus());
  EXPECT_EQ(changes.size(), 1u);
}

TEST_F(FlatComboTest, MouseDropsTheListAndSelectsAnItem) {
  fill(3);
  test::pressAt(combo, QPoint(114, 10));
  ASSERT_TRUE(combo->isDropped());
  QAbstractItemView* view = combo->view();
  const QRect row = view->visualRect(combo->model()->index(2, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0], "1002 | name");
  EXPECT_EQ(combo->currentIndex(), 2);
}

TEST_F(FlatComboTest, TheDroppedListHighlightsNoRowWhileNoEntryIsChosen) {
  fill(3);
  ASSERT_EQ(combo->currentIndex(), -1);
  test::systemClick(combo, QPoint(114, 10));
  ASSERT_TRUE(combo->isDropped());
  QAbstractItemView* view = combo->view();
  EXPECT_FALSE(view->currentIndex().isValid()) << "row " << view->currentIndex().row();
  EXPECT_TRUE(view->selectionModel()->selectedIndexes().isEmpty());
  // Once an entry is chosen the list shows it when dropped again.
  test::systemClick(view->viewport(), view->visualRect(combo->model()->index(2, 0)).center());
  test::systemClick(combo, QPoint(114, 10));
  ASSERT_TRUE(combo->isDropped());
  EXPECT_EQ(view->currentIndex().row(), 2);
}

}  // namespace
}  // namespace qadj
