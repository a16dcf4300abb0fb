// A query's result as the record-set packet the window reads: columns named and typed
// as the window's query names them, texts in GBK.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qadj/appserver/database.h"
#include "qadj/appserver/server_error.h"
#include "qadj/protocol/packet.h"

namespace qadj::appserver {

// A column of a packet as the window's query names it, and its type.
struct PacketColumn {
  std::string_view name;
  ColumnKind kind;
};

struct FetchResult {
  com::ByteArray packet;
  std::int32_t recordsSent = 0;
};

// Writes a query's rows into the packet the window reads as the driver reads them
// (Database::queryInto), without holding the result: columns named and typed as given
// (String, Float, Date, DateTime; a number where a text is due is written in general
// form, a text where a number is due must read as one), text widths (declared, or the
// longest value, at least 1), texts converted to GBK, at most maxRows rows when maxRows
// >= 0, and the no-reset-call property. row() throws ServerError naming the column and
// row of a text that GBK cannot hold or that is no number. columns.size() must be the
// result's column count. expectedBytes (a guess, may be 0) is reserved up front.
class PacketEncoder final : public RowReader {
 public:
  PacketEncoder(std::vector<PacketColumn> columns, std::int32_t maxRows,
                std::size_t expectedBytes = 0);
  void columns(const std::vector<ResultColumn>& result) override;
  void row(std::span<const CellView> values) override;
  // The packet and the rows it holds; the encoder is spent afterwards. Requires that
  // columns() was called.
  FetchResult finish();

 private:
  void text(std::size_t column, std::string_view utf8);

  std::vector<PacketColumn> columns_;
  std::int32_t maxRows_;
  std::size_t expectedBytes_;
  std::optional<packet::PacketWriter> writer_;
  std::vector<std::int32_t> widths_;
  // Per text column: the last text written, as read and where its GBK form lies in the
  // packet (a detail repeats its product in every row). A column whose text changed in
  // 32 rows running (a code, a name) is not compared any more.
  struct LastText {
    bool written = false;
    std::string utf8;
    packet::PacketWriter::TextMark gbk;
    std::uint32_t changes = 0;  // rows running whose text changed
    bool repeats() const { return changes < 32; }
  };
  std::vector<LastText> last_;
  std::size_t rowsRead_ = 0;
  std::int32_t rowsSent_ = 0;
};

// The answer to a reset (FetchRecords with option 2): an empty packet. The provider
// keeps no cursor between calls, so there is nothing to undo.
FetchResult resetResult();

}  // namespace qadj::appserver
