// The provider "PUBLIC_DSP": runs the SQL text it is given and answers with
// record-set packets. Texts inside packets are GBK; SQL text is UTF-8 here.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "qadj/appserver/database.h"
#include "qadj/appserver/save_record.h"
#include "qadj/appserver/server_error.h"
#include "qadj/protocol/packet.h"

namespace qadj::appserver {

inline constexpr const char* kPublicProvider = "PUBLIC_DSP";

// Throws ServerError unless name is "PUBLIC_DSP" (letter case free).
void checkProvider(std::string_view name);

// Converts the result of query into a packet: column names as the client sees them
// (sql::clientColumnName over query's select list), type names String / Float / Date /
// DateTime, text widths (declared, or the longest value, at least 1), text converted
// to GBK. At most maxRows rows when maxRows >= 0. Throws ServerError naming the
// column and row of a text that GBK cannot hold.
packet::Packet toPacket(const ResultSet& rs, const sql::Query& query, std::int32_t maxRows);

struct FetchResult {
  com::ByteArray packet;
  std::int32_t recordsSent = 0;
};

// The answer to a reset (FetchRecords with option 2): an empty packet. The provider
// keeps no cursor between calls, so there is nothing to undo.
FetchResult resetResult();

// FetchRecords of the provider: options with bit 2 (reset) answer an empty packet
// without touching the database; otherwise runs the one query (SELECT or WITH; any
// other statement is refused, so a fetch never changes data) in sqlText and returns
// its packet with every row (count -1) or the first count rows. Throws ServerError,
// DatabaseError.
FetchResult fetchRecords(Database& db, std::string_view sqlText, std::int32_t count,
                         std::int32_t options);

// How often executeCommand runs a text whose transaction the database rolled back as
// the victim of a conflict with other sessions, before it gives up.
inline constexpr int kConflictAttempts = 8;

// ExecuteCommand of the provider: runs one statement; a block "BEGIN s1; s2; ... END;"
// runs its statements in one transaction, all or nothing. An UPDATE of the block that
// changes no row fails the block (naming the missing quota line, in Chinese, for the
// window's statements), except a quota line update by 0. Returns the rows changed.
// A statement or block that the database rolled back as a deadlock victim or for a
// serialization failure is run again, up to kConflictAttempts times in all.
//
// With a save (a save id from the owner data), the text runs as one transaction that
// also records the id: an id recorded before with the same text is answered as done
// (0 rows) without running anything. A block that is a transfer of quota (see
// recogniseTransfer) writes its journal row in the same transaction, with or without
// a save id. save may be null.
// Throws ServerError, DatabaseError (a block's error names the failing statement),
// OutcomeUnknown when the connection broke during the commit.
//
// Every statement must be an UPDATE (ServerError "The statement is refused: ..."
// otherwise); with UpdateScope::QuotaColumn only one of the shape
// "UPDATE XSTXLGL01 SET XL0000=..." that assigns no other column.
enum class UpdateScope { AnyUpdate, QuotaColumn };
std::int64_t executeCommand(Database& db, std::string_view sqlText,
                            const SaveContext* save = nullptr,
                            UpdateScope scope = UpdateScope::AnyUpdate);

// Runs of executeCommand repeated after a conflict, since the process started (all
// sessions).
std::uint64_t conflictRetries();

}  // namespace qadj::appserver
