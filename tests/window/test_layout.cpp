#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/controls/flat_speed_button.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/window/date_picker.h"
#include "qadj/window/main_form.h"
#include "qadj/window/panel.h"
#include "qadj/window/splitter.h"

using qadj::window::Tmain;

namespace {

class LayoutTest : public ::testing::Test {
 protected:
  qadj::PluginContext context;
  Tmain form{context};
};

}  // namespace

TEST_F(LayoutTest, DesignedPlacementOfEveryControl) {
  EXPECT_EQ(form.windowTitle(), QStringLiteral("限量调整"));
  EXPECT_EQ(form.pos(), QPoint(183, 110));
  EXPECT_EQ(form.size(), QSize(770, 453));
  EXPECT_EQ(form.settingsTarget().width(), 778);
  EXPECT_EQ(form.settingsTarget().height(), 480);

  EXPECT_EQ(form.ToolBar1->geometry(), QRect(0, 0, 770, 41));
  EXPECT_EQ(form.tbok->geometry(), QRect(0, 2, 35, 35));
  EXPECT_EQ(form.tbexit->geometry(), QRect(35, 2, 35, 35));
  EXPECT_EQ(form.Bevel1->geometry(), QRect(0, 41, 770, 2));
  EXPECT_EQ(form.Panel1->geometry(), QRect(0, 43, 770, 30));
  EXPECT_EQ(form.Panel1->caption(), QStringLiteral("访销限量调整"));
  EXPECT_EQ(form.Panel2->geometry(), QRect(0, 73, 770, 34));
  EXPECT_EQ(form.Label3->pos(), QPoint(184, 11));
  EXPECT_EQ(form.Label3->text(), QStringLiteral("访销员"));
  EXPECT_EQ(form.Label1->pos(), QPoint(17, 10));
  EXPECT_EQ(form.Label1->text(), QStringLiteral("限量日期"));
  EXPECT_EQ(form.RYMC->geometry(), QRect(224, 7, 121, 21));
  EXPECT_EQ(form.RYMC->currentText(), QStringLiteral("请选择访销员"));
  EXPECT_EQ(form.RYMC->count(), 0);
  EXPECT_EQ(form.DateTimePicker1->geometry(), QRect(69, 6, 100, 21));
  EXPECT_EQ(form.Panel3->geometry(), QRect(0, 107, 369, 346));
  EXPECT_EQ(form.dxDBGrid1->geometry(), QRect(1, 1, 367, 344));
  EXPECT_EQ(form.Splitter1->geometry(), QRect(369, 107, 3, 346));
  EXPECT_EQ(form.Panel4->geometry(), QRect(372, 107, 398, 346));
  EXPECT_EQ(form.dxDBGrid2->geometry(), QRect(1, 1, 396, 344));
}

TEST_F(LayoutTest, ResizeKeepsTopBandsAndProductWidth) {
  form.settingsTarget().setWidth(1008);
  form.settingsTarget().setHeight(627);
  EXPECT_EQ(form.size(), QSize(1000, 600));
  EXPECT_EQ(form.Panel2->geometry(), QRect(0, 73, 1000, 34));
  EXPECT_EQ(form.Panel3->geometry(), QRect(0, 107, 369, 493));
  EXPECT_EQ(form.Panel4->geometry(), QRect(372, 107, 628, 493));
  EXPECT_EQ(form.dxDBGrid2->geometry(), QRect(1, 1, 626, 491));
}

TEST_F(LayoutTest, SplitterDragShowsHatchedLineThenResizes) {
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  auto* splitter = form.Splitter1;
  QTest::mousePress(splitter, Qt::LeftButton, {}, QPoint(1, 100));
  QTest::mouseMove(splitter, QPoint(-99, 100));
  EXPECT_TRUE(splitter->dragLine()->isVisible());
  EXPECT_EQ(form.Panel3->width(), 369);  // nothing resized while the button is held
  QTest::mouseRelease(splitter, Qt::LeftButton, {}, QPoint(-99, 100));
  EXPECT_FALSE(splitter->dragLine()->isVisible());
  EXPECT_EQ(form.Panel3->width(), 269);
  EXPECT_EQ(form.Panel4->geometry().left(), 272);

  // Dragged to 30 pixels or less the product panel snaps shut ...
  QTest::mousePress(splitter, Qt::LeftButton, {}, QPoint(1, 100));
  QTest::mouseRelease(splitter, Qt::LeftButton, {}, QPoint(-238, 100));
  EXPECT_EQ(form.productPanelWidth(), 0);
  EXPECT_EQ(form.Panel4->geometry(), QRect(3, 107, 767, 346));
  // ... and opens again when dragged back out; the maximum leaves 30 pixels.
  QTest::mousePress(form.Splitter1, Qt::LeftButton, {}, QPoint(1, 100));
  QTest::mouseRelease(form.Splitter1, Qt::LeftButton, {}, QPoint(2000, 100));
  EXPECT_EQ(form.productPanelWidth(), 770 - 30 - 3);
}

TEST_F(LayoutTest, TabOrderRunsThroughFocusableControls) {
  EXPECT_EQ(form.tbok->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(form.ToolBar1->focusPolicy(), Qt::NoFocus);
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.RYMC->setFocus();
  QWidget* order[] = {form.DateTimePicker1, form.dxDBGrid1, form.dxDBGrid2, form.RYMC};
  QWidget* current = QApplication::focusWidget();
  for (QWidget* expected : order) {
    QTest::keyClick(current, Qt::Key_Tab);
    current = QApplication::focusWidget();
    // The combo box and the date picker focus their inner editors.
    ASSERT_TRUE(current == expected || expected->isAncestorOf(current))
        << "expected " << expected->objectName().toStdString();
  }
}
