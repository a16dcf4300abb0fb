#include "qadj/appserver/save_record.h"

#include <cstdio>
#include <ctime>
#include <iomanip>
#include <ostream>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/schema.h"
#include "qadj/appserver/server_error.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/text.h"

namespace qadj::appserver {
namespace {

// On SQLite the ids are the table's own key (one tree to write per save, not two).
constexpr const char* kSaveIdTable = R"SQL(
CREATE TABLE IF NOT EXISTS QADJ_SAVE_ID (
  SAVE_ID VARCHAR(32) NOT NULL PRIMARY KEY,
  DIGEST VARCHAR(16) NOT NULL,
  APPLIED_AT VARCHAR(19) NOT NULL
)%s;
CREATE INDEX IF NOT EXISTS QADJ_SAVE_ID_AT ON QADJ_SAVE_ID (APPLIED_AT);
)SQL";

// The journal's own row number keeps the order of saves within one second.
constexpr const char* kJournalTable = R"SQL(
CREATE TABLE IF NOT EXISTS QADJ_TRANSFER_JOURNAL (
  JOURNAL_NO %s,
  SAVE_ID VARCHAR(32),
  SAVED_AT VARCHAR(19) NOT NULL,
  OPERATOR TEXT NOT NULL,
  CLIENT TEXT NOT NULL,
  DHAO00 TEXT NOT NULL,
  SPDM00 TEXT NOT NULL,
  GIVER TEXT NOT NULL,
  RECEIVERS TEXT NOT NULL,
  TOTAL DOUBLE PRECISION NOT NULL
);
CREATE INDEX IF NOT EXISTS QADJ_TRANSFER_JOURNAL_AT ON QADJ_TRANSFER_JOURNAL (SAVED_AT);
)SQL";

bool isControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// text with every byte that escape() names written as format writes it (one byte).
template <class Escape>
std::string escaped(std::string_view text, Escape escape, const char* format) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (!escape(u)) {
      out += c;
      continue;
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, format, u);
    out += buf;
  }
  return out;
}

// A code of RECEIVERS: the characters that separate its entries (and '%' itself, and
// control characters) as %XX.
std::string encodeCode(std::string_view code) {
  return escaped(
      code, [](unsigned char c) { return c == '%' || c == '=' || c == ';' || isControl(c); },
      "%%%02X");
}

std::string decodeCode(std::string_view code) {
  std::string out;
  for (std::size_t i = 0; i < code.size(); ++i) {
    const int high = code[i] == '%' && i + 2 < code.size() ? text::hexDigitValue(code[i + 1]) : -1;
    const int low = high >= 0 ? text::hexDigitValue(code[i + 2]) : -1;
    if (low >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += code[i];
    }
  }
  return out;
}

// "0013=3;0015=0": the receivers and their amounts, in the order sent.
std::string receiversText(const std::vector<std::pair<std::string, Quantity>>& receivers) {
  std::string out;
  for (const auto& [code, amount] : receivers) {
    if (!out.empty()) out += ';';
    out += encodeCode(code) + '=' + amount.text();
  }
  return out;
}

std::vector<std::pair<std::string, double>> parseReceivers(std::string_view text) {
  std::vector<std::pair<std::string, double>> out;
  while (!text.empty()) {
    const auto end = std::min(text.find(';'), text.size());
    const std::string_view item = text.substr(0, end);
    const auto eq = item.rfind('=');
    const auto amount =
        eq == std::string_view::npos ? std::nullopt : numbers::parseDecimal(item.substr(eq + 1));
    out.emplace_back(decodeCode(item.substr(0, eq)), amount.value_or(0));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return out;
}

std::string textOf(const Cell& c) {
  const auto* s = std::get_if<std::string>(&c);
  return s ? *s : std::string();
}

}  // namespace

void createSaveRecord(Database& db) {
  const bool postgres = db.dialect() == "postgresql";
  char journal[1024];
  std::snprintf(
      journal, sizeof journal, kJournalTable,
      postgres ? "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY");
  char ids[512];
  std::snprintf(ids, sizeof ids, kSaveIdTable, postgres ? "" : " WITHOUT ROWID");
  inTransaction(db, [&] {
    db.executeScript(ids);
    db.executeScript(journal);
  });
}

bool saveRecordExists(Database& db) {
  return tableExists(db, "QADJ_SAVE_ID") && tableExists(db, "QADJ_TRANSFER_JOURNAL");
}

void ensureSaveRecord(Database& db) {
  if (!saveRecordExists(db)) createSaveRecord(db);
}

std::string blockDigest(std::string_view sqlText) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : sqlText) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

Database::Command saveIdClaim(const std::string& id, const std::string& digest,
                              const std::string& appliedAt) {
  return {
      "INSERT INTO QADJ_SAVE_ID (SAVE_ID, DIGEST, APPLIED_AT) VALUES ($1, $2, $3) "
      "ON CONFLICT (SAVE_ID) DO NOTHING",
      {id, digest, appliedAt}};
}

