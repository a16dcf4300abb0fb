#include "qadj/grid/rows.h"

#include <algorithm>
#include <numeric>

#include "qadj/platform/number_text.h"

namespace qadj::grid {

int compareValues(const CellValue& a, const CellValue& b) {
  if (a.index() != b.index()) {
    // null < number < text.
    auto rank = [](const CellValue& v) { return v.index() == 0 ? 0 : v.index() == 2 ? 1 : 2; };
    return rank(a) < rank(b) ? -1 : 1;
  }
  if (const double* x = std::get_if<double>(&a)) {
    double y = std::get<double>(b);
    return *x < y ? -1 : (*x > y ? 1 : 0);
  }
  if (const std::string* s = std::get_if<std::string>(&a)) {
    int c = s->compare(std::get<std::string>(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  return 0;
}

std::string displayText(const CellValue& value) {
  if (const std::string* s = std::get_if<std::string>(&value)) return *s;
  if (const double* d = std::get_if<double>(&value)) return numbers::formatGeneral(*d);
  return {};
}

void RowStore::clear(std::size_t columnCount) {
  columns.assign(columnCount, {});
  keys.clear();
  order.clear();
}

void sortRows(RowStore& store, std::size_t c, TdxGridColumnSorted direction) {
  store.order.resize(store.keys.size());
  std::iota(store.order.begin(), store.order.end(), 0);
  if (direction == TdxGridColumnSorted::csNone || c >= store.columns.size()) return;
  const std::vector<CellValue>& values = store.columns[c];
  const bool descending = direction == TdxGridColumnSorted::csDown;
  std::stable_sort(store.order.begin(), store.order.end(), [&](int l, int r) {
    int cmp = compareValues(values[l], values[r]);
    if (cmp != 0) return descending ? cmp > 0 : cmp < 0;
    return compareValues(store.keys[l], store.keys[r]) < 0;
  });
}

TdxGridColumnSorted nextSortState(TdxGridColumnSorted current, bool ctrl) {
  if (ctrl) return TdxGridColumnSorted::csNone;
  return current == TdxGridColumnSorted::csUp ? TdxGridColumnSorted::csDown
                                              : TdxGridColumnSorted::csUp;
}

}  // namespace qadj::grid
