// The server's own record of saves, written in each save's transaction and never by
// the window's SQL: the save ids it applied (QADJ_SAVE_ID, kept kSaveIdKeptDays and
// then purged, so that a repeated id is applied at most once) and the journal of the
// transfers (QADJ_TRANSFER_JOURNAL: one row per applied save, only ever added to).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "qadj/appserver/database.h"
#include "qadj/appserver/transfer.h"

namespace qadj::appserver {

// How long an applied save id is remembered: a window retries a save whose outcome it
// does not know within minutes; a month covers a window left open over a holiday.
inline constexpr int kSaveIdKeptDays = 30;

// What a save brings besides its statements.
struct SaveContext {
  std::string id;            // the save id of the owner data; empty: none
  std::string operatorCode;  // UTF-8
  std::string client;        // the caller's address, "in-process" for an in-process caller
};

// Creates the two tables (and their indexes) when missing. Throws DatabaseError.
void createSaveRecord(Database& db);
// True when both tables exist. Throws DatabaseError.
bool saveRecordExists(Database& db);
// Creates the tables when either is missing (a database prepared by an earlier
// version). Throws DatabaseError, e.g. when the role may not create tables.
void ensureSaveRecord(Database& db);

enum class SaveClaim { New, AlreadyApplied };

// The statement that records, in the caller's write transaction, that save id `id`
// applies the block whose text has digest `digest` (blockDigest) at `appliedAt`
// (dates::utcNow()): it changes one row when the id is new, none when it was recorded
// before. On PostgreSQL a concurrent transaction claiming the same id is waited for.
Database::Command saveIdClaim(const std::string& id, const std::string& digest,
                              const std::string& appliedAt);
// What saveIdClaim's statement, having changed `claimed` rows, found: New, or
// AlreadyApplied when the id was recorded before with the same block (the block must not
// be applied again). Throws ServerError (in the window's language) when the id was
// recorded with another block, DatabaseError when the database fails.
SaveClaim claimOutcome(Database& db, std::int64_t claimed, const std::string& id,
                       const std::string& digest);

// The digest of a block's text that saveIdClaim keeps with its id (16 hex digits).
std::string blockDigest(std::string_view sqlText);

// Deletes the save ids applied before the cutoff ("YYYY-MM-DD HH:MM:SS", UTC); the
// journal keeps every row. Returns the ids deleted. Throws DatabaseError.
std::int64_t purgeSaveIds(Database& db, const std::string& cutoff);
// The cutoff of kSaveIdKeptDays before now.
std::string saveIdCutoff();

// The statement that writes, in the caller's transaction, the journal row of an applied
// transfer. Its codes and amounts are the transfer's (read from the request's slots);
// RECEIVERS holds "code=amount;code=amount", each code with '%', '=', ';' and control
// characters written as %XX, so that no code can make another entry.
Database::Command journalRow(const Transfer& transfer, const SaveContext& save,
                             const std::string& savedAt);

// One row of the journal.
struct JournalEntry {
  std::string saveId, savedAt, operatorCode, client, document, product, giver;
  std::vector<std::pair<std::string, double>> receivers;
  double total = 0;
};

struct JournalQuery {
  std::string since;         // "YYYY-MM-DD" (UTC day), empty: from the first
  std::string operatorCode;  // empty: every operator
  std::string product;       // empty: every product
};

// The journal's rows that match the query, oldest first. Throws DatabaseError.
std::vector<JournalEntry> readJournal(Database& db, const JournalQuery& query);

// The rows as a table (aligned columns; a control character or backslash in a text
// written as \xXX, so that no row can make another line) or as CSV, one line per
// receiver with the transfer's giver and total on each, under a heading line.
void printJournal(const std::vector<JournalEntry>& entries, bool csv, std::ostream& out);

}  // namespace qadj::appserver
