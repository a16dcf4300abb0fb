#include "qadj/server/record_set.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <string>

namespace qadj {

namespace {

char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lowerAscii(x) == lowerAscii(y);
         });
}

}  // namespace

RecordSet::RecordSet(packet::Packet&& packet)
    : columns_(std::move(packet.columns)),
      readOnly_(packet.readOnly),
      disableEdits_(packet.disableEdits),
      disableInserts_(packet.disableInserts),
      disableDeletes_(packet.disableDeletes),
      noResetCall_(packet.noResetCall) {
  rows_.reserve(packet.rows.size());
  owned_.reserve(packet.rows.size());
  for (auto& r : packet.rows) {
    r.resize(columns_.size());  // a short row reads as nulls, never out of bounds
    owned_.push_back(std::move(r));
    rows_.push_back({nextId_++, -static_cast<std::int64_t>(owned_.size())});
  }
  packet.rows.clear();
  First();
}

RecordSet::RecordSet(std::vector<std::uint8_t>&& bytes) : bytes_(std::move(bytes)) {
  IndexPacket();
  First();
}

// --- Reading the encoded packet ------------------------------------------------------
// Layout (little-endian): a 22-byte header ("QPKT", version u16, flags u16, columns u32,
// rows u32, body length u32, reserved u16), the columns (name length u16, name, type
// length u8, type, width i32, flags u8) and then the cells row by row (tag u8: 0 null,
// 1 text with length u32 and bytes, 2 IEEE double).

