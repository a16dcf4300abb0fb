// The record-set packet: what FetchRecords returns, as a byte array. The binary
// layout is documented in docs/packet-format.md.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qadj/com/byte_array.h"

namespace qadj::packet {

// Smallest valid packet (fixed header); anything shorter is not a packet.
inline constexpr std::size_t kMinPacketSize = 22;

// Column type names as they travel: "String", "FixedChar", "Float", "Currency",
// "BCD", "Date", "DateTime", "Integer", ...
struct Column {
  std::string name;        // as the statement names it
  std::string typeName;    // see above
  std::int32_t width = 0;  // bytes, for text columns; 0 otherwise
  bool hidden = false;
};

// A cell: null, GBK text, or a number (numeric types; dates as days since 1899-12-30).
using Value = std::variant<std::monostate, std::string, double>;

struct Packet {
  std::vector<Column> columns;
  std::vector<std::vector<Value>> rows;  // each row has columns.size() values
  bool readOnly = false;
  // Boolean properties; each counts only when present and true.
  bool disableEdits = false;    // "DISABLE_EDITS"
  bool disableInserts = false;  // "DISABLE_INSERTS"
  bool disableDeletes = false;  // "DISABLE_DELETES"
  bool noResetCall = false;     // "NO_RESET_CALL"
};

// The one table of column types. Text types ("String", "FixedChar", "Guid",
// "WideString", "FixedWideChar", "Memo", "WideMemo") hold GBK text or null: the packet
// checks their cells, the data set makes string fields of them and a string field binds
// to them. Numeric types, the date types ("Date", "Time", "DateTime") among them, hold
// numbers or null; a column of any other type name may hold either.
bool isTextType(std::string_view typeName);
bool isNumericType(std::string_view typeName);
bool isDateType(std::string_view typeName);

// What values a column's type allows.
enum class ValueKind : std::uint8_t { Text, Number, Any };
ValueKind valueKindOf(std::string_view typeName);

class PacketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Current format version written by encode(); decode() accepts this version only.
inline constexpr std::uint16_t kFormatVersion = 1;

// Returns the encoded packet. Throws PacketError when a row's width differs from the
// column count, a cell's kind does not fit its column type, or a name or count does
// not fit its field of the format.
std::vector<std::uint8_t> encode(const Packet& packet);

// Writes a packet row by row, for a producer that holds its values in another form
// than a Packet: the columns and properties of a head packet (its rows are ignored),
// then every row's cells in column order. finish() returns the bytes encode() returns
// for the same packet.
class PacketWriter {
 public:
  // Where a text cell's bytes lie in the packet being written, to write them again.
  struct TextMark {
    std::size_t offset = 0;
    std::uint32_t length = 0;
  };

  // Writes the header and the column descriptors; expectedBytes (a guess of the whole
  // size, may be 0) is reserved up front. Throws PacketError as encode() does for a
  // column that does not fit the format.
  explicit PacketWriter(const Packet& head, std::size_t expectedBytes = 0);
  // The next cell. text throws PacketError for a numeric column, number for a text
  // column, as encode() does.
  void null();
  TextMark text(std::string_view gbk);
  void number(double value);
  // The next cell, a text converted straight into the packet: textRoom returns room for
  // maxBytes at which the caller writes the text, valid until the next call on the
  // writer; commitText(n) then makes the first n (<= maxBytes) of them the cell. A room
  // not committed writes nothing. textRoom throws as text() does.
  char* textRoom(std::size_t maxBytes);
  TextMark commitText(std::size_t n);
  // The next cell: the text at mark (returned by this writer) again.
  void repeatText(TextMark mark);
  // Replaces the width in the descriptor of column (0-based, < column count).
  void setWidth(std::size_t column, std::int32_t width);
  // Completes the header and hands over the bytes (in the form an automation value
  // carries them, so that they reach the wire uncopied); the writer is spent afterwards.
  // Throws PacketError when the last row is incomplete or a count does not fit.
  com::ByteArray finish();

 private:
  // Room for n more bytes at used_, the buffer growing as needed.
  char* room(std::size_t n) {
    if (out_.size() - used_ < n) grow(n);
    return out_.data() + used_;
  }
  void grow(std::size_t n);
  void bytes(const void* p, std::size_t n);
  template <class T>
  void put(T v) {
    bytes(&v, sizeof v);
  }
  // Throws PacketError unless the next cell may hold a value of kind wanted.
  void checkCell(ValueKind wanted) const {
    const bool fits =
        cell_ < kinds_.size() &&
        (kinds_[cell_] == wanted || kinds_[cell_] == ValueKind::Any || wanted == ValueKind::Any);
    if (!fits) refuseCell(wanted);
  }
  [[noreturn]] void refuseCell(ValueKind wanted) const;
  void nextCell() {
    if (++cell_ == kinds_.size()) {
      cell_ = 0;
      ++rows_;
    }
  }

  std::string out_;  // the packet in its first used_ bytes
  std::size_t used_ = 0;
  std::vector<Column> columns_;  // names and types (for messages), widths as written
  std::vector<ValueKind> kinds_;
  std::vector<std::size_t> widthAt_;  // offset of each descriptor's width field
  std::size_t cell_ = 0;              // cells written in the current row
  std::size_t rows_ = 0;
};

// Decodes a packet. Throws PacketError with a clear description for every malformed
// input (short, truncated, bad magic or version, counts beyond the data, unknown
// value tags); never reads outside bytes.
Packet decode(std::span<const std::uint8_t> bytes);

// --- Reading the layout, for decoders of their own (the data set's record set) ---

// Cells: a tag byte, then for text a u32 length and the bytes, for a number an IEEE
// double (little-endian).
enum CellTag : std::uint8_t { kCellNull = 0, kCellText = 1, kCellNumber = 2 };

// Reads little-endian values from a byte range; every read is bounds-checked and a
// short read throws PacketError "Invalid data packet: truncated <what>".
class ByteReader {
 public:
  ByteReader(const std::uint8_t* begin, const std::uint8_t* end) : p_(begin), end_(end) {}
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

// The checked head of a packet: its properties and columns (meta.rows stays empty),
// the row count (already checked against the bytes present) and the offset of the
// first row. Throws PacketError as decode() does.
struct Head {
  Packet meta;
  std::uint32_t rowCount = 0;
  std::size_t rowsOffset = 0;
};
Head decodeHead(std::span<const std::uint8_t> bytes);

}  // namespace qadj::packet
