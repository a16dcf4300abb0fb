// The grid's own rows in load-all mode: copies of the bound fields' values and of
// the key value, and their ordering under a sorted column.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "qadj/grid/options.h"
#include "qadj/protocol/packet.h"

namespace qadj::grid {

// A copied cell: null, GBK text or a number, as the packet holds it.
using CellValue = packet::Value;

// Orders two values: null first, numbers numerically, texts by their bytes; a number
// sorts before a text. Returns <0, 0 or >0.
int compareValues(const CellValue& a, const CellValue& b);

// Returns the display text of a value as the grid paints it (GBK): texts as they are,
// numbers in general notation, null empty.
std::string displayText(const CellValue& value);

// Rows as structure of arrays: one value vector per column, one key vector. `order`
// holds the row indexes in display order.
struct RowStore {
  std::vector<std::vector<CellValue>> columns;
  std::vector<CellValue> keys;
  std::vector<int> order;

  int size() const { return static_cast<int>(keys.size()); }
  void clear(std::size_t columnCount);
  // Returns the value of column c of the row shown at position `displayRow`.
  const CellValue& at(int displayRow, std::size_t c) const { return columns[c][order[displayRow]]; }
  const CellValue& keyAt(int displayRow) const { return keys[order[displayRow]]; }
};

// Reorders store.order by column c: ascending for csUp, descending for csDown, ties
// by key ascending in either direction; csNone restores load order.
void sortRows(RowStore& store, std::size_t c, TdxGridColumnSorted direction);

// Returns the next sort state of a header click: Ctrl gives csNone, csUp gives
// csDown, anything else csUp.
TdxGridColumnSorted nextSortState(TdxGridColumnSorted current, bool ctrl);

}  // namespace qadj::grid
