#include "qadj/appserver/provider.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <random>
#include <thread>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/quota.h"
#include "qadj/appserver/save_block.h"
#include "qadj/appserver/sql_text.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"

namespace qadj::appserver {
namespace {

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string toGbk(const std::string& utf8, const std::string& column, std::size_t row) {
  if (isAscii(utf8)) return utf8;
  try {
    return text::utf8ToGbk(utf8);
  } catch (const qadj::Exception&) {
    throw ServerError("column " + column + ", row " + std::to_string(row + 1) +
                      ": the text cannot be represented in GBK");
  }
}

const char* typeName(ColumnKind k) {
  switch (k) {
    case ColumnKind::Text:
      return "String";
    case ColumnKind::Number:
      return "Float";
    case ColumnKind::Date:
      return "Date";
    case ColumnKind::DateTime:
      return "DateTime";
  }
  return "String";
}

bool blank(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

// The first word of the text in upper case, after blanks, comments and parentheses.
std::string firstWord(std::string_view sql) {
  std::size_t i = 0;
  for (;;) {
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '('))
      ++i;
    if (sql.substr(i, 2) == "--") {
      i = sql.find('\n', i);
      if (i == std::string_view::npos) return {};
    } else if (sql.substr(i, 2) == "/*") {
      i = sql.find("*/", i + 2);
      if (i == std::string_view::npos) return {};
      i += 2;
    } else {
      break;
    }
  }
  std::string word;
  while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
  return word;
}

bool isQuery(std::string_view sql) {
  const auto w = firstWord(sql);
  return w == "SELECT" || w == "WITH";
}

// Transaction control would leave the session's transaction open (or end a block's
// early): the provider decides transactions itself. VACUUM rewrites or copies the
// whole database: no client needs it.
void refuseControlStatement(std::string_view sql) {
  static constexpr std::string_view kWords[] = {"BEGIN", "START",     "COMMIT",  "ROLLBACK",
                                                "END",   "SAVEPOINT", "RELEASE", "ABORT"};
  const auto w = firstWord(sql);
  if (w == "VACUUM") throw ServerError("The statement is refused: VACUUM is not allowed");
  for (const auto k : kWords)
    if (w == k)
      throw ServerError("Transaction control (" + w +
                        ") is not accepted: each statement commits by itself, and a block "
                        "BEGIN ...; ...; END; runs as one transaction");
}

// ExecuteCommand changes rows and nothing else: only UPDATE statements, and in the
// QuotaColumn scope only assignments of XSTXLGL01's quota column.
void refuseOtherThanUpdate(const std::vector<sql::Token>& tokens, UpdateScope scope) {
  if (tokens.empty() || !sql::isWord(tokens[0], "UPDATE"))
    throw ServerError("The statement is refused: " +
                      (tokens.empty() ? std::string("it is empty") : std::string(tokens[0].text)) +
                      " is not an UPDATE, and a command may only update rows");
  if (scope == UpdateScope::AnyUpdate) return;
  const bool quotaColumn = tokens.size() > 5 && sql::isWord(tokens[1], "XSTXLGL01") &&
                           sql::isWord(tokens[2], "SET") && sql::isWord(tokens[3], "XL0000") &&
                           sql::isPunct(tokens[4], '=');
  bool otherColumn = false;
  int depth = 0;
  for (std::size_t i = 5; quotaColumn && i < tokens.size(); ++i) {
    if (sql::isPunct(tokens[i], '(')) ++depth;
    if (sql::isPunct(tokens[i], ')')) --depth;
    if (depth == 0 && sql::isWord(tokens[i], "WHERE")) break;
    if (depth == 0 && sql::isPunct(tokens[i], ',')) otherColumn = true;
  }
  if (!quotaColumn || otherColumn)
    throw ServerError(
        "The statement is refused: this server updates only the quota column "
        "(UPDATE XSTXLGL01 SET XL0000=...); the daemon's --allow-any-update lifts this");
}

// What the request log shows for a text that cannot be read into tokens: its literal
// values cannot be told from the rest.
constexpr const char* kUnreadable = "(a text that cannot be read)";

// Tells the request log, when there is one, which statement runs: its text when the
// log wants the text, else its shape (shape() is called only then).
template <class Shape>
void noteStatement(std::string_view text, Shape&& shape) {
  if (auto* facts = com::CurrentRequestFacts())
    facts->statement = facts->wantsText ? std::string(text) : shape();
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

packet::Packet toPacket(const ResultSet& rs, const sql::Query& query, std::int32_t maxRows) {
  packet::Packet p;
  const auto& items = query.items();
  const std::size_t n = rs.columns.size();
  p.columns.reserve(n);
  for (const auto& c : rs.columns) {
    packet::Column col;
    col.name = sql::clientColumnName(c.name, items);
    if (col.name.empty()) col.name = "COLUMN" + std::to_string(p.columns.size() + 1);
    col.typeName = typeName(c.kind);
    col.width = c.kind == ColumnKind::Text ? std::max(c.width, 1) : 0;
    p.columns.push_back(std::move(col));
  }
  const std::size_t rows =
      maxRows < 0 ? rs.rows.size() : std::min(rs.rows.size(), static_cast<std::size_t>(maxRows));
  p.rows.resize(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    auto& out = p.rows[r];
    out.resize(n);
    for (std::size_t c = 0; c < n; ++c) {
      const auto& cell = rs.rows[r][c];
      if (const auto* s = std::get_if<std::string>(&cell)) {
        auto gbk = toGbk(*s, p.columns[c].name, r);
        p.columns[c].width = std::max(p.columns[c].width, static_cast<std::int32_t>(gbk.size()));
        out[c] = std::move(gbk);
      } else if (const auto* d = std::get_if<double>(&cell)) {
        out[c] = *d;
      }
    }
  }
  return p;
}

FetchResult resetResult() {
  FetchResult result;
  result.packet = packet::encode(packet::Packet{});
  return result;
}

namespace {

// The packet of toPacket(rs, query, maxRows), written straight from the result
// without holding it. The provider keeps no cursor, so the packet tells the client
// that closing needs no reset call.
FetchResult encodeResult(const ResultSet& rs, const sql::Query& query, std::int32_t maxRows) {
  packet::Packet head = toPacket(rs, query, 0);  // the columns, with declared widths
  head.noResetCall = true;
  const std::size_t n = head.columns.size();
  const std::size_t rows =
      maxRows < 0 ? rs.rows.size() : std::min(rs.rows.size(), static_cast<std::size_t>(maxRows));
  // How each text cell gets its GBK form: the one above it in its column when equal
  // (the product of a detail query), itself when plain ASCII, else converted. The
  // converted ones go through iconv in one call, since a call costs far more than the
  // characters it converts: joined with NUL, which GBK writes as one zero byte and
  // uses in no other character.
  enum : std::uint8_t { kNotText, kAsAbove, kAscii, kConverted };
  std::vector<std::uint8_t> how(rows * n, kNotText);
  std::string joined;
  bool together = true;
  std::size_t expected = 256;  // UTF-8 is never shorter than GBK
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < n; ++c) {
      const auto* s = std::get_if<std::string>(&rs.rows[r][c]);
      expected += s ? 5 + s->size() : 9;
      if (!s) continue;
      const auto* above = r > 0 ? std::get_if<std::string>(&rs.rows[r - 1][c]) : nullptr;
      std::uint8_t& h = how[r * n + c];
      if (above && *above == *s) {
        h = kAsAbove;
      } else if (isAscii(*s)) {
        h = kAscii;
      } else {
        h = kConverted;
        together = together && s->find('\0') == std::string::npos;
        if (joined.empty()) joined.reserve(expected);
        joined += *s;
        joined += '\0';
      }
    }
  }
  std::string converted;
  if (together && !joined.empty()) {
    try {
      converted = text::utf8ToGbk(joined);
    } catch (const qadj::Exception&) {
      together = false;  // one text at a time below finds and names the culprit
    }
  }
  std::size_t next = 0;  // the next converted text in `converted`

  packet::PacketWriter w(head, expected);
  std::vector<std::int32_t> widths(n);
  for (std::size_t c = 0; c < n; ++c) widths[c] = head.columns[c].width;
  std::vector<std::string> gbk(n);  // per column: the GBK form of the last text
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < n; ++c) {
      const auto& cell = rs.rows[r][c];
      if (const auto* s = std::get_if<std::string>(&cell)) {
        switch (how[r * n + c]) {
          case kAscii:
            gbk[c] = *s;
            break;
          case kConverted:
            if (together) {
              const std::size_t end = std::min(converted.find('\0', next), converted.size());
              gbk[c].assign(converted, next, end - next);
              next = end + 1;
            } else {
              gbk[c] = toGbk(*s, head.columns[c].name, r);
            }
            break;
          default:  // as above: gbk[c] holds it
            break;
        }
        widths[c] = std::max(widths[c], static_cast<std::int32_t>(gbk[c].size()));
        w.text(gbk[c]);
      } else if (const auto* d = std::get_if<double>(&cell)) {
        w.number(*d);
      } else {
        w.null();
      }
    }
  }
  for (std::size_t c = 0; c < n; ++c)
    if (widths[c] != head.columns[c].width) w.setWidth(c, widths[c]);
  FetchResult result;
  result.recordsSent = static_cast<std::int32_t>(rows);
  result.packet = w.finish();
  return result;
}

}  // namespace

