#include "qadj/grid/layout.h"

#include <algorithm>
#include <numeric>

namespace qadj::grid {

std::vector<int> autoWidths(const std::vector<int>& weights, int clientWidth) {
  std::vector<int> out(weights.size(), 0);
  long long total = 0;
  for (int w : weights) total += std::max(w, 0);
  if (weights.empty() || clientWidth <= 0 || total == 0) return out;
  // Cumulative rounding: every edge is placed at its exact proportional position, so
  // the widths always add up to clientWidth.
  long long cumulative = 0;
  int previousEdge = 0;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    cumulative += std::max(weights[i], 0);
    int edge = static_cast<int>((cumulative * clientWidth + total / 2) / total);
    out[i] = edge - previousEdge;
    previousEdge = edge;
  }
  return out;
}

std::vector<int> resizeFilled(const std::vector<int>& widths, const std::vector<int>& minWidths,
                              int index, int requested, int clientWidth) {
  std::vector<int> out = widths;
  int n = static_cast<int>(widths.size());
  if (index < 0 || index >= n - 1) return out;
  int left = 0;
  for (int i = 0; i < index; ++i) left += widths[i];
  int rightMin = 0;
  for (int i = index + 1; i < n; ++i) rightMin += minWidths[i];
  int maxWidth = std::max(minWidths[index], clientWidth - left - rightMin);
  int width = std::clamp(requested, minWidths[index], maxWidth);
  out[index] = width;
  int rest = std::max(clientWidth - left - width, 0);
  std::vector<int> rightWeights(widths.begin() + index + 1, widths.end());
  std::vector<int> rightWidths = autoWidths(rightWeights, rest);
  // Hold the right-hand columns at their minimums, taking the difference from the
  // widest of them.
  for (std::size_t i = 0; i < rightWidths.size(); ++i) {
    int minimum = minWidths[index + 1 + i];
    if (rightWidths[i] < minimum) {
      int need = minimum - rightWidths[i];
      rightWidths[i] = minimum;
      auto widest = std::max_element(rightWidths.begin(), rightWidths.end());
      *widest -= std::min(need, *widest - 1);
    }
  }
  std::copy(rightWidths.begin(), rightWidths.end(), out.begin() + index + 1);
  return out;
}

std::vector<int> textSpanStarts(const std::vector<bool>& hasText,
                                const std::vector<bool>& rightAligned) {
  std::vector<int> starts(hasText.size());
  for (std::size_t i = 0; i < hasText.size(); ++i) {
    std::size_t first = i;
    if (rightAligned[i] && hasText[i])
      while (first > 0 && !hasText[first - 1]) --first;
    starts[i] = static_cast<int>(first);
  }
  return starts;
}

int clampedWidth(int requested, int minWidth) {
  return std::max(requested, minWidth);
}

int dropIndex(const std::vector<int>& widths, int x) {
  int left = 0;
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (x < left + widths[i]) return static_cast<int>(i);
    left += widths[i];
  }
  return widths.empty() ? 0 : static_cast<int>(widths.size()) - 1;
}

int GridGeometry::visibleRows() const {
  int height = dataBottom() - dataTop();
  if (height <= 0 || rowHeight <= 0) return 0;
  return std::max(1, height / rowHeight);
}

int GridGeometry::columnLeft(int visualIndex) const {
  return std::accumulate(widths.begin(), widths.begin() + visualIndex, 0);
}

HitTest hitTest(const GridGeometry& g, int x, int y) {
  HitTest hit;
  if (x < 0 || y < 0 || x >= g.clientWidth || y >= g.clientHeight) return hit;
  int column = -1;
  int left = 0;
  for (std::size_t i = 0; i < g.widths.size(); ++i) {
    if (x >= left && x < left + g.widths[i]) column = static_cast<int>(i);
    left += g.widths[i];
  }
  if (y < g.headerHeight) {
    // An edge is the right edge of a column: the slop right of it belongs to it as
    // well as the slop left of it.
    int edge = 0;
    for (std::size_t i = 0; i < g.widths.size(); ++i) {
      edge += g.widths[i];
      if (x >= edge - g.edgeSlop && x <= edge + g.edgeSlop) {
        hit.kind = HitKind::HeaderEdge;
        hit.column = static_cast<int>(i);
        return hit;
      }
    }
    hit.kind = column >= 0 ? HitKind::Header : HitKind::Nowhere;
    hit.column = column;
    return hit;
  }
  if (g.footerHeight > 0 && y >= g.dataBottom()) {
    hit.kind = HitKind::Footer;
    hit.column = column;
    return hit;
  }
  int row = g.firstRow + (y - g.dataTop()) / std::max(g.rowHeight, 1);
  if (column < 0 || row >= g.rowCount || y >= g.dataBottom()) {
    hit.kind = HitKind::Empty;
    hit.column = column;
    return hit;
  }
  hit.kind = HitKind::Cell;
  hit.column = column;
  hit.row = row;
  return hit;
}

int scrollToShow(int firstRow, int row, int visibleRows) {
  if (row < firstRow) return row;
  if (visibleRows > 0 && row >= firstRow + visibleRows) return row - visibleRows + 1;
  return firstRow;
}

int pageMove(int row, int visibleRows, int count, bool down) {
  if (count <= 0) return -1;
  int step = std::max(visibleRows - 1, 1);
  int target = down ? row + step : row - step;
  return std::clamp(target, 0, count - 1);
}

}  // namespace qadj::grid
