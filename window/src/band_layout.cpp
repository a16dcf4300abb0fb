#include "qadj/window/band_layout.h"

#include <algorithm>

namespace qadj::window {

QSize toolButtonSize(QSize contentHint) {
  return contentHint.expandedTo(QSize(kToolButtonSize, kToolButtonSize));
}

int toolBarHeight(int buttonHeight) {
  return buttonHeight + kToolBarHeight - kToolButtonSize;
}

QRect salespersonBoxRect(int labelRight, int fontLineHeight) {
  QRect box = kDesignedSalespersonBox;
  box.moveLeft(std::max(box.left(), labelRight + 5));
  // 13-pixel lines in a 21-pixel box as designed.
  box.setHeight(std::max(box.height(), fontLineHeight + 8));
  return box;
}

int filterHeight(QRect salespersonBox) {
  return std::max(kFilterHeight, salespersonBox.bottom() + 1 + 6);
}

BandRects layoutBands(QSize client, int productWidth, FontBands heights) {
  const int w = client.width();
  const int top = heights.toolBar + kBevelHeight + kTitleHeight + heights.filter;
  const int restHeight = std::max(0, client.height() - top);
  BandRects r;
  int y = 0;
  r.toolBar = QRect(0, y, w, heights.toolBar);
  y += heights.toolBar;
  r.bevel = QRect(0, y, w, kBevelHeight);
  y += kBevelHeight;
  r.title = QRect(0, y, w, kTitleHeight);
  y += kTitleHeight;
  r.filter = QRect(0, y, w, heights.filter);
  y += heights.filter;
  const int product = std::clamp(productWidth, 0, std::max(0, w));
  r.product = QRect(0, y, product, restHeight);
  r.splitter = QRect(product, y, kSplitterWidth, restHeight);
  const int detailLeft = product + kSplitterWidth;
  r.detail = QRect(detailLeft, y, std::max(0, w - detailLeft), restHeight);
  return r;
}

QRect fillInside(QRect panel, int border) {
  return QRect(border, border, std::max(0, panel.width() - 2 * border),
               std::max(0, panel.height() - 2 * border));
}

int clampSplitterWidth(int rawWidth, int clientWidth) {
  const int maxWidth = clientWidth - kSplitterMinSize - kSplitterWidth;
  const int width = std::min(rawWidth, maxWidth);
  return width <= kSplitterMinSize ? 0 : width;
}

QPoint fitOnScreen(QRect frame, QRect available) {
  QPoint at = frame.topLeft();
  at.setX(std::max(available.left(), std::min(at.x(), available.right() + 1 - frame.width())));
  at.setY(std::max(available.top(), std::min(at.y(), available.bottom() + 1 - frame.height())));
  return at;
}

}  // namespace qadj::window
