#include <gtest/gtest.h>

#include "qadj/window/band_layout.h"

using namespace qadj::window;

TEST(BandLayout, DesignedClientAreaGivesDesignedRectangles) {
  const BandRects r = layoutBands(QSize(770, 453), 369);
  EXPECT_EQ(r.toolBar, QRect(0, 0, 770, 41));
  EXPECT_EQ(r.bevel, QRect(0, 41, 770, 2));
  EXPECT_EQ(r.title, QRect(0, 43, 770, 30));
  EXPECT_EQ(r.filter, QRect(0, 73, 770, 34));
  EXPECT_EQ(r.product, QRect(0, 107, 369, 346));
  EXPECT_EQ(r.splitter, QRect(369, 107, 3, 346));
  EXPECT_EQ(r.detail, QRect(372, 107, 398, 346));
  EXPECT_EQ(fillInside(r.product, 1), QRect(1, 1, 367, 344));
  EXPECT_EQ(fillInside(r.detail, 1), QRect(1, 1, 396, 344));
}

TEST(BandLayout, ResizingKeepsTopBandsAndProductWidth) {
  const BandRects r = layoutBands(QSize(1000, 600), 369);
  EXPECT_EQ(r.toolBar.height(), 41);
  EXPECT_EQ(r.filter, QRect(0, 73, 1000, 34));
  EXPECT_EQ(r.product, QRect(0, 107, 369, 493));
  EXPECT_EQ(r.detail, QRect(372, 107, 628, 493));

  const BandRects small = layoutBands(QSize(300, 90), 369);
  EXPECT_EQ(small.product.height(), 0);
  EXPECT_EQ(small.detail.width(), 0);
}

TEST(BandLayout, SplitterClampsAndCollapses) {
  // Maximum leaves 30 pixels of the client width for the detail panel.
  EXPECT_EQ(clampSplitterWidth(200, 770), 200);
  EXPECT_EQ(clampSplitterWidth(760, 770), 737);
  EXPECT_EQ(clampSplitterWidth(31, 770), 31);
  // At or below 30 the product panel snaps shut.
  EXPECT_EQ(clampSplitterWidth(30, 770), 0);
  EXPECT_EQ(clampSplitterWidth(-40, 770), 0);
  // Collapsed: the splitter sits at the left edge, the detail fills the rest.
  const BandRects r = layoutBands(QSize(770, 453), 0);
  EXPECT_EQ(r.splitter.x(), 0);
  EXPECT_EQ(r.detail, QRect(3, 107, 767, 346));
}

TEST(BandLayout, TheDesignedPlaceMovesWhollyOntoTheScreen) {
  const QRect designed(QPoint(183, 110), QSize(778, 480));
  const QRect screen(0, 0, 1600, 1200);
  EXPECT_EQ(fitOnScreen(designed, screen), QPoint(183, 110));
  // Scale factor 2 on the same screen: 800 × 600 of room.
  EXPECT_EQ(fitOnScreen(designed, QRect(0, 0, 800, 600)), QPoint(22, 110));
  // A second screen to the right, a panel at its top.
  EXPECT_EQ(fitOnScreen(designed, QRect(1600, 30, 1024, 738)), QPoint(1600, 110));
  // Larger than the screen: its caption bar stays on it.
  EXPECT_EQ(fitOnScreen(designed, QRect(0, 0, 640, 400)), QPoint(0, 0));
}
