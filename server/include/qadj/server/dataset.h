// TDataSet: a table on the client with a cursor, fields, local editing and change
// notifications to the data sources bound to it. TClientDataSet (client_dataset.h)
// fills it from the application server.
//
// Stable for the grid and the window (names and meaning will not change):
//   state and cursor  State, Active, Open, Close, First, Next, Prior, Last, MoveBy,
//                     Eof, Bof, IsEmpty, RecordCount, RecNo, CurrentIndex
//   editing           Edit, Post, Cancel, Insert, Append, Delete, Modified, CanModify
//   bookmarks         GetBookmark, GotoBookmark, BookmarkValid, CompareBookmarks,
//                     FreeBookmark
//   look-up           Locate, FieldByName, FindField, Fields, FieldCount
//   controls          DisableControls, EnableControls, ControlsDisabled
//   per-record read   TField::ValueAt / DisplayTextAt(record index), see fields.h
//   notifications     data_source.h (TDataSource, TDataLink hooks)
//
// Records are addressed by a 0-based index 0..RecordCount()-1 in data-set order; a
// record being inserted occupies its place in that order. Every rule below is
// single-threaded. All failure texts are GBK; errors raised by the data set itself
// carry "<Name>: " in front.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qadj/server/fields.h"
#include "qadj/server/record_set.h"

namespace qadj {

class TDataSource;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// The notifications a data set sends to its data sources.
enum class TDataEvent {
  deFieldChange,      // info: the field written
  deRecordChange,     // Edit began
  deDataSetChange,    // general change: re-read everything (info kEditEnded: see below)
  deDataSetScroll,    // cursor moved by `distance` rows
  deLayoutChange,     // fields were created or dropped
  deUpdateRecord,     // before Post stores the row: controls write pending values
  deUpdateState,      // the state changed
  deCheckBrowseMode,  // before leaving or checking editing: controls write pending values
  deConnectChange,    // the connection connected or disconnected
};

// The info of a deDataSetChange that ends an edit of the current record (posted or
// cancelled): no record moved, came or went; only that record's values may differ.
inline constexpr std::intptr_t kEditEnded = 1;

// An opaque mark of one record. A default-constructed bookmark denotes nothing.
struct TBookmark {
  RowId id = 0;
  bool IsNull() const { return id == 0; }
  friend bool operator==(const TBookmark&, const TBookmark&) = default;
};

struct TLocateOptions {
  bool caseInsensitive = false;  // text compared without regard to ASCII letter case
  bool partialKey = false;       // text: the field value starts with the key
};

class TDataSet {
 public:
  // name: the component name put in front of the data set's error texts.
  explicit TDataSet(std::string name);
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  const std::string& Name() const { return name_; }
  TDataSetState State() const { return state_; }
  bool Active() const { return state_ != TDataSetState::dsInactive; }

  // Opens the data set; does nothing when open. Throws on failure and stays closed.
  void Open();
  // Closes: drops the rows, an edit in progress and all local changes; default fields
  // go, persistent fields stay. Does nothing when closed. Never throws for the close
  // itself (subclasses' server calls may).
  void Close();
  void SetActive(bool v) { v ? Open() : Close(); }

  // --- Cursor. First/Next/Prior/Last/MoveBy throw "<Name>: Cannot perform this
  // operation on a closed dataset" when closed; before moving they leave editing
  // (post when modified, otherwise cancel).
  void First();
  void Next();
  void Prior();
  void Last();
  // Moves by distance rows (clamped); returns the distance moved.
  int MoveBy(int distance);
  bool Eof() const;
  bool Bof() const;
  // True when there is no current row (no rows, or closed). Never throws.
  bool IsEmpty() const;
  // Number of records (a record being inserted counts); 0 when closed.
  int RecordCount() const;
  // 0-based index of the current record, -1 when none.
  int CurrentIndex() const;
  // 1-based number of the current record, 0 when none.
  int RecNo() const { return CurrentIndex() + 1; }

  // --- Editing; each throws EDatabaseError with the texts of the data set and
  // leaves state, current row and values unchanged on failure.
  void Edit();
  void Post();
  void Cancel();
  void Insert();
  void Append();
  void Delete();
  // True when the record being edited or inserted has a changed value.
  bool Modified() const;
  // True when open and the rows are not read-only.
  bool CanModify() const;
  // Throws "<Name>: Dataset not in edit or insert mode" unless editing or inserting.
  void CheckEditing() const;

