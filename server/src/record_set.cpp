#include "qadj/server/record_set.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <string>

#include "qadj/platform/text.h"

namespace qadj {

RecordSet::RecordSet(com::ByteArray&& bytes) : bytes_(std::move(bytes)) {
  IndexPacket();
  First();
}

// --- Reading the encoded packet ------------------------------------------------------
// The codec checks the header and columns; the cells are indexed here without being
// copied (layout in docs/packet-format.md).

using packet::PacketError;

void RecordSet::IndexPacket() {
  static_assert(std::endian::native == std::endian::little);
  packet::Head head = packet::decodeHead(bytes_);
  const packet::Packet& meta = head.meta;
  readOnly_ = meta.readOnly;
  disableEdits_ = meta.disableEdits;
  disableInserts_ = meta.disableInserts;
  disableDeletes_ = meta.disableDeletes;
  noResetCall_ = meta.noResetCall;
  columns_ = std::move(head.meta.columns);
  const std::size_t columnCount = columns_.size();
  std::vector<packet::ValueKind> kinds;
  kinds.reserve(columnCount);
  for (const auto& c : columns_) kinds.push_back(packet::valueKindOf(c.typeName));

  // Rows stay in the packet's bytes: each cell is checked once and indexed by the
  // offset of its tag.
  bodyStart_ = head.rowsOffset;
  const std::uint8_t* body = bytes_.data() + bodyStart_;
  packet::ByteReader r(body, bytes_.data() + bytes_.size());
  cells_.resize(std::size_t{head.rowCount} * columnCount);
  std::uint32_t* out = cells_.data();
  for (std::size_t row = 0; row < head.rowCount; ++row) {
    for (std::size_t c = 0; c < columnCount; ++c) {
      *out++ = static_cast<std::uint32_t>(r.pos() - body);
      const auto tag = r.get<std::uint8_t>("row data");
      if (tag == packet::kCellText) {
        if (kinds[c] == packet::ValueKind::Number)
          throw PacketError("Invalid data packet: text in numeric column '" + columns_[c].name +
                            "'");
        r.skip(r.get<std::uint32_t>("row data"), "text value");
      } else if (tag == packet::kCellNumber) {
        if (kinds[c] == packet::ValueKind::Text)
          throw PacketError("Invalid data packet: number in text column '" + columns_[c].name +
                            "'");
        r.skip(sizeof(double), "row data");
      } else if (tag != packet::kCellNull) {
        throw PacketError("Invalid data packet: unknown value tag " + std::to_string(tag) +
                          " in row " + std::to_string(row + 1));
      }
    }
  }
  if (r.remaining() != 0) throw PacketError("Invalid data packet: bytes after the last row");
  rows_.resize(head.rowCount);
  for (std::size_t i = 0; i < head.rowCount; ++i)
    rows_[i] = {nextId_++, static_cast<std::int64_t>(i)};
}

packet::Value RecordSet::PacketValue(std::size_t packetRow, std::size_t column) const {
  // Indexed and checked once at construction: the reads below stay inside bytes_.
  const std::uint8_t* p = bytes_.data() + bodyStart_ + cells_[packetRow * columns_.size() + column];
  switch (*p) {
    case packet::kCellText: {
      std::uint32_t len;
      std::memcpy(&len, p + 1, sizeof len);
      return std::string(reinterpret_cast<const char*>(p + 5), len);
    }
    case packet::kCellNumber: {
      double v;
      std::memcpy(&v, p + 1, sizeof v);
      return v;
    }
    default:
      return {};
  }
}

packet::Value RecordSet::ValueAt(int row, int column) const {
  const StoredRow& r = rows_[row];
  if (r.source < 0) return owned_[static_cast<std::size_t>(-r.source - 1)][column];
  return PacketValue(static_cast<std::size_t>(r.source), static_cast<std::size_t>(column));
}

RecordSet::Row& RecordSet::OwnedRow(int row) {
  StoredRow& r = rows_[row];
  if (r.source >= 0) {
    Row values(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c)
      values[c] = PacketValue(static_cast<std::size_t>(r.source), c);
    owned_.push_back(std::move(values));
    r.source = -static_cast<std::int64_t>(owned_.size());
  }
  return owned_[static_cast<std::size_t>(-r.source - 1)];
}

int RecordSet::FindColumn(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (text::asciiEqualsNoCase(columns_[i].name, name)) return static_cast<int>(i);
  return -1;
}

int RecordSet::IndexOf(RowId id) const {
  // Rows keep ascending ids except where rows were inserted, so try the fast guess.
  if (id >= 1 && id <= rows_.size() && rows_[id - 1].id == id) return static_cast<int>(id - 1);
  for (std::size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].id == id) return static_cast<int>(i);
  return -1;
}

