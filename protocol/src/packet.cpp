// Record-set packet codec. Layout (little-endian), see docs/packet-format.md:
//   header (22 bytes): "QPKT", version u16, flags u16, columns u32, rows u32,
//                      body length u32, reserved u16 (0)
//   column:  name length u16, name, type-name length u8, type name, width i32,
//            column flags u8 (bit 0: hidden)
//   cell:    tag u8 (0 null, 1 text: length u32 + bytes, 2 number: IEEE double)
#include "qadj/protocol/packet.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>
#include <limits>
#include <string_view>

namespace qadj::packet {
namespace {

static_assert(std::endian::native == std::endian::little, "the codec assumes little-endian");

constexpr std::array<char, 4> kMagic{'Q', 'P', 'K', 'T'};
constexpr std::size_t kHeaderSize = 22;
static_assert(kHeaderSize == kMinPacketSize);

enum PacketFlag : std::uint16_t {
  kReadOnly = 1u << 0,
  kDisableEdits = 1u << 1,
  kDisableInserts = 1u << 2,
  kDisableDeletes = 1u << 3,
  kNoResetCall = 1u << 4,
};
constexpr std::uint16_t kKnownFlags =
    kReadOnly | kDisableEdits | kDisableInserts | kDisableDeletes | kNoResetCall;
constexpr std::uint8_t kColumnHidden = 1u << 0;

constexpr CellTag kNull = kCellNull, kText = kCellText, kNumber = kCellNumber;

// Smallest encoded column: a one-byte name and a one-byte type name.
constexpr std::size_t kMinColumnSize = 2 + 1 + 1 + 1 + 4 + 1;

using Kind = ValueKind;

std::uint16_t flagsOf(const Packet& p) {
  std::uint16_t f = 0;
  if (p.readOnly) f |= kReadOnly;
  if (p.disableEdits) f |= kDisableEdits;
  if (p.disableInserts) f |= kDisableInserts;
  if (p.disableDeletes) f |= kDisableDeletes;
  if (p.noResetCall) f |= kNoResetCall;
  return f;
}

void checkCount(std::size_t n, const char* what) {
  if (n > std::numeric_limits<std::uint32_t>::max())
    throw PacketError(std::string("Packet too large: too many ") + what);
}

Column decodeColumn(ByteReader& r, std::size_t index) {
  Column c;
  const auto nameLen = r.get<std::uint16_t>("column descriptor");
  if (nameLen == 0)
    throw PacketError("Invalid data packet: column " + std::to_string(index + 1) +
                      " has an empty name");
  c.name = r.view(nameLen, "column name");
  const auto typeLen = r.get<std::uint8_t>("column descriptor");
  if (typeLen == 0)
    throw PacketError("Invalid data packet: column '" + c.name + "' has an empty type name");
  c.typeName = r.view(typeLen, "column type name");
  c.width = r.get<std::int32_t>("column descriptor");
  if (c.width < 0)
    throw PacketError("Invalid data packet: column '" + c.name + "' has a negative width");
  const auto flags = r.get<std::uint8_t>("column descriptor");
  if (flags & ~kColumnHidden)
    throw PacketError("Invalid data packet: unknown flags on column '" + c.name + "'");
  c.hidden = (flags & kColumnHidden) != 0;
  return c;
}

}  // namespace

ValueKind valueKindOf(std::string_view typeName) {
  if (isTextType(typeName)) return ValueKind::Text;
  if (isNumericType(typeName)) return ValueKind::Number;
  return ValueKind::Any;
}

bool isTextType(std::string_view t) {
  return t == "String" || t == "FixedChar" || t == "Guid" || t == "WideString" ||
         t == "FixedWideChar" || t == "Memo" || t == "WideMemo";
}

bool isDateType(std::string_view t) {
  return t == "Date" || t == "Time" || t == "DateTime";
}

bool isNumericType(std::string_view t) {
  return t == "Float" || t == "Currency" || t == "BCD" || t == "FMTBcd" || t == "Integer" ||
         t == "SmallInt" || t == "LargeInt" || t == "Word" || t == "AutoInc" || t == "Boolean" ||
         isDateType(t);
}

PacketWriter::PacketWriter(const Packet& head, std::size_t expectedBytes) {
  checkCount(head.columns.size(), "columns");
  out_.reserve(std::max(expectedBytes, kHeaderSize));  // its pages touched as written
  bytes(kMagic.data(), kMagic.size());
  put(kFormatVersion);
  put(flagsOf(head));
  put(static_cast<std::uint32_t>(head.columns.size()));
  put(std::uint32_t{0});  // row count, patched by finish()
  put(std::uint32_t{0});  // body length, patched by finish()
  put(std::uint16_t{0});  // reserved
  columns_.reserve(head.columns.size());
  kinds_.reserve(head.columns.size());
  widthAt_.reserve(head.columns.size());
  for (const auto& c : head.columns) {
    if (c.name.empty() || c.name.size() > std::numeric_limits<std::uint16_t>::max())
      throw PacketError("Column name must be 1 to 65535 bytes");
    if (c.typeName.empty() || c.typeName.size() > std::numeric_limits<std::uint8_t>::max())
      throw PacketError("Column type name of '" + c.name + "' must be 1 to 255 bytes");
    if (c.width < 0) throw PacketError("Column '" + c.name + "' has a negative width");
    put(static_cast<std::uint16_t>(c.name.size()));
    bytes(c.name.data(), c.name.size());
    put(static_cast<std::uint8_t>(c.typeName.size()));
    bytes(c.typeName.data(), c.typeName.size());
    widthAt_.push_back(used_);
    put(c.width);
    put(static_cast<std::uint8_t>(c.hidden ? kColumnHidden : 0));
    columns_.push_back(c);
    kinds_.push_back(valueKindOf(c.typeName));
  }
}

void PacketWriter::grow(std::size_t n) {
  // Doubled within the reserved room, which moves nothing and zero-fills only a little
  // ahead of the writing; past it, std::string moves the bytes into a larger buffer.
  out_.resize(std::max(used_ + n, std::min(out_.size() * 2, out_.capacity())));
}

void PacketWriter::bytes(const void* p, std::size_t n) {
  if (n == 0) return;
  std::memcpy(room(n), p, n);
  used_ += n;
}

void PacketWriter::refuseCell(ValueKind wanted) const {
  if (kinds_.empty()) throw PacketError("A packet without columns has no cells");
  if (wanted == Kind::Text)
    throw PacketError("Text value in numeric column '" + columns_[cell_].name + "'");
  throw PacketError("Numeric value in text column '" + columns_[cell_].name + "'");
}

void PacketWriter::null() {
  checkCell(Kind::Any);
  put(static_cast<std::uint8_t>(kNull));
  nextCell();
}

PacketWriter::TextMark PacketWriter::text(std::string_view gbk) {
  char* to = textRoom(gbk.size());
  if (!gbk.empty()) std::memcpy(to, gbk.data(), gbk.size());
  return commitText(gbk.size());
}

// A text cell is the tag, the length, then the bytes: this is the bulk of a large
// packet. The room is asked for whole, so that the bytes are written where they stay.
char* PacketWriter::textRoom(std::size_t maxBytes) {
  checkCell(Kind::Text);
  checkCount(maxBytes, "bytes in a text value");
  return room(5 + maxBytes) + 5;
}

PacketWriter::TextMark PacketWriter::commitText(std::size_t n) {
  assert(out_.size() - used_ >= 5 + n);  // within the room textRoom gave
  const TextMark mark{used_ + 5, static_cast<std::uint32_t>(n)};
  char* at = out_.data() + used_;
  at[0] = static_cast<char>(kText);
  std::memcpy(at + 1, &mark.length, sizeof mark.length);
  used_ += 5 + n;
  nextCell();
  return mark;
}

void PacketWriter::repeatText(TextMark mark) {
  assert(mark.offset + mark.length <= used_);
  char* to = textRoom(mark.length);  // may move the buffer: the mark is an offset
  std::memcpy(to, out_.data() + mark.offset, mark.length);
  commitText(mark.length);
}

void PacketWriter::number(double value) {
  checkCell(Kind::Number);
  char* at = room(9);
  at[0] = static_cast<char>(kNumber);
  std::memcpy(at + 1, &value, sizeof value);
  used_ += 9;
  nextCell();
}

void PacketWriter::setWidth(std::size_t column, std::int32_t width) {
  if (column >= columns_.size()) throw PacketError("No column " + std::to_string(column + 1));
  if (width < 0) throw PacketError("Column '" + columns_[column].name + "' has a negative width");
  std::memcpy(out_.data() + widthAt_[column], &width, sizeof width);
  columns_[column].width = width;
}

com::ByteArray PacketWriter::finish() {
  if (cell_ != 0)
    throw PacketError("Row " + std::to_string(rows_ + 1) + " has " + std::to_string(cell_) +
                      " values for " + std::to_string(columns_.size()) + " columns");
  checkCount(rows_, "rows");
  const std::size_t body = used_ - kHeaderSize;
  checkCount(body, "bytes");
  const auto rows32 = static_cast<std::uint32_t>(rows_);
  const auto body32 = static_cast<std::uint32_t>(body);
  std::memcpy(out_.data() + 12, &rows32, sizeof rows32);
  std::memcpy(out_.data() + 16, &body32, sizeof body32);
  out_.resize(used_);
  return com::ByteArray(std::move(out_));
}

std::vector<std::uint8_t> encode(const Packet& packet) {
  checkCount(packet.columns.size(), "columns");
  checkCount(packet.rows.size(), "rows");
  // The exact size first, so that the bytes are written into one allocation.
  std::size_t size = kHeaderSize;
  for (const auto& c : packet.columns) size += 2 + c.name.size() + 1 + c.typeName.size() + 4 + 1;
  for (const auto& row : packet.rows)
    for (const auto& v : row) {
      if (const auto* s = std::get_if<std::string>(&v))
        size += 1 + 4 + s->size();
      else
        size += std::holds_alternative<double>(v) ? 1 + 8 : 1;
    }
  PacketWriter w(packet, size);
  for (std::size_t r = 0; r < packet.rows.size(); ++r) {
    const auto& row = packet.rows[r];
    if (row.size() != packet.columns.size())
      throw PacketError("Row " + std::to_string(r + 1) + " has " + std::to_string(row.size()) +
                        " values for " + std::to_string(packet.columns.size()) + " columns");
    for (const auto& v : row) {
      if (std::holds_alternative<std::monostate>(v))
        w.null();
      else if (const auto* s = std::get_if<std::string>(&v))
        w.text(*s);
      else
        w.number(std::get<double>(v));
    }
  }
  const com::ByteArray written = w.finish();
  std::vector<std::uint8_t> bytes(written.begin(), written.end());
  if (packet.columns.empty() && !packet.rows.empty()) {
    // Rows without cells leave no trace in the writer: their count is written here.
    const auto rows32 = static_cast<std::uint32_t>(packet.rows.size());
    std::memcpy(bytes.data() + 12, &rows32, sizeof rows32);
  }
  return bytes;
}

Head decodeHead(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderSize)
    throw PacketError("Invalid data packet: " + std::to_string(bytes.size()) +
                      " bytes, shorter than the 22-byte header");
  ByteReader r(bytes.data(), bytes.data() + bytes.size());
  const auto magic = r.view(kMagic.size(), "header");
  if (std::memcmp(magic.data(), kMagic.data(), kMagic.size()) != 0)
    throw PacketError("Invalid data packet: not a record-set packet (bad magic)");
  const auto version = r.get<std::uint16_t>("header");
  if (version != kFormatVersion)
    throw PacketError("Invalid data packet: unsupported format version " + std::to_string(version));
  const auto flags = r.get<std::uint16_t>("header");
  if (flags & ~kKnownFlags) throw PacketError("Invalid data packet: unknown packet flags");
  const auto columnCount = r.get<std::uint32_t>("header");
  const auto rowCount = r.get<std::uint32_t>("header");
  const auto bodyLength = r.get<std::uint32_t>("header");
  if (r.get<std::uint16_t>("header") != 0)
    throw PacketError("Invalid data packet: reserved header field is not zero");
  if (bodyLength != r.remaining())
    throw PacketError("Invalid data packet: body length " + std::to_string(bodyLength) + " but " +
                      std::to_string(r.remaining()) + " bytes follow the header");
  // Counts are checked against the bytes present before anything is allocated.
  if (columnCount > r.remaining() / kMinColumnSize)
    throw PacketError("Invalid data packet: column count " + std::to_string(columnCount) +
                      " exceeds the data");
  if (columnCount == 0 && rowCount != 0)
    throw PacketError("Invalid data packet: rows without columns");

