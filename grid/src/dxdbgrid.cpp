// Configuration, data-set binding, loading and focus of the grid.
#include "qadj/grid/dxdbgrid.h"

#include <QApplication>
#include <QPalette>
#include <QScrollBar>
#include <algorithm>
#include <cassert>

#include "cell_editor.h"
#include "guards.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/text.h"
#include "qadj/server/fields.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/widgets/qt_text.h"

namespace qadj::grid {

using DB = TdxDBGridOptionDB;

// The grid's binding to its data source: turns notifications into grid calls.
class TdxDBGrid::Link : public TDataLink {
 public:
  explicit Link(TdxDBGrid* grid) : grid_(grid) {}

 protected:
  void activeChanged() override { grid_->onActiveChanged(); }
  void dataSetChanged() override { grid_->onDataSetChanged(); }
  void recordEditEnded() override { grid_->onRecordEditEnded(); }
  void recordChanged(TField* field) override { grid_->onRecordChanged(field); }
  void dataSetScrolled(int) override { grid_->onScrolled(); }
  void layoutChanged() override { grid_->onDataSetChanged(); }
  void updateData() override { grid_->onPendingValuesRequested(); }
  void checkBrowseMode() override { grid_->onPendingValuesRequested(); }
  void editingChanged() override { grid_->viewport()->update(); }

 private:
  TdxDBGrid* grid_;
};

namespace {

// Keeps a data set's controls disabled for the lifetime of the guard.
class ControlsDisabled {
 public:
  explicit ControlsDisabled(TDataSet& ds) : ds_(ds) { ds_.DisableControls(); }
  ~ControlsDisabled() { ds_.EnableControls(); }
  ControlsDisabled(const ControlsDisabled&) = delete;
  ControlsDisabled& operator=(const ControlsDisabled&) = delete;