SaveClaim claimOutcome(Database& db, std::int64_t claimed, const std::string& id,
                       const std::string& digest) {
  if (claimed == 1) return SaveClaim::New;
  const auto rs = db.query("SELECT DIGEST FROM QADJ_SAVE_ID WHERE SAVE_ID = $1", {id});
  if (!rs.rows.empty() && textOf(rs.rows[0][0]) == digest) return SaveClaim::AlreadyApplied;
  // The window sends an id again only for the same save; other statements under it
  // would be applied silently never.
  throw ServerError(
      "这次保存已经执行过，之后改过的调整量没有保存，也没有修改任何限量。请重新点击商品，"
      "再输入调整量");
}

std::int64_t purgeSaveIds(Database& db, const std::string& cutoff) {
  return db.execute("DELETE FROM QADJ_SAVE_ID WHERE APPLIED_AT < $1", {cutoff});
}

std::string saveIdCutoff() {
  return dates::utcText(std::time(nullptr) - std::time_t{kSaveIdKeptDays} * 86400);
}

Database::Command journalRow(const Transfer& transfer, const SaveContext& save,
                             const std::string& savedAt) {
  return {
      "INSERT INTO QADJ_TRANSFER_JOURNAL (SAVE_ID, SAVED_AT, OPERATOR, CLIENT, DHAO00, SPDM00, "
      "GIVER, RECEIVERS, TOTAL) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
      {save.id.empty() ? Cell{} : Cell{save.id}, savedAt, save.operatorCode, save.client,
       transfer.document, transfer.product, transfer.giver, receiversText(transfer.receivers),
       transfer.total.value()}};
}

std::vector<JournalEntry> readJournal(Database& db, const JournalQuery& q) {
  const auto rs = db.query(
      "SELECT SAVE_ID, SAVED_AT, OPERATOR, CLIENT, DHAO00, SPDM00, GIVER, RECEIVERS, TOTAL "
      "FROM QADJ_TRANSFER_JOURNAL WHERE ($1 = '' OR SAVED_AT >= $1) AND ($2 = '' OR OPERATOR "
      "= $2) AND ($3 = '' OR SPDM00 = $3) ORDER BY SAVED_AT, JOURNAL_NO",
      {q.since, q.operatorCode, q.product});
  std::vector<JournalEntry> out;
  out.reserve(rs.rows.size());
  for (const auto& row : rs.rows) {
    JournalEntry e;
    e.saveId = textOf(row[0]);
    e.savedAt = textOf(row[1]);
    e.operatorCode = textOf(row[2]);
    e.client = textOf(row[3]);
    e.document = textOf(row[4]);
    e.product = textOf(row[5]);
    e.giver = textOf(row[6]);
    e.receivers = parseReceivers(textOf(row[7]));
    const auto* total = std::get_if<double>(&row[8]);
    e.total = total ? *total : 0;
    out.push_back(std::move(e));
  }
  return out;
}

namespace {

// A field of the CSV form. Text that a spreadsheet would take for a formula (an
// operator code is whatever a client sent) is led by an apostrophe, so that opening
// the file never runs anything.
std::string csvField(const std::string& text, bool number) {
  std::string v = text;
  if (!number && !v.empty() && std::string_view("=+-@\t\r").find(v[0]) != std::string::npos)
    v.insert(v.begin(), '\'');
  if (v.find_first_of(",\"\r\n") == std::string::npos) return v;
  std::string out = "\"";
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

// A text of a table row with every control character and backslash as \xXX.
std::string visible(const std::string& text) {
  return escaped(
      text, [](unsigned char c) { return isControl(c) || c == '\\'; }, "\\x%02x");
}

}  // namespace

void printJournal(const std::vector<JournalEntry>& entries, bool csv, std::ostream& out) {
  const std::vector<std::string> heading = {"saved at (UTC)", "operator", "client",   "document",
                                            "product",        "giver",    "receiver", "amount",
                                            "total",          "save id"};
  const auto isNumber = [](std::size_t column) { return column == 7 || column == 8; };
  std::vector<std::vector<std::string>> lines;
  for (const auto& e : entries) {
    // A transfer to nobody still has its line: the giver's total.
    const auto receivers =
        e.receivers.empty() ? std::vector<std::pair<std::string, double>>{{"", 0}} : e.receivers;
    for (const auto& [code, amount] : receivers)
      lines.push_back({e.savedAt, e.operatorCode, e.client, e.document, e.product, e.giver, code,
                       code.empty() ? "" : numbers::formatGeneral(amount),
                       numbers::formatGeneral(e.total), e.saveId});
  }
  if (csv) {
    const auto write = [&](const std::vector<std::string>& line) {
      for (std::size_t i = 0; i < line.size(); ++i)
        out << (i ? "," : "") << csvField(line[i], isNumber(i));
      out << "\n";
    };
    write(heading);
    for (const auto& line : lines) write(line);
    return;
  }
  // A table is read line by line: whatever a row holds stays on its line.
  for (auto& line : lines)
    for (auto& field : line) field = visible(field);
  std::vector<std::size_t> widths(heading.size());
  for (std::size_t i = 0; i < heading.size(); ++i) widths[i] = heading[i].size();
  for (const auto& line : lines)
    for (std::size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], line[i].size());
  const auto print = [&](const std::vector<std::string>& line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
      const bool last = i + 1 == line.size();
      out << (i ? "  " : "") << (isNumber(i) ? std::right : std::left)
          << std::setw(last ? 0 : static_cast<int>(widths[i])) << line[i];
    }
    out << "\n";
  };
  print(heading);
  for (const auto& line : lines) print(line);
}

}  // namespace qadj::appserver
