// Geometry of the grid: column widths under proportional sizing, the vertical bands
// (header, rows, footer) and what lies under a point. Plain functions, no widgets.
#pragma once

#include <vector>

namespace qadj::grid {

// Returns the widths of columns whose weights are `weights`, scaled so that they add
// up to exactly `clientWidth` (each at least 1 when there is room). Empty for no
// columns; all zero when clientWidth <= 0 or all weights are 0.
std::vector<int> autoWidths(const std::vector<int>& weights, int clientWidth);

// Returns new column widths after the operator dragged column `index` to `requested`
// pixels while the columns must fill `clientWidth`: the column keeps at least its
// minimum and leaves the columns to its right at least their minimums; those columns
// share the rest in proportion to their widths; the columns to its left are unchanged.
// When `index` is the last column it cannot change (the others keep the fill).
std::vector<int> resizeFilled(const std::vector<int>& widths, const std::vector<int>& minWidths,
                              int index, int requested, int clientWidth);

// Returns `requested` held at or above minWidth (the free sizing without fill).
int clampedWidth(int requested, int minWidth);

// Returns where a column dragged to x lands: the index in the visual order at which
// it is inserted (0..n-1) given the current column edges (lefts and widths).
int dropIndex(const std::vector<int>& widths, int x);

// Where each cell of a row may draw its text: a right-aligned text (a number) may
// run left over the cells just before it that show no text of their own, so that a
// total wider than its column is shown whole instead of cut. Returns, per cell, the
// index of the leftmost cell its text may cover (the cell itself when it may not run
// over anything). hasText and rightAligned have one entry per cell.
std::vector<int> textSpanStarts(const std::vector<bool>& hasText,
                                const std::vector<bool>& rightAligned);

// Vertical layout of the grid's client area.
struct GridGeometry {
  int headerHeight = 0;  // 0 when the header is hidden
  int rowHeight = 18;
  int footerHeight = 0;  // 0 when the footer is hidden
  int clientHeight = 0;
  int clientWidth = 0;
  int firstRow = 0;  // row shown at the top of the data area
  int rowCount = 0;
  std::vector<int> widths;  // column widths in visual order
  int edgeSlop = 3;         // pixels on either side of a header edge that size it

  int dataTop() const { return headerHeight; }
  int dataBottom() const { return clientHeight - footerHeight; }
  // Number of whole rows the data area shows (at least 1 when any height is left).
  int visibleRows() const;
  int columnLeft(int visualIndex) const;
};

enum class HitKind { Nowhere, Header, HeaderEdge, Cell, Footer, Empty };

struct HitTest {
  HitKind kind = HitKind::Nowhere;
  int column = -1;  // visual index
  int row = -1;     // row index (Cell only)
};

// Returns what lies under (x, y). A HeaderEdge names the column whose right edge it is.
HitTest hitTest(const GridGeometry& g, int x, int y);

// Returns the first row to show so that `row` is visible, keeping the current first
// row when it already is.
int scrollToShow(int firstRow, int row, int visibleRows);

// Returns the row that a page move from `row` lands on (rows clamped to 0..count-1).
int pageMove(int row, int visibleRows, int count, bool down);

}  // namespace qadj::grid