  // --- Bookmarks. GetBookmark of a data set without a current row is null.
  TBookmark GetBookmark() const;
  // The bookmark of the record at recIndex without moving to it; null when the data
  // set is closed or recIndex is outside 0..RecordCount()-1.
  TBookmark BookmarkAt(int recIndex) const;
  // Makes the marked record current (leaving editing first). Throws
  // "<Name>: Record not found" when the mark no longer denotes a record.
  void GotoBookmark(const TBookmark& b);
  bool BookmarkValid(const TBookmark& b) const;
  // -1, 0, 1 by record order; a null or stale mark sorts before every valid one.
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const;
  void FreeBookmark(TBookmark& b) { b = TBookmark{}; }

  // Makes the first record whose field equals value current and returns true; returns
  // false and leaves the cursor when none does. Leaves editing first. Throws
  // "<Name>: Field '<f>' not found" for an unknown field.
  bool Locate(std::string_view fieldName, const TValue& value, TLocateOptions options = {});

  // --- Fields.
  // First field whose name equals name without regard to letter case; throws
  // "<Name>: Field '<name>' not found".
  TField* FieldByName(std::string_view name) const;
  // As FieldByName, but null when there is none.
  TField* FindField(std::string_view name) const;
  const std::vector<TField*>& Fields() const { return fieldList_; }
  int FieldCount() const { return static_cast<int>(fieldList_.size()); }
  // Declares persistent fields (while closed). The data set owns them.
  TStringField* AddStringField(std::string fieldName, int size, bool readOnly = false);
  TFloatField* AddFloatField(std::string fieldName, bool readOnly = false);
  bool HasPersistentFields() const { return hasPersistent_; }

  // --- Controls. While disabled, data sources hear only deUpdateRecord and
  // deCheckBrowseMode; cursor moves are not reported. EnableControls (the last one)
  // then reports what happened meanwhile: deUpdateState if the state differs, then
  // deDataSetChange if values or records changed, or else deDataSetScroll (distance
  // 0) if only the current record differs. A walk that returns to the record it
  // started on (First/Next..., GotoBookmark) therefore reports nothing. Calls nest.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // Data sources register themselves (not owned).
  void AttachDataSource(TDataSource* ds);
  void DetachDataSource(TDataSource* ds);

  // The open record set, or null when closed (for the engine's tests and tools).
  const RecordSet* Records() const { return records_.get(); }

 protected:
  // Fetches the rows of a new open; throws on failure.
  virtual std::unique_ptr<RecordSet> DoOpen() = 0;
  // Called after the rows were dropped by Close (and when a failed open cleans up).
  virtual void DoAfterClose() {}

  // Throws EDatabaseError("<Name>: <message>").
  [[noreturn]] void DatabaseError(const std::string& message) const;
  void DataEvent(TDataEvent event, std::intptr_t info = 0);

 private:
  friend class TField;
  TValue FieldValue(const TField& f, int recIndex) const;
  // Throws unless f may be written now (edit mode, not ReadOnly).
  void CheckFieldWritable(const TField& f) const;
  void WriteField(TField& f, TValue v);
  void CheckActive() const;
  void BindFields();
  void UnbindFields();
  void CheckBrowseModeAndLeaveEditing();
  void SetState(TDataSetState s);
  void DoInsert(bool atEnd);
  // Every cursor move: checks the data set is open, posts or leaves an edit, runs move
  // on the records and reports the move (a general change when general; nothing while
  // controls are disabled). What move throws leaves the cursor unreported.
  template <class Move>
  void MoveCursor(bool general, Move&& move);
  void DoPost();
  void DoCancel();
  bool Editing() const;
  TField* CreateDefaultField(const packet::Column& c);

  std::string name_;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::unique_ptr<RecordSet> records_;
  std::vector<std::unique_ptr<TField>> ownedFields_;
  std::vector<TField*> fieldList_;
  bool hasPersistent_ = false;
  std::vector<TDataSource*> dataSources_;
  int disableCount_ = 0;
  // Snapshot at DisableControls: what EnableControls compares against.
  TDataSetState disabledState_ = TDataSetState::dsInactive;
  RowId disabledRow_ = 0;
  bool changedWhileDisabled_ = false;
};

}  // namespace qadj
