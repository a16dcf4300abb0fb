// The record-set packet: what FetchRecords returns, as a byte array. The binary
// layout is documented in docs/packet-format.md.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

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

// True for the column types whose values are GBK text ("String", "FixedChar",
// "WideString", "Memo", "Guid"); their cells hold text or null. Numeric and date
// types hold numbers or null; a column of any other type name may hold either.
bool isTextType(std::string_view typeName);
bool isNumericType(std::string_view typeName);

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

// Decodes a packet. Throws PacketError with a clear description for every malformed
// input (short, truncated, bad magic or version, counts beyond the data, unknown
// value tags); never reads outside bytes.
Packet decode(std::span<const std::uint8_t> bytes);

}  // namespace qadj::packet