 private:
  TDataSet& ds_;
};

// A summary value from a cell: numbers as they are, numeric text parsed, anything
// else (null, other text) 0.
long double summaryValue(const TValue& v) {
  if (const double* d = std::get_if<double>(&v)) return *d;
  if (const std::string* s = std::get_if<std::string>(&v)) {
    if (const auto parsed = numbers::parseDecimal(*s)) return *parsed;
  }
  return 0;
}

}  // namespace

TdxDBGrid::TdxDBGrid(QWidget* parent)
    : QAbstractScrollArea(parent),
      link_(std::make_unique<Link>(this)),
      headerColor_(QApplication::palette().color(QPalette::Button)) {
  Beep = [] { QApplication::beep(); };
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setAutoFillBackground(true);
  QPalette pal = viewport()->palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Base));
  viewport()->setPalette(pal);
  setFrameShape(QFrame::StyledPanel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

TdxDBGrid::~TdxDBGrid() {
  // Unbind first: the data set must not call into a half-destroyed grid.
  link_->SetDataSource(nullptr);
}

// --- Configuration -------------------------------------------------------------

TDataSource* TdxDBGrid::DataSource() const {
  return link_->DataSource();
}
TDataSet* TdxDBGrid::DataSet() const {
  return link_->DataSet();
}
bool TdxDBGrid::dataActive() const {
  return link_->DataSet() && link_->Active();
}

void TdxDBGrid::setDataSource(TDataSource* source) {
  link_->SetDataSource(source);
  onActiveChanged();
}

void TdxDBGrid::setKeyField(std::string name) {
  keyFieldName_ = std::move(name);
  if (link_->Active()) onActiveChanged();
}

void TdxDBGrid::setShowBands(bool v) {
  showBands_ = v;
  updateScrollBars();
  viewport()->update();
}
void TdxDBGrid::setShowHeader(bool v) {
  showHeader_ = v;
  updateScrollBars();
  viewport()->update();
}
void TdxDBGrid::setShowGrid(bool v) {
  showGrid_ = v;
  viewport()->update();
}
void TdxDBGrid::setShowSummaryFooter(bool v) {
  showFooter_ = v;
  updateScrollBars();
  viewport()->update();
}
void TdxDBGrid::setHeaderColor(const QColor& c) {
  headerColor_ = c;
  viewport()->update();
}
void TdxDBGrid::setLookAndFeel(TdxLookAndFeel v) {
  lookAndFeel_ = v;
  viewport()->update();
}
void TdxDBGrid::setOptionsDB(TdxDBGridOptionsDB v) {
  bool reload = v.has(DB::edgoLoadAllRecords) != optionsDB_.has(DB::edgoLoadAllRecords) ||
                v.has(DB::edgoCanNavigation) != optionsDB_.has(DB::edgoCanNavigation);
  optionsDB_ = v;
  if (reload && link_->Active()) onActiveChanged();
}
void TdxDBGrid::setOptionsView(TdxDBGridOptionsView v) {
  optionsView_ = v;
  updateScrollBars();
  viewport()->update();
}

TdxDBGridColumn* TdxDBGrid::CreateColumn() {
  columns_.push_back(std::unique_ptr<TdxDBGridColumn>(new TdxDBGridColumn(this)));
  columns_.back()->slot_ = columns_.size() - 1;
  if (link_->Active()) onActiveChanged();
  updateScrollBars();
  return columns_.back().get();
}

TdxDBGridMaskColumn* TdxDBGrid::CreateMaskColumn() {
  auto* c = new TdxDBGridMaskColumn(this);
  columns_.push_back(std::unique_ptr<TdxDBGridColumn>(c));
  c->slot_ = columns_.size() - 1;
  if (link_->Active()) onActiveChanged();
  updateScrollBars();
  return c;
}

TdxDBGridColumn* TdxDBGrid::ColumnByName(std::string_view name) const {
  for (const auto& c : columns_)
    if (c->Name == name) return c.get();
  return nullptr;
}

void TdxDBGrid::MoveColumn(int from, int to) {
  int n = ColumnCount();
  if (from < 0 || from >= n || to < 0 || to >= n || from == to) return;
  TdxDBGridColumn* focused =
      focusedColumn_ >= 0 && focusedColumn_ < n ? columns_[focusedColumn_].get() : nullptr;
  auto moved = std::move(columns_[from]);
  columns_.erase(columns_.begin() + from);
  columns_.insert(columns_.begin() + to, std::move(moved));
  if (focused) focusedColumn_ = focused->Index();
  placeEditor();
  viewport()->update();
}

std::vector<int> TdxDBGrid::DisplayedWidths() const {
  std::vector<int> widths;
  widths.reserve(columns_.size());
  for (const auto& c : columns_) widths.push_back(c->Width());
  if (optionsView_.has(TdxDBGridOptionView::edgoAutoWidth))
    return autoWidths(widths, viewport()->width());
  return widths;
}

// --- State ---------------------------------------------------------------------

bool TdxDBGrid::LoadAllMode() const {
  return optionsDB_.has(DB::edgoLoadAllRecords) || optionsDB_.has(DB::edgoPartialLoad);
}

const RowSource& TdxDBGrid::rows() const {
  if (LoadAllMode()) return loaded_;
  return live_;
}

ColumnBinding TdxDBGrid::binding(int column) const {
  const TdxDBGridColumn& c = *columns_[static_cast<std::size_t>(column)];
  return {c.slot_, c.field_};
}

int TdxDBGrid::RowCount() const {
  return dataActive() ? rows().count() : 0;
}

void TdxDBGrid::setFocusedColumn(int column) {
  if (column < 0 || column >= ColumnCount() || column == focusedColumn_) return;
  if (EditorVisible()) closeEditor(true, true);
  focusedColumn_ = column;
  viewport()->update();
}

void TdxDBGrid::SortByColumn(TdxDBGridColumn& column, TdxGridColumnSorted s) {
  assert(column.grid_ == this);
  column.sorted_ = s;
  if (s != TdxGridColumnSorted::csNone)
    for (auto& other : columns_)
      if (other.get() != &column) other->sorted_ = TdxGridColumnSorted::csNone;
  applySort();
  syncFocusFromDataSet();
  viewport()->update();
}

std::string TdxDBGrid::CellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return {};
  return rows().text(row, binding(column));
}

QString TdxDBGrid::cellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return {};
  return rows().displayText(row, binding(column));
}

QString TdxDBGrid::footerText(int column) const {
  if (column < 0 || column >= ColumnCount()) return {};
  return text::gbkToQString(columns_[column]->SummaryFooterText());
}

QString TdxDBGrid::columnCaption(int column) const {
  if (column < 0 || column >= ColumnCount()) return {};
  return text::gbkToQString(columns_[column]->Caption);
}

int TdxDBGrid::columnOfField(const QString& fieldName) const {
  const std::string name = fieldName.toStdString();
  for (int c = 0; c < ColumnCount(); ++c)
    if (columns_[c]->FieldName == name) return c;
  return -1;
}