namespace {

using packet::PacketError;

constexpr std::size_t kHeaderSize = 22;
constexpr std::uint16_t kKnownFlags = 0x1F;
constexpr std::size_t kMinColumnSize = 2 + 1 + 1 + 1 + 4 + 1;
enum : std::uint8_t { kNullTag = 0, kTextTag = 1, kNumberTag = 2 };
enum class Kind : std::uint8_t { Text, Number, Any };

class Cursor {
 public:
  Cursor(const std::uint8_t* begin, const std::uint8_t* end) : p_(begin), end_(end) {}
  std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
  const std::uint8_t* pos() const { return p_; }
  template <class T>
  T get(const char* what) {
    need(sizeof(T), what);
    T v;
    std::memcpy(&v, p_, sizeof v);
    p_ += sizeof v;
    return v;
  }
  std::string_view view(std::size_t n, const char* what) {
    need(n, what);
    std::string_view v(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return v;
  }
  void skip(std::size_t n, const char* what) {
    need(n, what);
    p_ += n;
  }

 private:
  void need(std::size_t n, const char* what) const {
    if (remaining() < n) throw PacketError(std::string("Invalid data packet: truncated ") + what);
  }
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

}  // namespace

void RecordSet::IndexPacket() {
  static_assert(std::endian::native == std::endian::little);
  if (bytes_.size() < kHeaderSize)
    throw PacketError("Invalid data packet: " + std::to_string(bytes_.size()) +
                      " bytes, shorter than the 22-byte header");
  Cursor r(bytes_.data(), bytes_.data() + bytes_.size());
  if (r.view(4, "header") != "QPKT")
    throw PacketError("Invalid data packet: not a record-set packet (bad magic)");
  const auto version = r.get<std::uint16_t>("header");
  if (version != packet::kFormatVersion)
    throw PacketError("Invalid data packet: unsupported format version " + std::to_string(version));
  const auto flags = r.get<std::uint16_t>("header");
  if (flags & ~kKnownFlags) throw PacketError("Invalid data packet: unknown packet flags");
  const auto columnCount = r.get<std::uint32_t>("header");
  const auto rowCount = r.get<std::uint32_t>("header");
  const auto bodyLength = r.get<std::uint32_t>("header");
  if (r.get<std::uint16_t>("header") != 0)
    throw PacketError("Invalid data packet: reserved header field is not zero");
  if (bodyLength != r.remaining())
    throw PacketError("Invalid data packet: body length does not match the data");
  if (columnCount > r.remaining() / kMinColumnSize)
    throw PacketError("Invalid data packet: column count exceeds the data");
  if (columnCount == 0 && rowCount != 0)
    throw PacketError("Invalid data packet: rows without columns");
  readOnly_ = flags & 0x01;
  disableEdits_ = flags & 0x02;
  disableInserts_ = flags & 0x04;
  disableDeletes_ = flags & 0x08;
  noResetCall_ = flags & 0x10;
  bodyStart_ = kHeaderSize;

  std::vector<Kind> kinds;
  columns_.reserve(columnCount);
  kinds.reserve(columnCount);
  for (std::size_t i = 0; i < columnCount; ++i) {
    packet::Column c;
    const auto nameLen = r.get<std::uint16_t>("column descriptor");
    if (nameLen == 0) throw PacketError("Invalid data packet: a column has an empty name");
    c.name = r.view(nameLen, "column name");
    const auto typeLen = r.get<std::uint8_t>("column descriptor");
    if (typeLen == 0) throw PacketError("Invalid data packet: a column has an empty type name");
    c.typeName = r.view(typeLen, "column type name");
    c.width = r.get<std::int32_t>("column descriptor");
    if (c.width < 0) throw PacketError("Invalid data packet: a column has a negative width");
    const auto colFlags = r.get<std::uint8_t>("column descriptor");
    if (colFlags & ~1u) throw PacketError("Invalid data packet: unknown column flags");
    c.hidden = colFlags & 1u;
    kinds.push_back(packet::isTextType(c.typeName)      ? Kind::Text
                    : packet::isNumericType(c.typeName) ? Kind::Number
                                                        : Kind::Any);
    columns_.push_back(std::move(c));
  }
  if (std::uint64_t{rowCount} * columnCount > r.remaining())
    throw PacketError("Invalid data packet: row count exceeds the data");

  const std::uint8_t* body = bytes_.data() + bodyStart_;
  cells_.resize(std::size_t{rowCount} * columnCount);
  std::uint32_t* out = cells_.data();
  for (std::size_t row = 0; row < rowCount; ++row) {
    for (std::size_t c = 0; c < columnCount; ++c) {
      *out++ = static_cast<std::uint32_t>(r.pos() - body);
      const auto tag = r.get<std::uint8_t>("row data");
      if (tag == kTextTag) {
        if (kinds[c] == Kind::Number)
          throw PacketError("Invalid data packet: text in numeric column '" + columns_[c].name +
                            "'");
        r.skip(r.get<std::uint32_t>("row data"), "text value");
      } else if (tag == kNumberTag) {
        if (kinds[c] == Kind::Text)
          throw PacketError("Invalid data packet: number in text column '" + columns_[c].name +
                            "'");
        r.skip(sizeof(double), "row data");
      } else if (tag != kNullTag) {
        throw PacketError("Invalid data packet: unknown value tag " + std::to_string(tag) +
                          " in row " + std::to_string(row + 1));
      }
    }
  }
  if (r.remaining() != 0) throw PacketError("Invalid data packet: bytes after the last row");
  rows_.resize(rowCount);
  for (std::size_t i = 0; i < rowCount; ++i) rows_[i] = {nextId_++, static_cast<std::int64_t>(i)};
}

packet::Value RecordSet::PacketValue(std::size_t packetRow, std::size_t column) const {
  // Indexed and checked once at construction: the reads below stay inside bytes_.
  const std::uint8_t* p = bytes_.data() + bodyStart_ + cells_[packetRow * columns_.size() + column];
  switch (*p) {
    case kTextTag: {
      std::uint32_t len;
      std::memcpy(&len, p + 1, sizeof len);
      return std::string(reinterpret_cast<const char*>(p + 5), len);
    }
    case kNumberTag: {
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
    if (equalsNoCase(columns_[i].name, name)) return static_cast<int>(i);
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
