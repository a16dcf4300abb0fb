#include <gtest/gtest.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/controls/flat_speed_button.h"
#include "qadj/grid/column.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/widgets/error_frame.h"
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

TEST_F(LayoutTest, TheSettingsFontSizeReachesTheLabelAndTheButtonsCaptions) {
  form.settingsTarget().setFontSize(16);
  EXPECT_EQ(form.Label3->font().pointSize(), 16);
  EXPECT_EQ(form.Label1->font().pointSize(), 9);  // a font of its own
  // Every text shows whole and nothing overlaps.
  EXPECT_EQ(form.Label3->size(), form.Label3->sizeHint());
  EXPECT_GT(form.RYMC->x(), form.Label3->geometry().right());
  EXPECT_LE(form.RYMC->geometry().bottom(), form.Panel2->height());
  for (auto* button : {form.tbok, form.tbexit}) {
    const QFontMetrics m(button->font());
    EXPECT_GE(button->width(), m.horizontalAdvance(button->caption()));
    EXPECT_GE(button->height(), 18 + 4 + m.height());
    EXPECT_LE(button->geometry().bottom(), form.ToolBar1->height());
  }
  EXPECT_EQ(form.tbexit->x(), form.tbok->geometry().right() + 1);
  EXPECT_EQ(form.Bevel1->y(), form.ToolBar1->height());
  EXPECT_EQ(form.Panel3->y(), form.Panel2->geometry().bottom() + 1);
  // Back to the designed font, back to the designed places.
  form.settingsTarget().setFontSize(8);
  EXPECT_EQ(form.tbexit->geometry(), QRect(35, 2, 35, 35));
  EXPECT_EQ(form.RYMC->geometry(), QRect(224, 7, 121, 21));
  EXPECT_EQ(form.Panel3->geometry(), QRect(0, 107, 369, 346));
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

TEST_F(LayoutTest, TheFilterPanelsLoweredBevelLiesOnItsOuterEdge) {
  const QImage image = form.Panel2->grab().toImage();
  const QPalette& pal = form.Panel2->palette();
  const int w = image.width(), h = image.height();
  ASSERT_EQ(QSize(w, h), QSize(770, 34));
  EXPECT_EQ(image.pixel(w / 2, 0), pal.color(QPalette::Dark).rgb());
  EXPECT_EQ(image.pixel(0, h / 2), pal.color(QPalette::Dark).rgb());
  EXPECT_EQ(image.pixel(w / 2, h - 1), pal.color(QPalette::Light).rgb());
  EXPECT_EQ(image.pixel(w - 1, h / 2), pal.color(QPalette::Light).rgb());
  // Inside the edge the panel's own background.
  EXPECT_EQ(image.pixel(w / 2, h - 2), pal.color(QPalette::Window).rgb());
  EXPECT_EQ(image.pixel(w - 2, h / 2), pal.color(QPalette::Window).rgb());
}

TEST_F(LayoutTest, AnErrorEndsTheGestureInProgressBeforeItsBoxShows) {
  std::vector<bool> openWhenReported;  // was any popup still open when the box came?
  std::vector<std::string> messages;
  const auto previous = qadj::setErrorReporter([&](std::exception_ptr e) {
    openWhenReported.push_back(QApplication::activePopupWidget() != nullptr);
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      messages.push_back(ex.what());
    }
  });
  form.OnActivate = nullptr;  // no server here
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  const auto fail = [] { qadj::reportError(std::make_exception_ptr(std::runtime_error("x"))); };

  form.RYMC->addItem(QStringLiteral("0012 | 张三"));
  form.RYMC->showPopup();
  ASSERT_TRUE(form.RYMC->isDropped());
  fail();
  EXPECT_FALSE(form.RYMC->isDropped());

  auto* picker = form.DateTimePicker1;
  QTest::mouseClick(picker, Qt::LeftButton, {}, QPoint(picker->width() - 6, picker->height() / 2));
  ASSERT_TRUE(form.DateTimePicker1->calendarWidget()->isVisible());
  fail();
  EXPECT_FALSE(form.DateTimePicker1->calendarWidget()->isVisible());

  // A header press ends without sorting; a splitter drag without resizing; a pressed
  // tool button without its click.
  auto* grid = form.dxDBGrid2;
  QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, grid->HeaderRect(0).center());
  ASSERT_EQ(grid->State(), qadj::grid::TdxGridState::HeaderPressed);
  fail();
  EXPECT_EQ(grid->State(), qadj::grid::TdxGridState::Normal);
  QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, grid->HeaderRect(0).center());
  EXPECT_EQ(grid->Column(0)->Sorted(), qadj::grid::TdxGridColumnSorted::csNone);
  QTest::mousePress(form.Splitter1, Qt::LeftButton, {}, QPoint(1, 100));
  fail();
  EXPECT_FALSE(form.Splitter1->dragLine()->isVisible());
  QTest::mouseRelease(form.Splitter1, Qt::LeftButton, {}, QPoint(-99, 100));
  EXPECT_EQ(form.Panel3->width(), 369);
  int clicks = 0;
  form.tbexit->onClick = [&] { ++clicks; };
  QTest::mousePress(form.tbexit, Qt::LeftButton, {}, QPoint(10, 10));
  fail();
  QTest::mouseRelease(form.tbexit, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(clicks, 0);

  EXPECT_EQ(openWhenReported, std::vector<bool>(5, false));
  EXPECT_EQ(messages, std::vector<std::string>(5, "x"));
  qadj::setErrorReporter(previous);
}

TEST_F(LayoutTest, TheDesignedFacesMapOntoFreeFacesOfTheDesignedSize) {
  // A line of the window's font is 13 pixels at 96 dpi, as designed.
  EXPECT_EQ(QFontMetrics(form.font()).boundingRect(QStringLiteral("0")).height(), 13)
      << QFontInfo(form.font()).family().toStdString();
  EXPECT_EQ(QFontInfo(form.Panel1->font()).family(), QStringLiteral("AR PL UKai CN"));
  EXPECT_EQ(QFontInfo(form.Label1->font()).family(), QStringLiteral("AR PL UMing CN"));
  EXPECT_EQ(QFontInfo(form.DateTimePicker1->font()).family(), QStringLiteral("AR PL UMing CN"));
  // The Song texts read black: every pixel of 限量日期 is the background or black.
  const QImage label = form.Label1->grab().toImage();
  const QRgb background = form.Label1->palette().color(QPalette::Window).rgb();
  int black = 0, other = 0;
  for (int y = 0; y < label.height(); ++y)
    for (int x = 0; x < label.width(); ++x) {
      const QRgb px = label.pixel(x, y);
      if (px == qRgb(0, 0, 0))
        ++black;
      else if (px != background)
        ++other;
    }
  EXPECT_GT(black, 40);
  EXPECT_EQ(other, 0);
  // The tool buttons' captions end above their bottom frame.
  const QFontMetrics m(form.tbok->font());
  EXPECT_LE(22 + m.height(), form.tbok->height());
  // An 8-digit product code shows in full in the detail grid's designed column.
  form.OnActivate = nullptr;  // no server here
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  auto* grid = form.dxDBGrid2;
  const int code = 2;  // SPDM00
  // With the vertical scroll bar shown, as with more colleagues than fit.
  grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QCoreApplication::processEvents();
  const int room = grid->DisplayedWidths()[code] - 4;  // less the cell's text margins
  EXPECT_LE(QFontMetrics(grid->font()).horizontalAdvance(QStringLiteral("10010001")), room);
  EXPECT_LE(QFontMetrics(grid->font()).horizontalAdvance(QStringLiteral("P0010001")), room);
}
