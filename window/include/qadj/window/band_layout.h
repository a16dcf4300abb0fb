// Geometry of the quota-adjustment window, as plain functions: its docked bands (the
// model behind its resizing and its splitter) and its place on the screen.
#pragma once

#include <QRect>
#include <QSize>

namespace qadj::window {

// Designed heights of the four top bands and the splitter's width.
inline constexpr int kToolBarHeight = 41;
inline constexpr int kBevelHeight = 2;
inline constexpr int kTitleHeight = 30;
inline constexpr int kFilterHeight = 34;
inline constexpr int kSplitterWidth = 3;
inline constexpr int kDesignedProductWidth = 369;
// The product panel's smallest open width; at or below it the panel snaps shut.
inline constexpr int kSplitterMinSize = 30;

struct BandRects {
  QRect toolBar, bevel, title, filter, product, splitter, detail;
};

// The tool bar's buttons: 35 × 35 as designed, 2 pixels below the bar's top and 4
// above its bottom.
inline constexpr int kToolButtonSize = 35;
inline constexpr int kToolButtonTop = 2;

// A tool button's size: the designed square, grown to the least size that shows its
// glyph and caption whole (a window font larger than designed).
QSize toolButtonSize(QSize contentHint);
// The tool bar's height for buttons of that height: 41 as designed.
int toolBarHeight(int buttonHeight);

// The salesperson box in the filter band: 224, 7, 121 × 21 as designed, 4 pixels
// right of its label and as high as its font needs (as a platform drop-down is),
// the band growing to keep 6 pixels below it.
inline constexpr QRect kDesignedSalespersonBox{224, 7, 121, 21};
QRect salespersonBoxRect(int labelRight, int fontLineHeight);
int filterHeight(QRect salespersonBox);

// The heights of the bands that follow the window's font.
struct FontBands {
  int toolBar = kToolBarHeight;
  int filter = kFilterHeight;
};

// Places the bands in a client area: the four top bands keep their heights (tool bar
// and filter band those given) and take the full width; the product panel keeps
// productWidth; the detail panel takes the rest (never negative).
BandRects layoutBands(QSize client, int productWidth, FontBands heights = {});

// The rectangle of a control that fills a panel less its border.
QRect fillInside(QRect panel, int border);

// The product panel's new width for a splitter released at rawWidth: at or below
// the minimum the panel collapses to 0, otherwise the width is held so that the
// detail panel keeps at least the minimum.
int clampSplitterWidth(int rawWidth, int clientWidth);

// The window's frame as designed: outer size = client size + this.
inline constexpr QSize kDesignedFrame{8, 27};
// The frame's designed top-left corner on the screen.
inline constexpr QPoint kDesignedPos{183, 110};

// Where a frame at its designed place goes on a screen whose free area is available
// (a larger scale factor makes the designed frame reach past a smaller screen): its
// own top-left when it lies wholly inside; else moved the least that puts it inside;
// a frame larger than the area keeps its size with its top-left at the area's, so
// that its caption bar can be taken to move it.
QPoint fitOnScreen(QRect frame, QRect available);

}  // namespace qadj::window