CellValue TdxDBGrid::RowKey(int row) const {
  if (row < 0 || row >= RowCount()) return {};
  return rows().key(row);
}

// --- Notifications -------------------------------------------------------------

void TdxDBGrid::onActiveChanged() {
  if (loading_) return;
  closeEditorForReload();
  rowModified_ = false;
  bindFields();
  if (LoadAllMode()) {
    fullLoad();
  } else {
    loaded_.clear(columns_.size());
    syncFocusFromDataSet();
  }
  updateScrollBars();
  viewport()->update();
}

void TdxDBGrid::onDataSetChanged() {
  if (loading_) return;
  rowModified_ = false;
  TDataSet* ds = DataSet();
  if (!LoadAllMode() || !ds || !link_->Active()) {
    closeEditorForReload();
    bindFields();
    syncFocusFromDataSet();
    updateScrollBars();
    viewport()->update();
    return;
  }
  switch (ds->State()) {
    case TDataSetState::dsBrowse:
      closeEditorForReload();
      fullLoad();
      break;
    case TDataSetState::dsInsert:
      closeEditorForReload();
      if (keyField_) addInsertedRow();
      break;
    case TDataSetState::dsEdit:
      refreshCurrentRowValues();
      break;
    case TDataSetState::dsInactive:
      break;
  }
  updateScrollBars();
  viewport()->update();
}

void TdxDBGrid::onRecordEditEnded() {
  // An edit of the current record was posted or cancelled: no record moved, none came
  // or went. In load-all mode that row and the footer are brought up to date without
  // copying the other rows; anything else takes the general way.
  const int stored = LoadAllMode() && !loading_ && dataActive() && summariesFollowOneRow()
                         ? storeIndexOfCurrent()
                         : -1;
  if (stored < 0 || DataSet()->State() != TDataSetState::dsBrowse) {
    onDataSetChanged();
    return;
  }
  rowModified_ = false;
  closeEditorForReload();
  if (!refreshPostedRow(stored)) {
    fullLoad();
    updateScrollBars();
    viewport()->update();
    return;
  }
  if (sortedColumn()) applySort();
  syncFocusFromDataSet();
  viewport()->update();
}

void TdxDBGrid::onRecordChanged(TField* field) {
  if (loading_) return;
  if (!field) rowModified_ = false;
  if (LoadAllMode()) refreshCurrentRowValues();
  viewport()->update();
}

void TdxDBGrid::onScrolled() {
  if (loading_) return;
  if (EditorVisible() && !editorClosing_) {
    // The data set moved under an open editor (e.g. the owner's walk): that is a move
    // to another row, which closes the editor.
    closeEditor(true, true);
  }
  syncFocusFromDataSet();
  viewport()->update();
}

void TdxDBGrid::onPendingValuesRequested() {
  if (loading_ || editorClosing_) return;
  if (!rowModified_) return;
  if (EditorVisible()) closeEditor(true, true);
  rowModified_ = false;
}

// --- Loading -------------------------------------------------------------------

void TdxDBGrid::bindFields() {
  TDataSet* ds = DataSet();
  bool active = ds && link_->Active();
  for (auto& c : columns_) {
    c->field_ = active && !c->FieldName.empty() ? ds->FindField(c->FieldName) : nullptr;
    const std::string& summaryName =
        c->SummaryFooterField.empty() ? c->FieldName : c->SummaryFooterField;
    c->summaryField_ = active && !summaryName.empty() ? ds->FindField(summaryName) : nullptr;
  }
  keyField_ = active && !keyFieldName_.empty() ? ds->FindField(keyFieldName_) : nullptr;
  live_.bind(active ? ds : nullptr, keyField_);
}

void TdxDBGrid::fullLoad() {
  loaded_.clear(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i]->slot_ = i;
  TDataSet* ds = DataSet();
  if (!ds || !link_->Active()) {
    focusedRow_ = -1;
    return;
  }
  if (optionsDB_.has(DB::edgoCanNavigation) && !keyField_) {
    // Without a usable key the rows cannot be told apart: show none.
    resetSummaries();
    finishSummaries();
    focusedRow_ = -1;
    firstRow_ = 0;
    return;
  }
  {
    FlagGuard guard(loading_);
    ControlsDisabled disabled(*ds);
    loadRows();
    loaded_.convertTexts();
  }
  applySort();
  syncFocusFromDataSet();
}

