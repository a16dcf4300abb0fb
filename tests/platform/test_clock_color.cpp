#include <gtest/gtest.h>

#include <QApplication>
#include <QPalette>
#include <ctime>

#include "qadj/platform/clock.h"
#include "qadj/widgets/color.h"

using namespace qadj;

namespace {
Date localDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}
}  // namespace

TEST(Clock, FakeDateReplacesTodayUntilCleared) {
  {
    ScopedFakeToday fake(Date{2026, 2, 28});
    EXPECT_EQ(today(), (Date{2026, 2, 28}));
  }
  const Date before = localDate();
  const Date real = today();
  const Date after = localDate();
  EXPECT_TRUE(real == before || real == after);
  EXPECT_GE(real.month, 1);
  EXPECT_LE(real.month, 12);
}

TEST(WinColors, PlainColoursAreBlueGreenRed) {
  EXPECT_EQ(winRgb(197, 217, 220), 0x00DCD9C5u);
  EXPECT_EQ(colorFromWinColor(0x00800000u), QColor(0, 0, 128));  // navy
  EXPECT_EQ(colorFromWinColor(0x0000FF00u), QColor(0, 255, 0));
  EXPECT_EQ(winColorFromQColor(QColor(128, 128, 0)), 0x00008080u);
  EXPECT_EQ(winColorFromQColor(colorFromWinColor(0x00123456u)), 0x00123456u);
  // The high byte of a plain colour number does not change the colour.
  EXPECT_EQ(colorFromWinColor(0x02123456u), colorFromWinColor(0x00123456u));
}

TEST(WinColors, SystemColoursWithoutApplicationAreClassic) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_EQ(clBtnFace, 0x8000000Fu);
  EXPECT_EQ(colorFromWinColor(clBtnFace), QColor(212, 208, 200));
  EXPECT_EQ(colorFromWinColor(clBtnHighlight), QColor(255, 255, 255));
  EXPECT_EQ(systemColor(99), QColor(0, 0, 0));
}

TEST(WinColors, SystemColoursFollowTheApplicationPalette) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QPalette palette = QApplication::palette();
  palette.setColor(QPalette::Button, QColor(1, 2, 3));
  palette.setColor(QPalette::Dark, QColor(4, 5, 6));
  QApplication::setPalette(palette);
  QPalette menus = palette;
  menus.setColor(QPalette::Window, QColor(7, 8, 9));
  QApplication::setPalette(menus, "QMenu");
  EXPECT_EQ(colorFromWinColor(clBtnFace), QColor(1, 2, 3));
  // The menu colour is the menus' background, not the buttons' face.
  EXPECT_EQ(systemColor(COLOR_MENU), QColor(7, 8, 9));
  EXPECT_EQ(colorFromWinColor(clBtnShadow), QColor(4, 5, 6));
  // An index without a palette role keeps its classic value.
  EXPECT_EQ(systemColor(COLOR_ACTIVECAPTION), QColor(10, 36, 106));
}
