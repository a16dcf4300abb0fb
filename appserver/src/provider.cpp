#include "qadj/appserver/provider.h"

#include <algorithm>
#include <cctype>

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
// early): the provider decides transactions itself.
void refuseTransactionControl(std::string_view sql) {
  static constexpr std::string_view kWords[] = {"BEGIN", "START",     "COMMIT",  "ROLLBACK",
                                                "END",   "SAVEPOINT", "RELEASE", "ABORT"};
  const auto w = firstWord(sql);
  for (const auto k : kWords)
    if (w == k)
      throw ServerError("Transaction control (" + w +
                        ") is not accepted: each statement commits by itself, and a block "
                        "BEGIN ...; ...; END; runs as one transaction");
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

packet::Packet toPacket(const ResultSet& rs, std::string_view sqlText, std::int32_t maxRows) {
  packet::Packet p;
  const auto items = sql::selectItems(sqlText);
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

FetchResult fetchRecords(Database& db, std::string_view sqlText, std::int32_t count,
                         std::int32_t options) {
  if (options & kFetchReset) return resetResult();
  FetchResult result;
  if (blank(sqlText)) throw ServerError("No SQL statement was given");
  if (!isQuery(sqlText))
    throw ServerError(
        "FetchRecords runs queries (SELECT) only; send other statements with "
        "ExecuteCommand");
  const auto rs = db.query(sqlText);
  const auto p = toPacket(rs, sqlText, count);
  result.recordsSent = static_cast<std::int32_t>(p.rows.size());
  result.packet = packet::encode(p);
  return result;
}

namespace {

bool isUpdate(std::string_view statement) {
  std::size_t i = 0;
  while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
  const std::string_view word = statement.substr(i, 6);
  return word.size() == 6 && std::equal(word.begin(), word.end(), "UPDATE", [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

}  // namespace

std::int64_t executeCommand(Database& db, std::string_view sqlText) {
  if (blank(sqlText)) throw ServerError("No SQL statement was given");
  std::optional<std::vector<std::string>> block;
  try {
    block = sql::splitBlock(sqlText);
  } catch (const std::invalid_argument& e) {
    throw ServerError(std::string("Cannot read the statement block: ") + e.what());
  }
  if (!block) {
    refuseTransactionControl(sqlText);
    return db.execute(sqlText);
  }
  if (block->empty()) return 0;
  for (const auto& statement : *block) refuseTransactionControl(statement);
  // A block is one unit of work: an UPDATE in it that finds no row would leave the
  // unit half done (a quota transfer would create or destroy quota), so it fails the
  // whole block.
  return inTransaction(db, [&] {
    std::int64_t changed = 0;
    for (std::size_t i = 0; i < block->size(); ++i) {
      const std::string& statement = (*block)[i];
      std::int64_t rows = 0;
      try {
        rows = db.execute(statement);
      } catch (const DatabaseError& e) {
        throw DatabaseError("statement " + std::to_string(i + 1) + " of the block: " + e.what() +
                            "; no statement of the block was applied");
      }
      if (rows == 0 && isUpdate(statement))
        throw DatabaseError("statement " + std::to_string(i + 1) +
                            " of the block changed no row; no statement of the block was applied");
      changed += rows;
    }
    return changed;
  });
}

}  // namespace qadj::appserver
