#include "qadj/appserver/provider.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cctype>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <thread>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/quota.h"
#include "qadj/appserver/transfer.h"
#include "qadj/platform/server_metrics.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"

namespace qadj::appserver {
namespace {

// Tells the request log, when there is one, which statement runs: its text when the
// log wants the text, else its shape (every value replaced by ?). The log is UTF-8.
void noteStatement(std::string_view gbkText) {
  if (auto* facts = com::CurrentRequestFacts())
    facts->statement = text::gbkToUtf8Lossy(facts->wantsText ? std::string(gbkText)
                                                             : statements::shapeOf(gbkText));
}

// A slot's value as its parameter: a text (or date) in the database's UTF-8; an
// amount as a number. Matched texts are well-formed GBK.
Cell parameterOf(const statements::Value& value) {
  if (const auto* q = std::get_if<Quantity>(&value)) return q->value();
  return text::gbkToUtf8(std::get<std::string>(value));
}

}  // namespace

void checkProvider(std::string_view name) {
  const std::string_view expected = kPublicProvider;
  const bool same = name.size() == expected.size() &&
                    std::equal(name.begin(), name.end(), expected.begin(), [](char a, char b) {
                      return std::toupper(static_cast<unsigned char>(a)) == b;
                    });
  if (!same) throw ServerError("Provider '" + std::string(name) + "' not found");
}

const ServedQuery& servedQuery(statements::Kind kind) {
  using statements::Kind;
  constexpr auto T = ColumnKind::Text;
  constexpr auto N = ColumnKind::Number;
  static const ServedQuery kWarehouse{"SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00 = $1",
                                      {{"CKDM00", T}}};
  static const ServedQuery kSalespersons{
      "SELECT CKDM00, RYDM00, RYMC00 FROM GSTRYGL0 WHERE FXY000 = 'Y' AND CKDM00 = $1",
      {{"CKDM00", T}, {"RYDM00", T}, {"RYMC00", T}}};
  static const ServedQuery kProducts{
      "SELECT A.SPDM00, B.SPMC00, A.XL0000, A.YFXSL0, A.KTZXL0 FROM PGTQADJ0 A, GSTJYGL1 B"
      " WHERE A.SPDM00 = B.SPDM00 ORDER BY A.SPDM00",
      {{"SPDM00", T}, {"SPMC00", T}, {"XL0000", N}, {"YFXSL0", N}, {"KTZXL0", N}}};
  static const ServedQuery kDetail{
      "SELECT A.FXRY00, C.RYMC00, A.SPDM00, D.SPMC00, A.XL0000, 0"
      " FROM XSTXLGL01 A, XSTXLGL1 B, GSTRYGL0 C, GSTJYGL1 D"
      " WHERE A.DHAO00 = B.DHAO00 AND TRUNC(B.ZDRQ00) = TO_DATE($1, 'yyyy-mm-dd')"
      " AND A.FXRY00 = C.RYDM00 AND A.SPDM00 = D.SPDM00 AND C.CKDM00 = $2"
      " AND C.RYDM00 <> $3 AND A.SPDM00 = $4",
      {{"FXRY00", T}, {"RYMC00", T}, {"SPDM00", T}, {"SPMC00", T}, {"XL0000", N}, {"TZXL00", N}}};
  static const ServedQuery kDocuments{
      "SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00) = TO_DATE($1, 'yyyy-mm-dd')",
      {{"DHAO00", T}}};
  switch (kind) {
    case Kind::WarehouseLookup:
      return kWarehouse;
    case Kind::SalespersonList:
      return kSalespersons;
    case Kind::ProductQuery:
      return kProducts;
    case Kind::DetailQuery:
      return kDetail;
    case Kind::DocumentLookup:
      return kDocuments;
    case Kind::Increment:
    case Kind::Decrement:
      break;
  }
  assert(false && "not a query");
  return kProducts;
}

namespace {

// The statement of served as db runs it: every text column of its select list
// bounded (Database::boundedText), named as before.
std::string boundedStatement(const ServedQuery& served, const Database& db) {
  const std::string_view sql = served.sql;
  const auto from = sql.find(" FROM ");
  assert(sql.starts_with("SELECT ") && from != std::string_view::npos);
  std::string list;
  std::size_t start = 7;
  for (const PacketColumn& column : served.columns) {
    const auto end = std::min(sql.find(", ", start), from);
    const std::string_view item = sql.substr(start, end - start);
    if (!list.empty()) list += ", ";
    const std::string bounded =
        column.kind == ColumnKind::Text ? db.boundedText(item) : std::string(item);
    // A changed item keeps its column's name; an unchanged one has it already.
    list += bounded == item ? bounded : bounded + " AS " + std::string(column.name);
    start = end + 2;
  }
  assert(start == from + 2);  // one item per column
  return "SELECT " + list + std::string(sql.substr(from));
}

// The same, made once per query and dialect.
std::string_view statementFor(const ServedQuery& served, const Database& db) {
  // Fetches read under a shared lock; only the first fetch of a query and dialect
  // writes. Entries are never removed, so a returned view stays valid.
  static std::shared_mutex mutex;
  static std::map<std::pair<const ServedQuery*, std::string>, std::string> made;
  std::pair<const ServedQuery*, std::string> key{&served, db.dialect()};
  {
    std::shared_lock read(mutex);
    if (const auto at = made.find(key); at != made.end()) return at->second;
  }
  std::string statement = boundedStatement(served, db);
  std::lock_guard write(mutex);
  return made.try_emplace(std::move(key), std::move(statement)).first->second;
}

}  // namespace

FetchResult fetchRecords(Database& db, std::string_view gbkText, std::int32_t count,
                         std::int32_t options) {
  if (options & kFetchReset) return resetResult();
  noteStatement(gbkText);
  const auto match = statements::matchQuery(gbkText);
  if (!match) {
    if (statements::matchCommand(gbkText))
      throw ServerError(
          "FetchRecords runs the window's queries; its updates go with ExecuteCommand");
    throw ServerError(match.refusal);
  }
  const ServedQuery& served = servedQuery(match.value->kind);
  std::vector<Cell> params;
  params.reserve(match.value->values.size());
  for (const auto& value : match.value->values) params.push_back(parameterOf(value));
  // This thread's last packet of each query: the next one of the same query is written
  // into room that size and an eighth, so that a large packet is not moved as it grows.
  thread_local std::array<std::size_t, 8> lastBytes{};
  std::size_t& last = lastBytes.at(static_cast<std::size_t>(match.value->kind));
  PacketEncoder encoder(served.columns, count, last + last / 8);
  {
    ClientWork client(db);
    db.readOnlyQueryInto(statementFor(served, db), params, encoder);
  }
  FetchResult result = encoder.finish();
  last = result.packet.size();
  return result;
}

namespace {

// The refusal of a save one of whose quota lines does not exist, in the window's
// language.
std::string missingLineMessage(const QuotaLineChange& line) {
  return "单据 " + line.document + " 中没有访销员 " + line.salesperson + " 的商品 " + line.product +
         " 的限量记录，本次保存没有修改任何限量";
}

// The server's update of one quota line: XL0000 changed by $1, the result kept in
// hundredths (quota is counted to the hundredth: binary sums would drift from it).
const char* changeQuotaLine(const Database& db) {
  return db.dialect() == "postgresql"
             ? "UPDATE XSTXLGL01 SET XL0000 = round((XL0000 + $1)::numeric, 2) WHERE DHAO00 = "
               "$2 AND FXRY00 = $3 AND SPDM00 = $4"
             : "UPDATE XSTXLGL01 SET XL0000 = round(XL0000 + $1, 2) WHERE DHAO00 = $2 AND "
               "FXRY00 = $3 AND SPDM00 = $4";
}

// The save ids of this process were last purged then (a purge a day is enough).
std::atomic<std::int64_t> lastPurge{0};

// Deletes save ids past their keeping, at most once a day per process, inside a save's
// transaction (so that a read-only or busy moment never costs a save anything).
void purgeNowAndThen(Database& db) {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  std::int64_t last = lastPurge.load();
  if (last != 0 && now - last < 86400) return;
  if (!lastPurge.compare_exchange_strong(last, now)) return;
  purgeSaveIds(db, saveIdCutoff());
}

// The quota lines of a transfer changed, in the order sent, and its journal row written,
// as one batch. A line that is not there fails the save (a transfer whose lines are not
// all found would create or destroy quota), unless the statement adds nothing (a
// colleague's line of a second document). Returns the lines changed.
std::int64_t changeQuotaLines(Database& db, const Transfer& transfer, Database::Command journal) {
  const std::size_t lines = transfer.lines.size();
  std::vector<Database::Command> commands;
  commands.reserve(lines + 1);
  for (const QuotaLineChange& line : transfer.lines)
    commands.push_back({changeQuotaLine(db),
                        {line.change.value(), line.document, line.salesperson, line.product},
                        nullptr,
                        true});
  commands.push_back(std::move(journal));
  std::vector<std::int64_t> changed;
  const auto refuseMissing = [&] {
    for (std::size_t i = 0; i < std::min(changed.size(), lines); ++i)
      if (changed[i] == 0 && transfer.lines[i].change != Quantity())
        throw DatabaseError(missingLineMessage(transfer.lines[i]));
  };
  // The failing statement, when it is one of the block's.
  const auto which = [&] {
    return "statement " + std::to_string(changed.size() + 1) + " of the block: ";
  };
  try {
    db.executeBatch(commands, changed);
  } catch (const TransactionConflict& e) {
    refuseMissing();
    if (changed.size() == lines) throw;
    throw TransactionConflict(which() + e.what());
  } catch (const StatementCancelled&) {
    refuseMissing();
    throw;
  } catch (const DatabaseError& e) {
    refuseMissing();
    if (changed.size() == lines) throw;
    throw DatabaseError(which() + e.what() + "; no statement of the block was applied");
  }
  refuseMissing();
  std::int64_t total = 0;
  for (std::size_t i = 0; i < lines; ++i) total += changed[i];
  return total;
}

// One attempt of executeCommand. A conflict the database resolved by rolling this
// session back leaves as TransactionConflict, so that the attempt can be repeated.
std::int64_t executeOnce(Database& db, std::string_view gbkText, const Transfer& transfer,
                         const SaveContext* save) {
  db.begin();
  std::int64_t changed = 0;
  try {
    const std::string now = dates::utcNow();
    const bool withId = save && !save->id.empty();
    if (withId) purgeNowAndThen(db);
    // The checks in one exchange: the save id's claim, then the lock of the lines
    // (PostgreSQL; SQLite's write lock is taken by begin()) and the limit's reads, so
    // that the lines read are the lines the updates change.
    std::vector<Database::Command> checks;
    const std::string digest = withId ? blockDigest(gbkText) : std::string();
    if (withId) checks.push_back(saveIdClaim(save->id, digest, now));
    const SaveChecks limits(db, transfer, checks);
    std::vector<std::int64_t> counts;
    db.executeBatch(checks, counts);
    if (withId && claimOutcome(db, counts.front(), save->id, digest) == SaveClaim::AlreadyApplied) {
      db.commit();
      metrics::countSave(metrics::SaveOutcome::Replayed);
      return 0;
    }
    limits.refuseOverGiving(db);
    changed =
        changeQuotaLines(db, transfer, journalRow(transfer, save ? *save : SaveContext{}, now));
  } catch (...) {
    db.rollback();
    throw;
  }
  try {
    db.commit();
  } catch (const DatabaseError& e) {
    db.rollback();
    if (db.healthy()) throw;
    // The database may have committed before the connection broke: the save is whole
    // or absent, but which of the two cannot be told from here.
    throw OutcomeUnknown(std::string("the connection to the database was lost while the block "
                                     "was being committed (") +
                         e.what() +
                         "); the block was applied completely or not at all: reload the data "
                         "to see which before saving again");
  }
  metrics::countSave(metrics::SaveOutcome::Applied);
  return changed;
}

std::atomic<std::uint64_t> conflictRetryCount{0};

// A pause before attempt `attempt` + 1, growing and jittered, so that sessions that
// conflicted do not meet again in the same order at once.
void pauseBeforeRetry(int attempt) {
  thread_local std::minstd_rand jitter(std::random_device{}());
  const int most = 5 * attempt;
  std::this_thread::sleep_for(
      std::chrono::milliseconds(std::uniform_int_distribution<int>(1, most)(jitter)));
}

// executeCommand without the counting of its outcome.
std::int64_t executeOrRefuse(Database& db, std::string_view gbkText, const SaveContext* save) {
  noteStatement(gbkText);
  const auto match = statements::matchCommand(gbkText);
  if (!match) {
    if (statements::matchQuery(gbkText))
      throw ServerError(
          "ExecuteCommand runs the window's updates; its queries go with FetchRecords");
    throw ServerError(match.refusal);
  }
  const Transfer transfer = transferOf(*match.value);
  // A conflict victim's transaction was rolled back whole by the database, so running
  // the save again is safe: an operator's save must not fail only because another
  // operator saved the same lines at the same moment.
  for (int attempt = 1;; ++attempt) {
    try {
      return executeOnce(db, gbkText, transfer, save);
    } catch (const TransactionConflict& e) {
      if (attempt >= kConflictAttempts)
        throw DatabaseError(e.what() + std::string("; the work met other sessions' changes ") +
                            std::to_string(attempt) +
                            " times in a row, nothing was changed, please try again");
    }
    conflictRetryCount.fetch_add(1, std::memory_order_relaxed);
    pauseBeforeRetry(attempt);
  }
}

}  // namespace

std::int64_t executeCommand(Database& db, std::string_view gbkText, const SaveContext* save) {
  try {
    return executeOrRefuse(db, gbkText, save);
  } catch (const OutcomeUnknown&) {
    throw;  // neither applied nor refused, as far as the server can tell
  } catch (...) {
    metrics::countSave(metrics::SaveOutcome::Refused);
    throw;
  }
}

std::uint64_t conflictRetries() {
  return conflictRetryCount.load(std::memory_order_relaxed);
}

}  // namespace qadj::appserver
