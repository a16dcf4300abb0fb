#include "qadj/grid/row_source.h"

#include <algorithm>
#include <cassert>

#include "qadj/server/fields.h"
#include "qadj/widgets/qt_text.h"

namespace qadj::grid {

// --- DataSetRows ---------------------------------------------------------------

int DataSetRows::count() const {
  return ds_ && ds_->Active() ? ds_->RecordCount() : 0;
}

std::string DataSetRows::text(int row, ColumnBinding column) const {
  return column.field ? column.field->DisplayTextAt(row) : std::string();
}

QString DataSetRows::displayText(int row, ColumnBinding column) const {
  return text::gbkToQString(text(row, column));
}

CellValue DataSetRows::key(int row) const {
  return key_ ? key_->ValueAt(row) : CellValue{};
}

RowId DataSetRows::id(int row) const {
  return ds_->BookmarkAt(row).id;
}

int DataSetRows::rowOfRecord(RowId, int index) const {
  return index >= 0 && index < count() ? index : -1;
}

// --- LoadedRows ----------------------------------------------------------------

void LoadedRows::clear(std::size_t columnCount) {
  store_.clear(columnCount);
  ids_.clear();
  position_.clear();
  painted_.clear();
  textsConverted_ = false;
  markCounted();
}

void LoadedRows::convertTexts() {
  painted_.assign(store_.columns.size(), {});
  textsConverted_ = true;
  for (std::size_t slot = 0; slot < store_.columns.size(); ++slot) {
    const std::vector<CellValue>& values = store_.columns[slot];
    PaintedTexts& out = painted_[slot];
    out.spans.assign(values.size(), {0, -1});
    // The column's texts joined by NUL, which GBK writes as one zero byte and uses in
    // no other character, go through one conversion.
    std::string joined;
    for (const auto& value : values)
      if (const auto* s = std::get_if<std::string>(&value)) {
        joined += *s;
        joined += '\0';
      }
    if (joined.empty()) continue;
    out.chars = text::gbkToQString(joined);
    const QChar* chars = out.chars.constData();
    const int size = static_cast<int>(out.chars.size());
    int at = 0;
    for (std::size_t stored = 0; stored < values.size() && at <= size; ++stored) {
      if (!std::holds_alternative<std::string>(values[stored])) continue;
      int end = at;
      while (end < size && !chars[end].isNull()) ++end;
      out.spans[stored] = {at, end - at};
      at = end + 1;  // past the NUL; past the end when there was none
    }
    if (at == size) continue;
    // A text holding NUL itself, or a conversion that did not keep the separators:
    // one text at a time.
    out.chars.clear();
    for (std::size_t stored = 0; stored < values.size(); ++stored)
      convertText(static_cast<int>(stored), slot);
  }
}

void LoadedRows::convertText(int stored, std::size_t slot) {
  PaintedTexts& out = painted_[slot];
  const auto index = static_cast<std::size_t>(stored);
  if (out.spans.size() <= index) out.spans.resize(index + 1, {0, -1});
  const auto* s = std::get_if<std::string>(&store_.columns[slot][index]);
  if (!s) {
    out.spans[index] = {0, -1};
    return;
  }
  const QString converted = text::gbkToQString(*s);
  out.spans[index] = {static_cast<int>(out.chars.size()), static_cast<int>(converted.size())};
  out.chars += converted;
}

void LoadedRows::reserve(int rows) {
  const auto n = static_cast<std::size_t>(std::max(rows, 0));
  for (auto& column : store_.columns) column.reserve(n);
  store_.keys.reserve(n);
  ids_.reserve(n);
}

void LoadedRows::showAt(int stored, int at) {
  assert(stored >= 0 && stored < store_.size() && at >= 0 && at <= count());
  store_.order.insert(store_.order.begin() + at, stored);
  rebuildPositions();
}

void LoadedRows::sort(std::size_t slot, TdxGridColumnSorted direction) {
  sortRows(store_, slot, direction);
  rebuildPositions();
}

int LoadedRows::storedIndexOf(RowId id, int hint) const {
  if (id == 0) return -1;
  if (hint >= 0 && hint < static_cast<int>(ids_.size()) && ids_[hint] == id) return hint;
  auto it = std::find(ids_.begin(), ids_.end(), id);
  return it == ids_.end() ? -1 : static_cast<int>(it - ids_.begin());
}

int LoadedRows::displayRowOf(int stored) const {
  return stored >= 0 && stored < static_cast<int>(position_.size()) ? position_[stored] : -1;
}

std::string LoadedRows::text(int row, ColumnBinding column) const {
  return grid::displayText(store_.at(row, column.slot));
}

QString LoadedRows::displayText(int row, ColumnBinding column) const {
  const CellValue& value = store_.at(row, column.slot);
  if (textsConverted_ && std::holds_alternative<std::string>(value)) {
    const auto [start, length] = painted_[column.slot].spans[store_.order[row]];
    assert(length >= 0);
    return QString(painted_[column.slot].chars.constData() + start, length);
  }
  if (std::holds_alternative<double>(value))
    return QString::fromLatin1(grid::displayText(value));  // a number's text is ASCII
  return text::gbkToQString(text(row, column));
}

const CellValue* LoadedRows::countedValue(int stored, std::size_t slot) const {
  if (severalChanged_) return nullptr;
  return stored == changedRow_ ? &changedFrom_[slot] : &store_.columns[slot][stored];
}

void LoadedRows::markCounted() {
  changedRow_ = -1;
  changedFrom_.clear();
  severalChanged_ = false;
}

void LoadedRows::noteChange(int stored) {
  if (stored == changedRow_ || severalChanged_) return;
  if (changedRow_ >= 0) {
    severalChanged_ = true;
    return;
  }
  changedRow_ = stored;
  changedFrom_.clear();
  for (const auto& column : store_.columns) changedFrom_.push_back(column[stored]);
}

int LoadedRows::rowOfRecord(RowId id, int index) const {
  return displayRowOf(storedIndexOf(id, index));
}

void LoadedRows::rebuildPositions() {
  position_.assign(ids_.size(), -1);
  for (std::size_t i = 0; i < store_.order.size(); ++i) position_[store_.order[i]] = int(i);
}

}  // namespace qadj::grid
