#include "qadj/server/dataset.h"

#include <algorithm>

#include "qadj/platform/error.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/text.h"
#include "qadj/server/data_source.h"

namespace qadj {

namespace {

// Whether a record value matches a Locate key.
bool valueMatches(const TValue& v, const TValue& key, const TLocateOptions& o) {
  if (std::holds_alternative<std::monostate>(key)) return std::holds_alternative<std::monostate>(v);
  if (const double* kd = std::get_if<double>(&key)) {
    if (const double* vd = std::get_if<double>(&v)) return *vd == *kd;
    if (const std::string* vs = std::get_if<std::string>(&v)) {
      return numbers::parseDecimal(*vs) == *kd;
    }
    return false;
  }
  const std::string& ks = std::get<std::string>(key);
  if (const double* vd = std::get_if<double>(&v)) {
    return numbers::parseDecimal(ks) == *vd;
  }
  const std::string* vs = std::get_if<std::string>(&v);
  if (!vs) return false;
  std::string_view cand(*vs);
  if (o.partialKey) {
    if (cand.size() < ks.size()) return false;
    cand = cand.substr(0, ks.size());
  }
  return o.caseInsensitive ? text::asciiEqualsNoCase(cand, ks) : cand == ks;
}

}  // namespace

TDataSet::TDataSet(std::string name) : name_(std::move(name)) {}

TDataSet::~TDataSet() {
  // A subclass closes in its own destructor; here only the links to sources remain.
  records_.reset();
  state_ = TDataSetState::dsInactive;
  const auto sources = dataSources_;
  dataSources_.clear();
  for (TDataSource* ds : sources) ds->DataSetGone();
}

void TDataSet::DatabaseError(const std::string& message) const {
  throw EDatabaseError(name_.empty() ? message : name_ + ": " + message);
}

// --- Notifications --------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  if (disableCount_ > 0 && event != TDataEvent::deUpdateRecord &&
      event != TDataEvent::deCheckBrowseMode) {
    if (event == TDataEvent::deFieldChange || event == TDataEvent::deRecordChange ||
        event == TDataEvent::deDataSetChange || event == TDataEvent::deLayoutChange)
      changedWhileDisabled_ = true;
    return;
  }
  // A hook may detach sources (or destroy them): call only those still attached.
  const auto sources = dataSources_;
  for (TDataSource* ds : sources)
    if (std::find(dataSources_.begin(), dataSources_.end(), ds) != dataSources_.end())
      ds->DataEvent(event, info);
}

template <class Move>
void TDataSet::MoveCursor(bool general, Move&& move) {
  CheckActive();
  CheckBrowseModeAndLeaveEditing();
  const int oldIndex = CurrentIndex();
  move(*records_);
  if (disableCount_ > 0) return;  // EnableControls compares the current record
  if (general)
    DataEvent(TDataEvent::deDataSetChange);
  else if (CurrentIndex() != oldIndex)
    DataEvent(TDataEvent::deDataSetScroll, CurrentIndex() - oldIndex);
}

void TDataSet::SetState(TDataSetState s) {
  if (state_ == s) return;
  state_ = s;
  DataEvent(TDataEvent::deUpdateState);
}

void TDataSet::DisableControls() {
  if (disableCount_++ == 0) {
    disabledState_ = state_;
    disabledRow_ = GetBookmark().id;
    changedWhileDisabled_ = false;
  }
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0 || --disableCount_ > 0) return;
  const bool stateChanged = state_ != disabledState_;
  if (stateChanged) DataEvent(TDataEvent::deUpdateState);
  if (changedWhileDisabled_ && Active())
    DataEvent(TDataEvent::deDataSetChange);
  else if (!stateChanged && GetBookmark().id != disabledRow_)
    DataEvent(TDataEvent::deDataSetScroll, 0);
  changedWhileDisabled_ = false;
}

void TDataSet::AttachDataSource(TDataSource* ds) {
  if (std::find(dataSources_.begin(), dataSources_.end(), ds) == dataSources_.end())
    dataSources_.push_back(ds);
}

void TDataSet::DetachDataSource(TDataSource* ds) {
  std::erase(dataSources_, ds);
}

// --- Open and close ---------------------------------------------------------------

void TDataSet::Open() {
  if (Active()) return;
  try {
    records_ = DoOpen();
    BindFields();
  } catch (...) {
    records_.reset();
    UnbindFields();
    DoAfterClose();
    throw;
  }
  state_ = TDataSetState::dsBrowse;
  DataEvent(TDataEvent::deUpdateState);
}

void TDataSet::Close() {
  if (!Active()) return;
  // The edit in progress and every local change go with the record set.
  records_.reset();
  UnbindFields();
  state_ = TDataSetState::dsInactive;
  DoAfterClose();
  DataEvent(TDataEvent::deUpdateState);
}