  Head head;
  Packet& p = head.meta;
  p.readOnly = flags & kReadOnly;
  p.disableEdits = flags & kDisableEdits;
  p.disableInserts = flags & kDisableInserts;
  p.disableDeletes = flags & kDisableDeletes;
  p.noResetCall = flags & kNoResetCall;
  p.columns.reserve(columnCount);
  for (std::size_t i = 0; i < columnCount; ++i) p.columns.push_back(decodeColumn(r, i));
  if (std::uint64_t{rowCount} * columnCount > r.remaining())
    throw PacketError("Invalid data packet: row count " + std::to_string(rowCount) +
                      " exceeds the data");
  head.rowCount = rowCount;
  head.rowsOffset = bytes.size() - r.remaining();
  return head;
}

Packet decode(std::span<const std::uint8_t> bytes) {
  Head head = decodeHead(bytes);
  Packet& p = head.meta;
  const std::uint32_t rowCount = head.rowCount;
  const std::size_t columnCount = p.columns.size();
  std::vector<Kind> kinds;
  kinds.reserve(columnCount);
  for (const auto& c : p.columns) kinds.push_back(valueKindOf(c.typeName));
  ByteReader r(bytes.data() + head.rowsOffset, bytes.data() + bytes.size());
  p.rows.reserve(rowCount);
  for (std::size_t row = 0; row < rowCount; ++row) {
    auto& values = p.rows.emplace_back();
    values.reserve(columnCount);
    for (std::size_t c = 0; c < columnCount; ++c) {
      const auto tag = r.get<std::uint8_t>("row data");
      switch (tag) {
        case kNull:
          values.emplace_back();
          break;
        case kText: {
          if (kinds[c] == Kind::Number)
            throw PacketError("Invalid data packet: text in numeric column '" + p.columns[c].name +
                              "'");
          const auto len = r.get<std::uint32_t>("row data");
          values.emplace_back(std::in_place_type<std::string>, r.view(len, "text value"));
          break;
        }
        case kNumber:
          if (kinds[c] == Kind::Text)
            throw PacketError("Invalid data packet: number in text column '" + p.columns[c].name +
                              "'");
          values.emplace_back(std::in_place_type<double>, r.get<double>("row data"));
          break;
        default:
          throw PacketError("Invalid data packet: unknown value tag " + std::to_string(tag) +
                            " in row " + std::to_string(row + 1));
      }
    }
  }
  if (r.remaining() != 0)
    throw PacketError("Invalid data packet: " + std::to_string(r.remaining()) +
                      " bytes after the last row");
  return std::move(head.meta);
}

}  // namespace qadj::packet
