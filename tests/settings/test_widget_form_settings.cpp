#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <algorithm>

#include "qadj/settings/widget_form_settings.h"

using namespace qadj;

namespace {
class WidgetFormSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.move(183, 110);
    window.resize(778, 480);
  }
  QWidget window;
};
}  // namespace

TEST_F(WidgetFormSettingsTest, PlacementMovesAndResizesTheFrame) {
  WidgetFormSettings target(window);
  EXPECT_EQ(target.left(), 183);
  EXPECT_EQ(target.top(), 110);
  target.setTop(-5);
  EXPECT_EQ(target.top(), -5);
  EXPECT_EQ(target.left(), 183);
  target.setLeft(32);
  EXPECT_EQ(window.frameGeometry().topLeft(), QPoint(32, -5));
  target.setWidth(900);
  target.setHeight(300);
  EXPECT_EQ(target.width(), 900);
  EXPECT_EQ(target.height(), 300);
  // Sizes that leave no client pixel give the smallest window that shows.
  WidgetFormSettings framed(window, clBtnFace, QSize(8, 27));
  for (const int height : {28, 27, 20, 0, -5}) {
    framed.setHeight(height);
    EXPECT_EQ(window.height(), std::max(1, height - 27)) << height;
  }
  for (const int width : {9, 8, -1}) {
    framed.setWidth(width);
    EXPECT_EQ(window.width(), 1) << width;
  }
}

TEST_F(WidgetFormSettingsTest, ColourFillsTheBackground) {
  WidgetFormSettings target(window);
  EXPECT_EQ(target.color(), clBtnFace);
  target.setColor(winRgb(0, 0, 128));
  EXPECT_EQ(target.color(), 0x00800000u);
  EXPECT_EQ(window.palette().color(QPalette::Window), QColor(0, 0, 128));
  EXPECT_TRUE(window.autoFillBackground());
}

TEST_F(WidgetFormSettingsTest, FontSizeInPointsOrPixels) {
  WidgetFormSettings target(window);
  target.setFontSize(12);
  EXPECT_EQ(window.font().pointSize(), 12);
  EXPECT_EQ(target.fontSize(), 12);
  target.setFontSize(-12);  // a 16-pixel character height
  EXPECT_EQ(window.font().pixelSize(), 16);
  EXPECT_EQ(target.fontSize(), -12);
  target.setFontSize(0);
  EXPECT_EQ(window.font().pointSizeF(), QApplication::font().pointSizeF());
}

TEST_F(WidgetFormSettingsTest, SwitchesChangeStateAndFlags) {
  WidgetFormSettings target(window);
  window.setWindowState(Qt::WindowMaximized);
  window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  target.setWindowStateNormal();
  EXPECT_EQ(window.windowState(), Qt::WindowNoState);
  target.setFormStyleNormal();
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_FALSE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
  target.setBorderStyleNone();
  EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
}