void TdxDBGrid::loadRows() {
  TDataSet& ds = *DataSet();
  loaded_.reserve(ds.RecordCount());
  resetSummaries();
  bool perRecordHandlers = false;
  for (auto& c : columns_) perRecordHandlers = perRecordHandlers || bool(c->OnSummaryFooter);
  static const TValue kNull;
  // Columns are in slot order right after a load.
  auto copyRecord = [&](int rec) {
    loaded_.add(ds.BookmarkAt(rec).id, keyField_ ? keyField_->ValueAt(rec) : kNull,
                [&](std::size_t slot) {
                  const TField* f = columns_[slot]->field_;
                  return f ? f->ValueAt(rec) : kNull;
                });
    addSummaries(rec);
  };
  const int count = ds.RecordCount();
  if (perRecordHandlers) {
    // The handlers read the data set's current record: walk the cursor.
    TBookmark mark = ds.GetBookmark();
    ds.First();
    while (!ds.Eof()) {
      copyRecord(ds.CurrentIndex());
      ds.Next();
    }
    if (!mark.IsNull() && ds.BookmarkValid(mark)) ds.GotoBookmark(mark);
  } else {
    for (int rec = 0; rec < count; ++rec) copyRecord(rec);
  }
  finishSummaries();
}

void TdxDBGrid::resetSummaries() {
  for (auto& c : columns_) {
    const auto* quantities = dynamic_cast<const TFloatField*>(c->summaryField_);
    c->summary_.reset(quantities && quantities->InHundredths());
    c->summaryIsDate_ = c->summaryField_ && c->summaryField_->DataType() == TFieldType::ftDateTime;
  }
  summaryCount_ = 0;
  if (OnBeforeCalcSummary) OnBeforeCalcSummary(*this);
}

void TdxDBGrid::addSummaries(int recIndex) {
  for (auto& c : columns_) {
    if (c->SummaryFooterType == TSummaryType::cstNone) continue;
    long double value = 0;
    if (c->SummaryFooterType != TSummaryType::cstCount && c->summaryField_)
      value = summaryValue(c->summaryField_->ValueAt(recIndex));
    if (c->OnSummaryFooter) c->OnSummaryFooter(*c, *DataSet(), value);
    c->summary_.add(c->SummaryFooterType, value);
  }
  ++summaryCount_;
}

void TdxDBGrid::finishSummaries() {
  for (auto& c : columns_) c->summary_.finish(c->SummaryFooterType, summaryCount_);
  if (OnCalcSummary) OnCalcSummary(*this);
}

bool TdxDBGrid::summariesFollowOneRow() const {
  if (OnBeforeCalcSummary || OnCalcSummary) return false;
  for (const auto& c : columns_) {
    if (c->SummaryFooterType == TSummaryType::cstNone) continue;
    if (c->OnSummaryFooter) return false;
    if (c->SummaryFooterType != TSummaryType::cstCount && c->summaryField_ != c->field_)
      return false;
  }
  return true;
}

bool TdxDBGrid::refreshPostedRow(int stored) {
  std::vector<long double> before(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const TValue* counted = loaded_.countedValue(stored, columns_[i]->slot_);
    if (!counted) return false;
    before[i] = summaryValue(*counted);
  }
  storeCurrentRecord(stored);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    TdxDBGridColumn& c = *columns_[i];
    const TSummaryType type = c.SummaryFooterType;
    if (type == TSummaryType::cstNone || type == TSummaryType::cstCount) continue;
    const long double after = summaryValue(loaded_.storedValue(stored, c.slot_));
    if (c.summary_.replace(type, before[i], after, summaryCount_)) continue;
    // Not a total kept in hundredths: count it again from the stored values.
    c.summary_.reset(c.summary_.inHundredths);
    for (const TValue& v : loaded_.storedColumn(c.slot_)) c.summary_.add(type, summaryValue(v));
    c.summary_.finish(type, summaryCount_);
  }
  loaded_.markCounted();
  return true;
}

void TdxDBGrid::addInsertedRow() {
  TDataSet* ds = DataSet();
  if (storeIndexOfCurrent() >= 0) {
    refreshCurrentRowValues();
    syncFocusFromDataSet();
    return;
  }
  const int stored = storeCurrentRecord(-1);
  // Insert puts the record before the current one; Append after the last.
  bool appended = ds->CurrentIndex() == ds->RecordCount() - 1;
  int at = appended || focusedRow_ < 0 ? stored : std::min(focusedRow_, stored);
  loaded_.showAt(stored, at);
  focusedRow_ = at;
  makeRowVisible(at);
}

