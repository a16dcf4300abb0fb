// The provider "PUBLIC_DSP": answers the window's statements (statements::matchQuery,
// matchCommand) with the server's own statements, their values bound, and record-set
// packets. Texts inside packets and the requests' texts are GBK.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qadj/appserver/database.h"
#include "qadj/appserver/result_packet.h"
#include "qadj/appserver/save_record.h"
#include "qadj/appserver/server_error.h"
#include "qadj/protocol/packet.h"
#include "qadj/protocol/statements.h"

namespace qadj::appserver {

// Throws ServerError unless name is "PUBLIC_DSP" (letter case free).
void checkProvider(std::string_view name);

// The server's statement for one of the window's queries: its text, with the query's
// slot values as parameters $1, $2, ... in the template's order, and the packet's
// columns, one per result column.
struct ServedQuery {
  std::string_view sql;
  std::vector<PacketColumn> columns;
};
// Requires a query kind (not Increment or Decrement).
const ServedQuery& servedQuery(statements::Kind kind);

// FetchRecords of the provider: options with bit 2 (reset) answer an empty packet
// without touching the database; otherwise gbkText must be one of the window's
// queries, whose served statement runs read-only, and its packet (PacketEncoder)
// holds every row (count -1) or the first count rows. Throws
// ServerError for any other text (nothing runs), DatabaseError.
FetchResult fetchRecords(Database& db, std::string_view gbkText, std::int32_t count,
                         std::int32_t options);

// How often executeCommand runs a save whose transaction the database rolled back as
// the victim of a conflict with other sessions, before it gives up.
inline constexpr int kConflictAttempts = 8;

// ExecuteCommand of the provider: gbkText must be an increment, a decrement or a save
// block of the window (statements::matchCommand) that is one transfer (transferOf).
// Runs it in one transaction, all or nothing: the limit of every salesperson it lowers
// (refuseOverGiving), one update per statement with its values bound, and the journal
// row. A statement whose quota line is not there fails the whole save (naming the
// line, in Chinese), except one that adds 0. Returns the rows changed.
//
// With a save id (save->id), the transaction also records the id: an id recorded
// before with the same text is answered as done (0 rows) without running anything.
// save may be null. A save the database rolled back as a deadlock victim or for a
// serialization failure is run again, up to kConflictAttempts times in all.
// Throws ServerError (a text of no such shape, a transfer that does not hold, an id
// recorded with another text), OverLimit, DatabaseError, OutcomeUnknown when the
// connection broke during the commit.
std::int64_t executeCommand(Database& db, std::string_view gbkText,
                            const SaveContext* save = nullptr);

// Runs of executeCommand repeated after a conflict, since the process started (all
// sessions).
std::uint64_t conflictRetries();

}  // namespace qadj::appserver
