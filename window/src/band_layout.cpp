#include "qadj/window/band_layout.h"

#include <algorithm>

namespace qadj::window {

BandRects layoutBands(QSize client, int productWidth) {
  const int w = client.width();
  const int restHeight = std::max(0, client.height() - kTopBandsHeight);
  BandRects r;
  int y = 0;
  r.toolBar = QRect(0, y, w, kToolBarHeight);
  y += kToolBarHeight;
  r.bevel = QRect(0, y, w, kBevelHeight);
  y += kBevelHeight;
  r.title = QRect(0, y, w, kTitleHeight);
  y += kTitleHeight;
  r.filter = QRect(0, y, w, kFilterHeight);
  y += kFilterHeight;
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

}  // namespace qadj::window