void TdxDBGrid::refreshCurrentRowValues() {
  int stored = storeIndexOfCurrent();
  if (stored >= 0) storeCurrentRecord(stored);
}

int TdxDBGrid::storeCurrentRecord(int stored) {
  // The slot of a column differs from its visual index once columns have moved.
  std::vector<const TField*> fields(columns_.size());
  for (const auto& c : columns_) fields[c->slot_] = c->field_;
  auto value = [&](std::size_t slot) { return fields[slot] ? fields[slot]->Value() : TValue{}; };
  TValue key = keyField_ ? keyField_->Value() : TValue{};
  if (stored < 0) return loaded_.add(DataSet()->GetBookmark().id, std::move(key), value);
  loaded_.replace(stored, std::move(key), value);
  return stored;
}

const TdxDBGridColumn* TdxDBGrid::sortedColumn() const {
  for (const auto& c : columns_)
    if (c->Sorted() != TdxGridColumnSorted::csNone) return c.get();
  return nullptr;
}

void TdxDBGrid::applySort() {
  if (!LoadAllMode()) return;
  const TdxDBGridColumn* sorted = sortedColumn();
  loaded_.sort(sorted ? sorted->slot_ : 0, sorted ? sorted->Sorted() : TdxGridColumnSorted::csNone);
}

int TdxDBGrid::storeIndexOfCurrent() const {
  TDataSet* ds = DataSet();
  if (!dataActive()) return -1;
  return loaded_.storedIndexOf(ds->GetBookmark().id, ds->CurrentIndex());
}

void TdxDBGrid::syncFocusFromDataSet() {
  TDataSet* ds = DataSet();
  if (!ds || !link_->Active()) {
    focusedRow_ = -1;
    firstRow_ = 0;
    return;
  }
  focusedRow_ = rows().rowOfRecord(ds->GetBookmark().id, ds->CurrentIndex());
  int count = RowCount();
  firstRow_ = std::clamp(firstRow_, 0, std::max(0, count - visibleRowCount()));
  if (focusedRow_ >= 0) makeRowVisible(focusedRow_);
  updateScrollBars();
  placeEditor();
}

// --- Movement ------------------------------------------------------------------

TdxDBGrid::RowIdentity TdxDBGrid::identityOf(int row) const {
  RowIdentity r;
  if (row < 0 || row >= RowCount()) return r;
  r.valid = true;
  r.id = rows().id(row);
  r.byKey = keyField_ != nullptr;
  if (r.byKey) r.key = rows().key(row);
  return r;
}

int TdxDBGrid::rowOf(const RowIdentity& record) const {
  if (!record.valid) return -1;
  const int count = RowCount();
  TDataSet* ds = DataSet();
  if (!ds || !link_->Active()) return -1;
  for (int row = 0; row < count; ++row) {
    if (record.byKey) {
      if (compareValues(rows().key(row), record.key) == 0) return row;
    } else if (identityOf(row).id == record.id) {
      return row;
    }
  }
  return -1;
}

void TdxDBGrid::leaveRecord() {
  TDataSet* ds = DataSet();
  if (!ds || !link_->Active()) return;
  if (ds->State() == TDataSetState::dsInsert && !ds->Modified())
    ds->Cancel();
  else if (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert)
    ds->Post();
}

void TdxDBGrid::moveToRow(int row) {
  TDataSet* ds = DataSet();
  int count = RowCount();
  if (!ds || !link_->Active() || count == 0) return;
  row = std::clamp(row, 0, count - 1);
  if (row == focusedRow_) {
    makeRowVisible(row);
    return;
  }
  if (LoadAllMode()) {
    // Remember the target by record: leaving the record may reload and reorder.
    TBookmark target{rows().id(row)};
    leaveRecord();
    if (ds->BookmarkValid(target)) ds->GotoBookmark(target);
  } else {
    int rec = row;
    bool wasInserting = ds->State() == TDataSetState::dsInsert;
    int before = ds->CurrentIndex();
    leaveRecord();
    // A cancelled insert removes the row above the target.
    if (wasInserting && ds->State() == TDataSetState::dsBrowse && ds->RecordCount() < count &&
        rec > before)
      --rec;
    ds->MoveBy(rec - ds->CurrentIndex());
  }
  syncFocusFromDataSet();
  viewport()->update();
}

int TdxDBGrid::visibleRowCount() const {
  return Geometry().visibleRows();
}

