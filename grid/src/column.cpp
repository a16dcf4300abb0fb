#include "qadj/grid/column.h"

#include "qadj/grid/dxdbgrid.h"

namespace qadj::grid {

void TdxDBGridColumn::setWidth(int w) {
  width_ = std::max(w, 0);
  if (grid_) grid_->viewport()->update();
}

void TdxDBGridColumn::setSorted(TdxGridColumnSorted s) {
  if (grid_)
    grid_->SortByColumn(*this, s);
  else
    sorted_ = s;
}

std::string TdxDBGridColumn::SummaryFooterText() const {
  try {
    return footerText(SummaryFooterType, SummaryFooterFormat, summary_.value, {}, summaryIsDate_);
  } catch (...) {
    return {};
  }
}

int TdxDBGridColumn::Index() const {
  if (!grid_) return -1;
  for (int i = 0; i < grid_->ColumnCount(); ++i)
    if (grid_->Column(i) == this) return i;
  return -1;
}

}  // namespace qadj::grid
