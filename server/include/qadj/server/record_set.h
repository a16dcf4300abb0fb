// The record set of an open data set: the rows of one fetched packet, in packet order,
// with a cursor, the record being edited and a log of posted local changes. Local
// changes never leave the client.
//
// This is the engine under TDataSet; it knows nothing of fields, names or
// notifications. Rows as they arrived stay in the packet's own bytes (indexed once,
// never copied); a row is copied out only when it is edited or inserted.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "qadj/protocol/packet.h"

namespace qadj {

// Identifies a row for as long as the record set lives (bookmarks carry it).
using RowId = std::uint64_t;

class RecordSet {
 public:
  using Row = std::vector<packet::Value>;

  enum class ChangeKind { Modified, Inserted, Deleted };
  struct Change {
    ChangeKind kind;
    RowId row;
    Row oldValues;  // before the change (empty for Inserted)
    Row newValues;  // after the change (empty for Deleted)
  };

  // Takes an encoded packet (see packet.h) and indexes its cells in place. After
  // construction the first row is current, Bof is set and Eof is set only when there
  // are no rows. Throws
  // packet::PacketError ("Invalid data packet: ...") for every input that
  // packet::decode refuses; never reads outside bytes.
  explicit RecordSet(com::ByteArray&& bytes);

  const std::vector<packet::Column>& Columns() const { return columns_; }
  // Column position of name, compared without regard to ASCII letter case; -1 if none.
  int FindColumn(std::string_view name) const;
  bool ReadOnly() const { return readOnly_; }
  bool DisableEdits() const { return disableEdits_; }
  bool DisableInserts() const { return disableInserts_; }
  bool DisableDeletes() const { return disableDeletes_; }
  bool NoResetCall() const { return noResetCall_; }

  // --- Rows and cursor.
  int Count() const { return static_cast<int>(rows_.size()); }
  // 0-based index of the current row, or -1 when there is none.
  int Current() const { return rows_.empty() ? -1 : current_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // A copy of one cell (0 <= row < Count(), 0 <= column < column count).
  packet::Value ValueAt(int row, int column) const;
  RowId IdAt(int row) const { return rows_[row].id; }
  // Index of the row with that id, or -1 when it no longer exists.
  int IndexOf(RowId id) const;

  void First();
  // Moves to the following row, or on the last row sets Eof (the row stays current).
  void Next();
  void Prior();
  void Last();
  // Makes row current (0 <= row < Count()); clears Bof and Eof.
  void MoveTo(int row);

  // --- Editing. BeginEdit saves the current row's values; the row is changed in
  // place and EndEdit(post=false) restores it.
  void BeginEdit();
  // Adds a row of nulls before the current row (atEnd: after the last row), makes it
  // current and remembers it as the row being inserted.
  void BeginInsert(bool atEnd);
  // Changes a value of the row being edited or inserted and marks it modified.
  void SetValue(int column, packet::Value v);
  bool Modified() const { return modified_; }
  bool Editing() const { return editing_ || inserting_; }
  bool Inserting() const { return inserting_; }
  // post: keep the values and log the change; otherwise restore (drop an inserted row).
  void EndEdit(bool post);
  // Removes the current row and logs it; the following row becomes current, or the
  // new last one. Requires a current row and no edit in progress.
  void DeleteCurrent();

  const std::vector<Change>& ChangeLog() const { return log_; }

 private:
  struct StoredRow {
    RowId id;
    // >= 0: row of the packet's bytes; < 0: owned_[-source - 1].
    std::int64_t source;
  };
  // The values of row (index into rows_) for changing: copied out of the packet first.
  Row& OwnedRow(int row);
  void IndexPacket();
  packet::Value PacketValue(std::size_t packetRow, std::size_t column) const;

  std::vector<packet::Column> columns_;
  std::vector<StoredRow> rows_;
  com::ByteArray bytes_;  // the packet as it arrived
  std::size_t bodyStart_ = 0;
  std::vector<std::uint32_t> cells_;  // per packet cell: offset of its tag from bodyStart_
  std::vector<Row> owned_;            // rows copied out for editing or inserted
  bool readOnly_ = false, disableEdits_ = false, disableInserts_ = false;
  bool disableDeletes_ = false, noResetCall_ = false;
  int current_ = 0;
  bool bof_ = true;
  bool eof_ = false;
  bool editing_ = false;
  bool inserting_ = false;
  bool modified_ = false;
  Row saved_;
  int insertReturn_ = -1;  // row current before an insert, restored on cancel
  RowId nextId_ = 1;
  std::vector<Change> log_;
};

}  // namespace qadj