void TdxDBGrid::makeRowVisible(int row) {
  firstRow_ = scrollToShow(firstRow_, row, visibleRowCount());
  updateScrollBars();
}

void TdxDBGrid::updateScrollBars() {
  // The bars' signals stay connected: the scroll area shows or hides a bar when its
  // range changes. The scrolling they report is the grid's own and is not acted on.
  FlagGuard updating(updatingScrollBars_);
  int count = RowCount();
  int visible = visibleRowCount();
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, std::max(0, count - visible));
  v->setPageStep(std::max(1, visible));
  v->setSingleStep(1);
  v->setValue(firstRow_);
  QScrollBar* h = horizontalScrollBar();
  int overflow = std::max(0, contentWidth() - viewport()->width());
  h->setRange(0, overflow);
  h->setPageStep(std::max(1, viewport()->width()));
  h->setSingleStep(20);
  xOffset_ = std::min(xOffset_, overflow);
  h->setValue(xOffset_);
}

void TdxDBGrid::scrollContentsBy(int, int) {
  if (updatingScrollBars_) return;
  firstRow_ = verticalScrollBar()->value();
  xOffset_ = horizontalScrollBar()->value();
  if (!LoadAllMode() && focusedRow_ >= 0) {
    // Scrolling the record window moves the data set into the window.
    int visible = visibleRowCount();
    int target = std::clamp(focusedRow_, firstRow_, firstRow_ + std::max(visible, 1) - 1);
    if (target != focusedRow_) {
      int keepFirst = firstRow_;
      guarded([&] { moveToRow(target); });
      firstRow_ = keepFirst;
      updateScrollBars();
    }
  }
  placeEditor();
  viewport()->update();
}

int TdxDBGrid::contentWidth() const {
  if (optionsView_.has(TdxDBGridOptionView::edgoAutoWidth)) return 0;
  int w = 0;
  for (const auto& c : columns_) w += c->Width();
  return w;
}

// --- Geometry ------------------------------------------------------------------

int TdxDBGrid::rowHeight() const {
  return std::max(18, fontMetrics().height() + 5);
}
int TdxDBGrid::bandHeight() const {
  return showBands_ ? rowHeight() + 2 : 0;
}
int TdxDBGrid::headerHeight() const {
  return bandHeight() + (showHeader_ ? (rowHeight() + 2) * std::max(HeaderPanelRowCount, 1) : 0);
}
int TdxDBGrid::footerHeight() const {
  return showFooter_ ? rowHeight() + 4 : 0;
}

GridGeometry TdxDBGrid::Geometry() const {
  GridGeometry g;
  g.headerHeight = headerHeight();
  g.rowHeight = rowHeight();
  g.footerHeight = footerHeight();
  g.clientWidth = viewport()->width();
  g.clientHeight = viewport()->height();
  g.firstRow = firstRow_;
  g.rowCount = RowCount();
  g.widths = DisplayedWidths();
  return g;
}

QRect TdxDBGrid::CellRect(int row, int column) const {
  GridGeometry g = Geometry();
  if (column < 0 || column >= ColumnCount()) return {};
  int x = g.columnLeft(column) - xOffset_;
  int y = g.dataTop() + (row - firstRow_) * g.rowHeight;
  return QRect(x, y, g.widths[column], g.rowHeight);
}

QRect TdxDBGrid::HeaderRect(int column) const {
  GridGeometry g = Geometry();
  if (column < 0 || column >= ColumnCount()) return {};
  int top = bandHeight();
  return QRect(g.columnLeft(column) - xOffset_, top, g.widths[column], g.headerHeight - top);
}

void TdxDBGrid::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  if (focusedRow_ >= 0) makeRowVisible(focusedRow_);
  updateScrollBars();
  placeEditor();
}

// --- Error frame ---------------------------------------------------------------

bool TdxDBGrid::event(QEvent* e) {
  if (e->type() == cancelModeEventType()) {
    cancelGesture();
    return true;
  }
  return guarded([&] { return QAbstractScrollArea::event(e); }, true);
}

void TdxDBGrid::cancelGesture() {
  if (state_ == TdxGridState::Normal || state_ == TdxGridState::Editing) return;
  state_ = TdxGridState::Normal;
  movingTarget_ = -1;
  viewport()->setCursor(Qt::ArrowCursor);
  viewport()->update();
}

bool TdxDBGrid::viewportEvent(QEvent* e) {
  return guarded([&] { return QAbstractScrollArea::viewportEvent(e); }, true);
}

}  // namespace qadj::grid
