// Columns of the data-bound grid. A column shows one field of the bound data set by
// its display text and edits it as text; it also carries its footer summary.
#pragma once

#include <functional>
#include <string>

#include "qadj/grid/options.h"
#include "qadj/grid/summary.h"

namespace qadj {
class TDataSet;
class TField;
}  // namespace qadj

namespace qadj::grid {

class TdxDBGrid;

class TdxDBGridColumn {
 public:
  virtual ~TdxDBGridColumn() = default;
  TdxDBGridColumn(const TdxDBGridColumn&) = delete;
  TdxDBGridColumn& operator=(const TdxDBGridColumn&) = delete;

  // Component name (e.g. "dxDBGrid2TZXL00").
  std::string Name;
  // The bound field's name, looked up each time the data set opens.
  std::string FieldName;
  // Header text, GBK.
  std::string Caption;
  TAlignment HeaderAlignment = TAlignment::taLeftJustify;
  int MinWidth = 20;
  int BandIndex = 0;
  int RowIndex = 0;
  bool ReadOnly = false;

  TSummaryType SummaryFooterType = TSummaryType::cstNone;
  // Field to total; empty means FieldName.
  std::string SummaryFooterField;
  // Footer number format; empty means the kind's default.
  std::string SummaryFooterFormat;
  // Lets the owner change each record's value before it is added to the footer.
  std::function<void(TdxDBGridColumn& column, TDataSet& dataSet, long double& value)>
      OnSummaryFooter;

  // Width in pixels, or relative weight under edgoAutoWidth. Setting it relays out.
  int Width() const { return width_; }
  void setWidth(int w);
  TdxGridColumnSorted Sorted() const { return sorted_; }
  // Sets the sort state; in load-all mode the grid reorders its rows.
  void setSorted(TdxGridColumnSorted s);

  // The field bound at the last load (null when none or the data set is closed).
  TField* Field() const { return field_; }
  // Returns the footer text: empty for cstNone, else the accumulator of the last full
  // load formatted with SummaryFooterFormat or the kind's default. Never throws.
  std::string SummaryFooterText() const;
  const SummaryAccumulator& Summary() const { return summary_; }

  // Visual position in the grid.
  int Index() const;
  TdxDBGrid* Grid() const { return grid_; }

 protected:
  explicit TdxDBGridColumn(TdxDBGrid* grid) : grid_(grid) {}

 private:
  friend class TdxDBGrid;
  TdxDBGrid* grid_;
  int width_ = 100;
  TdxGridColumnSorted sorted_ = TdxGridColumnSorted::csNone;
  TField* field_ = nullptr;
  TField* summaryField_ = nullptr;
  SummaryAccumulator summary_;
  bool summaryIsDate_ = false;  // the last load totalled a date/time field
  std::size_t slot_ = 0;        // index of this column's values in the grid's rows
};

// Masked text column; without a mask it behaves as the plain column.
class TdxDBGridMaskColumn : public TdxDBGridColumn {
 public:
  std::string EditMask;

 protected:
  friend class TdxDBGrid;
  using TdxDBGridColumn::TdxDBGridColumn;
};

}  // namespace qadj::grid