void RecordSet::First() {
  current_ = 0;
  bof_ = true;
  eof_ = rows_.empty();
}

void RecordSet::Next() {
  if (eof_) return;
  if (current_ + 1 < Count()) {
    ++current_;
    bof_ = false;
  } else {
    eof_ = true;
  }
}

void RecordSet::Prior() {
  if (bof_) return;
  if (current_ > 0) {
    --current_;
    eof_ = false;
  } else {
    bof_ = true;
  }
}

void RecordSet::Last() {
  current_ = rows_.empty() ? 0 : Count() - 1;
  eof_ = true;
  bof_ = rows_.empty();
}

void RecordSet::MoveTo(int row) {
  assert(row >= 0 && row < Count());
  current_ = row;
  bof_ = false;
  eof_ = false;
}

void RecordSet::BeginEdit() {
  assert(!Editing() && Current() >= 0);
  saved_ = OwnedRow(current_);
  editing_ = true;
  modified_ = false;
}

void RecordSet::BeginInsert(bool atEnd) {
  assert(!Editing());
  insertReturn_ = rows_.empty() ? -1 : current_;
  const int at = (atEnd || rows_.empty()) ? Count() : current_;
  owned_.emplace_back(columns_.size());
  rows_.insert(rows_.begin() + at, StoredRow{nextId_++, -static_cast<std::int64_t>(owned_.size())});
  current_ = at;
  bof_ = false;
  eof_ = false;
  inserting_ = true;
  modified_ = false;
}

void RecordSet::SetValue(int column, packet::Value v) {
  assert(Editing());
  OwnedRow(current_)[column] = std::move(v);
  modified_ = true;
}

void RecordSet::EndEdit(bool post) {
  assert(Editing());
  const RowId id = rows_[current_].id;
  Row& values = OwnedRow(current_);
  if (post) {
    if (inserting_)
      log_.push_back({ChangeKind::Inserted, id, {}, values});
    else if (modified_)
      log_.push_back({ChangeKind::Modified, id, std::move(saved_), values});
  } else if (inserting_) {
    values.clear();  // the owned slot stays unused
    rows_.erase(rows_.begin() + current_);
    if (rows_.empty()) {
      First();
    } else {
      // Insert placed the new row before the old current one, Append after the last:
      // either way the old current row is back at its former index.
      current_ = insertReturn_ >= 0 ? std::min(insertReturn_, Count() - 1) : 0;
      bof_ = false;
      eof_ = false;
    }
  } else {
    values = std::move(saved_);
  }
  saved_.clear();
  editing_ = inserting_ = modified_ = false;
  insertReturn_ = -1;
}

void RecordSet::DeleteCurrent() {
  assert(!Editing() && Current() >= 0);
  Row old(columns_.size());
  for (std::size_t c = 0; c < columns_.size(); ++c) old[c] = ValueAt(current_, static_cast<int>(c));
  log_.push_back({ChangeKind::Deleted, rows_[current_].id, std::move(old), {}});
  rows_.erase(rows_.begin() + current_);
  if (rows_.empty()) {
    First();
    return;
  }
  if (current_ >= Count()) current_ = Count() - 1;
  bof_ = false;
  eof_ = false;
}

}  // namespace qadj
