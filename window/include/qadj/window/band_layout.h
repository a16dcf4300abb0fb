// Geometry of the quota-adjustment window's docked bands: the model behind its
// resizing and its splitter, as plain functions.
#pragma once

#include <QRect>
#include <QSize>

namespace qadj::window {

// Designed heights of the four top bands and the splitter's width.
inline constexpr int kToolBarHeight = 41;
inline constexpr int kBevelHeight = 2;
inline constexpr int kTitleHeight = 30;
inline constexpr int kFilterHeight = 34;
inline constexpr int kTopBandsHeight = kToolBarHeight + kBevelHeight + kTitleHeight + kFilterHeight;
inline constexpr int kSplitterWidth = 3;
inline constexpr int kDesignedProductWidth = 369;
// The product panel's smallest open width; at or below it the panel snaps shut.
inline constexpr int kSplitterMinSize = 30;

struct BandRects {
  QRect toolBar, bevel, title, filter, product, splitter, detail;
};

// Places the bands in a client area: the four top bands keep their heights and take
// the full width; the product panel keeps productWidth; the detail panel takes the
// rest (never negative).
BandRects layoutBands(QSize client, int productWidth);

// The rectangle of a control that fills a panel less its border.
QRect fillInside(QRect panel, int border);

// The product panel's new width for a splitter released at rawWidth: at or below
// the minimum the panel collapses to 0, otherwise the width is held so that the
// detail panel keeps at least the minimum.
int clampSplitterWidth(int rawWidth, int clientWidth);

// The window's frame as designed: outer size = client size + this.
inline constexpr QSize kDesignedFrame{8, 27};

}  // namespace qadj::window