FetchResult fetchRecords(Database& db, std::string_view sqlText, std::int32_t count,
                         std::int32_t options) {
  if (options & kFetchReset) return resetResult();
  if (blank(sqlText)) throw ServerError("No SQL statement was given");
  if (!isQuery(sqlText))
    throw ServerError(
        "FetchRecords runs queries (SELECT) only; send other statements with "
        "ExecuteCommand");
  // Read once: the driver and the packet's column names use what was read.
  const sql::Query query(sqlText);
  noteStatement(sqlText, [&] {
    return query.tokens().empty() ? std::string(kUnreadable) : sql::shapeOf(query.tokens());
  });
  const ResultSet rs = [&] {
    ClientText client(db);
    return db.readOnlyQuery(query);
  }();
  return encodeResult(rs, query, count);
}

namespace {

// The refusal of a save one of whose quota lines does not exist, in the window's
// language.
std::string missingLineMessage(const QuotaLineUpdate& line) {
  return "单据 " + line.document + " 中没有访销员 " + line.salesperson + " 的商品 " + line.product +
         " 的限量记录，本次保存没有修改任何限量";
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

// One attempt of executeCommand. A conflict the database resolved by rolling this
// session back leaves as TransactionConflict, so that the attempt can be repeated.
std::int64_t executeOnce(Database& db, std::string_view sqlText, const SaveContext* save,
                         UpdateScope scope) {
  if (blank(sqlText)) throw ServerError("No SQL statement was given");
  // Read once: the checks, the quota lines and the transfer come from what was read.
  sql::Command command;
  try {
    command = sql::readCommand(sqlText);
  } catch (const std::invalid_argument& e) {
    noteStatement(sqlText, [] { return std::string(kUnreadable); });
    throw ServerError(std::string("Cannot read the statement block: ") + e.what());
  }
  noteStatement(sqlText, [&] { return sql::shapeOf(command); });
  const bool saving = save && !save->id.empty();
  const std::vector<sql::Statement>& block = command.statements;
  for (const auto& statement : block) {
    refuseControlStatement(statement.text);
    refuseOtherThanUpdate(statement.tokens, scope);
  }
  const auto lines = parseQuotaLineUpdates(block);
  // A save is one unit; a lone update that lowers a quota line is checked against the
  // limit as a block's would be.
  if (!command.block && !saving && !(lines[0] && lines[0]->delta() < 0)) {
    ClientText client(db);
    return db.execute(sqlText);
  }
  if (block.empty() && !saving) return 0;
  const auto transfer = recogniseTransfer(lines);
  // A block is one unit of work: an UPDATE in it that finds no row would leave the
  // unit half done (a quota transfer would create or destroy quota), so it fails the
  // whole block, unless it adds nothing (a colleague's line of a second document).
  db.begin();
  std::int64_t changed = 0;
  try {
    const std::string now = dates::utcNow();
    if (saving) {
      purgeNowAndThen(db);
      if (claimSaveId(db, save->id, blockDigest(sqlText), now) == SaveClaim::AlreadyApplied) {
        db.commit();
        return 0;
      }
    }
    // Under the write lock (SQLite, taken by begin()) or the locks of the lines
    // (PostgreSQL): the lines read here are the lines the statements change.
    lockQuotaLines(db, lines);
    refuseOverGiving(db, lines);
    for (std::size_t i = 0; i < block.size(); ++i) {
      const std::string_view statement = block[i].text;
      std::int64_t rows = 0;
      try {
        ClientText client(db);
        rows = db.execute(statement);
      } catch (const TransactionConflict& e) {
        throw TransactionConflict("statement " + std::to_string(i + 1) +
                                  " of the block: " + e.what());
      } catch (const DatabaseError& e) {
        throw DatabaseError("statement " + std::to_string(i + 1) + " of the block: " + e.what() +
                            "; no statement of the block was applied");
      }
      // Every statement is an UPDATE (refused above otherwise).
      if (rows == 0) {
        const auto& line = lines[i];
        // Adding nothing to a line that is not there leaves the transfer whole.
        if (line && line->amount == 0) continue;
        if (line) throw DatabaseError(missingLineMessage(*line));
        throw DatabaseError("statement " + std::to_string(i + 1) +
                            " of the block changed no row; no statement of the block was applied");
      }
      changed += rows;
    }
    if (transfer) journalTransfer(db, *transfer, save ? *save : SaveContext{}, now);
  } catch (...) {
    db.rollback();
    throw;
  }
  try {
    db.commit();
  } catch (const DatabaseError& e) {
    db.rollback();
    if (db.healthy()) throw;
    // The database may have committed before the connection broke: the block is whole
    // or absent, but which of the two cannot be told from here.
    throw OutcomeUnknown(std::string("the connection to the database was lost while the block "
                                     "was being committed (") +
                         e.what() +
                         "); the block was applied completely or not at all: reload the data "
                         "to see which before saving again");
  }
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

}  // namespace

std::int64_t executeCommand(Database& db, std::string_view sqlText, const SaveContext* save,
                            UpdateScope scope) {
  // A conflict victim's transaction was rolled back whole by the database, so running
  // the text again is safe: an operator's save must not fail only because another
  // operator saved the same lines at the same moment.
  for (int attempt = 1;; ++attempt) {
    try {
      return executeOnce(db, sqlText, save, scope);
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

std::uint64_t conflictRetries() {
  return conflictRetryCount.load(std::memory_order_relaxed);
}

}  // namespace qadj::appserver