TField* TDataSet::CreateDefaultField(const packet::Column& c) {
  std::unique_ptr<TField> f;
  if (packet::isTextType(c.typeName))
    f.reset(new TStringField(this, c.name, c.width, false, TFieldKind::Default));
  else if (packet::isDateType(c.typeName))
    f.reset(new TDateTimeField(this, c.name, 0, false, TFieldKind::Default));
  else
    f.reset(new TFloatField(this, c.name, 0, false, TFieldKind::Default));
  TField* raw = f.get();
  ownedFields_.push_back(std::move(f));
  return raw;
}

void TDataSet::BindFields() {
  const auto& columns = records_->Columns();
  if (!hasPersistent_) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].hidden) continue;
      TField* f = CreateDefaultField(columns[i]);
      f->column_ = static_cast<int>(i);
      f->index_ = static_cast<int>(fieldList_.size());
      fieldList_.push_back(f);
    }
    return;
  }
  for (TField* f : fieldList_) {
    const int col = records_->FindColumn(f->FieldName());
    if (col < 0) DatabaseError("Field '" + f->FieldName() + "' not found");
    const std::string& actual = columns[col].typeName;
    if (!f->AcceptsColumnType(actual))
      DatabaseError("Type mismatch for field '" + f->FieldName() +
                    "', expecting: " + f->TypeName() + " actual: " + actual);
    f->column_ = col;
  }
}

void TDataSet::UnbindFields() {
  for (TField* f : fieldList_) f->column_ = -1;
  if (hasPersistent_) return;
  fieldList_.clear();
  ownedFields_.clear();
}

TStringField* TDataSet::AddStringField(std::string fieldName, int size, bool readOnly) {
  auto* f = new TStringField(this, std::move(fieldName), size, readOnly, TFieldKind::Persistent);
  ownedFields_.emplace_back(f);
  f->index_ = static_cast<int>(fieldList_.size());
  fieldList_.push_back(f);
  hasPersistent_ = true;
  return f;
}

TFloatField* TDataSet::AddFloatField(std::string fieldName, bool readOnly) {
  auto* f = new TFloatField(this, std::move(fieldName), 0, readOnly, TFieldKind::Persistent);
  ownedFields_.emplace_back(f);
  f->index_ = static_cast<int>(fieldList_.size());
  fieldList_.push_back(f);
  hasPersistent_ = true;
  return f;
}

// --- Cursor -----------------------------------------------------------------------

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset");
}

bool TDataSet::Editing() const {
  return state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert;
}

void TDataSet::CheckBrowseModeAndLeaveEditing() {
  DataEvent(TDataEvent::deCheckBrowseMode);
  if (!Editing()) return;
  if (records_->Modified())
    DoPost();
  else
    DoCancel();
}

void TDataSet::First() {
  MoveCursor(true, [](RecordSet& r) { r.First(); });
}

void TDataSet::Next() {
  MoveCursor(false, [](RecordSet& r) { r.Next(); });
}

void TDataSet::Prior() {
  MoveCursor(false, [](RecordSet& r) { r.Prior(); });
}

void TDataSet::Last() {
  MoveCursor(false, [](RecordSet& r) { r.Last(); });
}

int TDataSet::MoveBy(int distance) {
  int moved = 0;
  MoveCursor(false, [&](RecordSet& r) {
    const int old = r.Current();
    for (int i = 0; i < distance && !r.Eof(); ++i) r.Next();
    for (int i = 0; i > distance && !r.Bof(); --i) r.Prior();
    moved = r.Current() - old;
  });
  return moved;
}

bool TDataSet::Eof() const {
  return records_ ? records_->Eof() : true;
}
bool TDataSet::Bof() const {
  return records_ ? records_->Bof() : true;
}
bool TDataSet::IsEmpty() const {
  return !records_ || records_->Count() == 0;
}
int TDataSet::RecordCount() const {
  return records_ ? records_->Count() : 0;
}
int TDataSet::CurrentIndex() const {
  return records_ ? records_->Current() : -1;
}

// --- Editing ----------------------------------------------------------------------

bool TDataSet::Modified() const {
  return records_ && records_->Modified();
}

bool TDataSet::CanModify() const {
  return records_ && !records_->ReadOnly();
}

void TDataSet::CheckEditing() const {
  if (!Editing()) DatabaseError("Dataset not in edit or insert mode");
}

void TDataSet::Edit() {
  if (Editing()) return;
  CheckActive();
  if (records_->Count() == 0) {
    DoInsert(false);
    return;
  }
  if (records_->ReadOnly()) DatabaseError("Cannot modify a read-only dataset");
  if (records_->DisableEdits()) DatabaseError("Modifications are not allowed");
  records_->BeginEdit();
  SetState(TDataSetState::dsEdit);
  DataEvent(TDataEvent::deRecordChange);
}

void TDataSet::Insert() {
  DoInsert(false);
}
void TDataSet::Append() {
  DoInsert(true);
}

