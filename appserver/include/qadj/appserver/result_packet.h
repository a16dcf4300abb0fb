// A query's result as the record-set packet the window reads: columns named and typed
// as the window's query names them, texts in GBK.
#pragma once

#include <cstdint>
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

// Converts the result of a query into a packet: columns named and typed as given
// (String, Float, Date, DateTime; a number where a text is due is written in general
// form, text where a number is due must read as one), text widths (declared, or the
// longest value, at least 1), text converted to GBK. At most maxRows rows when maxRows
// >= 0. Throws ServerError naming the column and row of a text that GBK cannot hold or
// that is no number. columns.size() must be rs.columns.size().
packet::Packet toPacket(const ResultSet& rs, const std::vector<PacketColumn>& columns,
                        std::int32_t maxRows);

struct FetchResult {
  com::ByteArray packet;
  std::int32_t recordsSent = 0;
};

// The packet of toPacket(rs, columns, maxRows) with the no-reset-call property (the
// provider keeps no cursor), written straight from the result without building the
// packet first, and the rows sent. Throws as toPacket().
FetchResult encodeResult(const ResultSet& rs, const std::vector<PacketColumn>& columns,
                         std::int32_t maxRows);

// The answer to a reset (FetchRecords with option 2): an empty packet. The provider
// keeps no cursor between calls, so there is nothing to undo.
FetchResult resetResult();

}  // namespace qadj::appserver
