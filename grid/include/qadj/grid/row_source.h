// Where the grid's rows come from. The grid asks one RowSource for everything it
// shows of a row; which one answers is chosen by the grid's mode:
//  - DataSetRows (record-window mode): the data set's own records, read when asked;
//  - LoadedRows (load-all mode): copies of the bound fields' values taken at a load,
//    in an order of the grid's own (sorting).
#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <vector>

#include "qadj/grid/options.h"
#include "qadj/grid/rows.h"
#include "qadj/server/dataset.h"

namespace qadj::grid {

// One column as a row source reads it: its slot in the loaded rows and the field it
// was bound to at the last load (may be null).
struct ColumnBinding {
  std::size_t slot = 0;
  const TField* field = nullptr;
};

class RowSource {
 public:
  virtual ~RowSource() = default;
  // Number of rows shown.
  virtual int count() const = 0;
  // The display text (GBK) and its UTF-16 form of a cell; row in [0, count()).
  virtual std::string text(int row, ColumnBinding column) const = 0;
  virtual QString displayText(int row, ColumnBinding column) const = 0;
  // The key field's value of a row, null without a key field; row in [0, count()).
  virtual CellValue key(int row) const = 0;
  // The record id of a row; row in [0, count()).
  virtual RowId id(int row) const = 0;
  // The row showing the record with this id, whose index in the data set is `index`;
  // -1 when no row shows it.
  virtual int rowOfRecord(RowId id, int index) const = 0;
};

// The data set's records as rows, in the data set's order. Reads through the bound
// data set and key field, which the grid sets with bind() at every (re)binding.
class DataSetRows final : public RowSource {
 public:
  // ds and key are not owned; either may be null (no rows, no key).
  void bind(const TDataSet* ds, const TField* key) {
    ds_ = ds;
    key_ = key;
  }
  int count() const override;
  std::string text(int row, ColumnBinding column) const override;
  QString displayText(int row, ColumnBinding column) const override;
  CellValue key(int row) const override;
  RowId id(int row) const override;
  int rowOfRecord(RowId id, int index) const override;

 private:
  const TDataSet* ds_ = nullptr;
  const TField* key_ = nullptr;
};

// The grid's own copies of the records (load-all mode). Rows are kept in load order
// ("stored" indexes) and shown in display order; both are in [0, count()).
//
// The texts are converted to what the grid paints (UTF-16) once: all of a column's at
// the end of a load (convertTexts), a row's as it is stored or replaced afterwards.
// A paint copies the converted characters of the cells it shows; numbers are
// formatted then.
class LoadedRows final : public RowSource {
 public:
  // Drops every row and prepares `columnCount` slots.
  void clear(std::size_t columnCount);
  void reserve(int rows);
  // Converts the texts of every stored row, one conversion per column. Call once the
  // rows of a load are stored; until then displayText converts as it is asked.
  void convertTexts();

  // Stores a row at the end of load order and returns its stored index. valueOf(slot)
  // gives the value of each slot. The row is not shown until sort() or showAt().
  template <class ValueOf>
  int add(RowId id, CellValue key, ValueOf&& valueOf) {
    for (std::size_t slot = 0; slot < store_.columns.size(); ++slot)
      store_.columns[slot].push_back(valueOf(slot));
    store_.keys.push_back(std::move(key));
    ids_.push_back(id);
    const int stored = store_.size() - 1;
    if (textsConverted_)
      for (std::size_t slot = 0; slot < store_.columns.size(); ++slot) convertText(stored, slot);
    return stored;
  }
  // Replaces the values and the key of a stored row.
  template <class ValueOf>
  void replace(int stored, CellValue key, ValueOf&& valueOf) {
    noteChange(stored);
    for (std::size_t slot = 0; slot < store_.columns.size(); ++slot) {
      CellValue value = valueOf(slot);
      if (value == store_.columns[slot][stored]) continue;
      store_.columns[slot][stored] = std::move(value);
      if (textsConverted_) convertText(stored, slot);
    }
    store_.keys[stored] = std::move(key);
  }
  // Shows a stored row at display row `at` (in [0, shown rows]), after the rows shown
  // so far; used for a record inserted between loads.
  void showAt(int stored, int at);
  // Shows every stored row, ordered by slot (see sortRows).
  void sort(std::size_t slot, TdxGridColumnSorted direction);

  // The stored index of the record with this id, -1 when none; `hint` is tried first.
  int storedIndexOf(RowId id, int hint) const;
  // The display row of a stored row, -1 when it is not shown.
  int displayRowOf(int stored) const;
  // The value of a slot in a stored row.
  const CellValue& storedValue(int stored, std::size_t slot) const {
    return store_.columns[slot][stored];
  }
  // The value of a slot in a stored row as it was at the last markCounted() (the
  // footer's totals count those values); null when more than one row has changed
  // since.
  const CellValue* countedValue(int stored, std::size_t slot) const;
  // The rows as they are now are what the footer counts.
  void markCounted();
  // The values of a slot over all stored rows, in load order.
  const std::vector<CellValue>& storedColumn(std::size_t slot) const {
    return store_.columns[slot];
  }

  int count() const override { return static_cast<int>(store_.order.size()); }
  std::string text(int row, ColumnBinding column) const override;
  QString displayText(int row, ColumnBinding column) const override;
  CellValue key(int row) const override { return store_.keyAt(row); }
  RowId id(int row) const override { return ids_[store_.order[row]]; }
  int rowOfRecord(RowId id, int index) const override;

 private:
  // One column's texts as painted: their characters one after the other, and where
  // each stored row's text lies in them (length -1: the cell holds no text).
  struct PaintedTexts {
    QString chars;
    std::vector<std::pair<int, int>> spans;  // start, length per stored row
  };

  void rebuildPositions();
  void noteChange(int stored);
  // Converts one cell of a stored row (after convertTexts).
  void convertText(int stored, std::size_t slot);

  RowStore store_;
  std::vector<PaintedTexts> painted_;  // per slot, once convertTexts() ran
  bool textsConverted_ = false;
  std::vector<RowId> ids_;     // record id per stored row
  std::vector<int> position_;  // display row per stored row, -1 hidden
  // The one row changed since markCounted(), with its values as counted.
  int changedRow_ = -1;
  std::vector<CellValue> changedFrom_;
  bool severalChanged_ = false;
};

}  // namespace qadj::grid