void TDataSet::DoInsert(bool atEnd) {
  CheckActive();
  // The packet's refusals are checked before anything moves, so a refused insert
  // leaves a pending edit as it was.
  if (records_->ReadOnly()) DatabaseError("Cannot modify a read-only dataset");
  if (records_->DisableInserts()) DatabaseError("Inserts are not allowed");
  if (Editing()) {
    if (records_->Modified())
      DoPost();
    else
      DoCancel();
  }
  records_->BeginInsert(atEnd);
  SetState(TDataSetState::dsInsert);
  DataEvent(TDataEvent::deDataSetChange);
}

void TDataSet::Post() {
  const bool wasEditing = Editing();
  DataEvent(TDataEvent::deCheckBrowseMode);
  // A bound control writing its pending value may have run a handler that posted (or
  // cancelled) already: then this post has nothing left to do.
  if (wasEditing && !Editing()) return;
  CheckEditing();
  DoPost();
}

void TDataSet::DoPost() {
  DataEvent(TDataEvent::deUpdateRecord);
  // An update-record hook may have left editing (e.g. by cancelling); then there is
  // nothing left to store.
  if (!Editing()) return;
  const bool inserting = state_ == TDataSetState::dsInsert;
  records_->EndEdit(true);
  SetState(TDataSetState::dsBrowse);
  DataEvent(TDataEvent::deDataSetChange, inserting ? 0 : kEditEnded);
}

void TDataSet::Cancel() {
  if (!Editing()) return;
  DataEvent(TDataEvent::deCheckBrowseMode);
  if (!Editing()) return;
  DoCancel();
}

void TDataSet::DoCancel() {
  const bool inserting = state_ == TDataSetState::dsInsert;
  records_->EndEdit(false);
  SetState(TDataSetState::dsBrowse);
  DataEvent(TDataEvent::deDataSetChange, inserting ? 0 : kEditEnded);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  if (IsEmpty()) DatabaseError("Cannot perform this operation on an empty dataset");
  // A read-only record set refuses deletion as it refuses every other change.
  if (records_->ReadOnly()) DatabaseError("Cannot modify a read-only dataset");
  if (records_->DisableDeletes()) DatabaseError("Deletes are not allowed");
  DataEvent(TDataEvent::deCheckBrowseMode);
  if (Editing()) records_->EndEdit(false);  // the row goes; its pending values with it
  records_->DeleteCurrent();
  SetState(TDataSetState::dsBrowse);
  DataEvent(TDataEvent::deDataSetChange);
}

// --- Bookmarks and Locate -----------------------------------------------------------

TBookmark TDataSet::GetBookmark() const {
  return BookmarkAt(CurrentIndex());
}

TBookmark TDataSet::BookmarkAt(int recIndex) const {
  if (!records_ || recIndex < 0 || recIndex >= records_->Count()) return {};
  return TBookmark{records_->IdAt(recIndex)};
}

bool TDataSet::BookmarkValid(const TBookmark& b) const {
  return records_ && !b.IsNull() && records_->IndexOf(b.id) >= 0;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  const int ia = BookmarkValid(a) ? records_->IndexOf(a.id) : -1;
  const int ib = BookmarkValid(b) ? records_->IndexOf(b.id) : -1;
  return ia < ib ? -1 : (ia > ib ? 1 : 0);
}

void TDataSet::GotoBookmark(const TBookmark& b) {
  CheckActive();
  if (!BookmarkValid(b)) DatabaseError("Record not found");
  MoveCursor(false, [&](RecordSet& r) {
    const int idx = r.IndexOf(b.id);
    if (idx < 0) DatabaseError("Record not found");  // it was the cancelled inserted row
    r.MoveTo(idx);
  });
}

bool TDataSet::Locate(std::string_view fieldName, const TValue& value, TLocateOptions options) {
  CheckActive();
  TField* f = FieldByName(fieldName);
  bool found = false;
  MoveCursor(false, [&](RecordSet& r) {
    for (int i = 0; i < r.Count() && !found; ++i) {
      if (!valueMatches(FieldValue(*f, i), value, options)) continue;
      r.MoveTo(i);
      found = true;
    }
  });
  return found;
}

// --- Fields -----------------------------------------------------------------------

TField* TDataSet::FindField(std::string_view name) const {
  for (TField* f : fieldList_)
    if (text::asciiEqualsNoCase(f->FieldName(), name)) return f;
  return nullptr;
}

TField* TDataSet::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (!f) DatabaseError("Field '" + std::string(name) + "' not found");
  return f;
}

TValue TDataSet::FieldValue(const TField& f, int recIndex) const {
  if (!records_ || f.column_ < 0 || recIndex < 0 || recIndex >= records_->Count()) return {};
  return records_->ValueAt(recIndex, f.column_);
}

void TDataSet::CheckFieldWritable(const TField& f) const {
  CheckEditing();
  if (f.ReadOnly()) throw EDatabaseError("Field '" + f.FieldName() + "' cannot be modified");
}

void TDataSet::WriteField(TField& f, TValue v) {
  CheckFieldWritable(f);
  records_->SetValue(f.column_, std::move(v));
  DataEvent(TDataEvent::deFieldChange, reinterpret_cast<std::intptr_t>(&f));
}

}  // namespace qadj
