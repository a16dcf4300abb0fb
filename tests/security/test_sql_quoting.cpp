// Values written into the window's statements: quotes doubled, and nothing in a value
// — quotes, backslashes, semicolons, comment markers, GBK characters whose second byte
// is 0x5C — can end its literal, on the way GBK → UTF-16 (wire) → UTF-8 (database)
// and in SQLite and PostgreSQL alike. An operator code crafted to change other rows
// changes none.
#include <gtest/gtest.h>

#include "qadj/appserver/costore_product.h"
#include "qadj/com/com.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/window/sql.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"

using namespace qadj;
using namespace qadj::testing;
namespace sql = qadj::window::sql;

namespace {

// GBK characters whose trail byte is 0x5C ('\'), checked against iconv's GBK table:
// 乗 81 5C, 昞 95 5C, 縗 BF 5C, 誠 D5 5C, 輁 DD 5C, 郳 E0 5C.
const std::string kBackslashTrail = "\x81\x5C\x95\x5C\xBF\x5C\xD5\x5C\xDD\x5C\xE0\x5C";

// Values as hostile as a host or a database could hand the window (GBK bytes).
const std::vector<std::string>& hostileValues() {
  static const std::vector<std::string> values{
      "x'; DELETE FROM XSTXLGL01; --",
      "' OR '1'='1",
      "a\\'; DROP TABLE GSTRYGL0; --",
      "\\",
      "end\\",
      "/* open",
      "*/ x /* y */",
      "--",
      ";",
      "''",
      "\x95\x5C'",      // 昞 then a quote
      "\xD5\x5C",       // 誠 right before the closing quote
      kBackslashTrail,  // six of them
      "\xD5\x5C'; DELETE FROM XSTXLGL01; --",
      "\xD5\xC5\xC8\xFD\\'--;/**/",  // 张三 and every marker
  };
  return values;
}

// The literals and the rest of a UTF-8 statement read as SQL reads it: a literal runs
// from a quote to the next single quote, a doubled quote standing for one.
struct Scanned {
  std::vector<std::string> literals;
  std::string rest;  // the statement with each literal replaced by '?'
  bool closed = true;
};

Scanned scan(const std::string& s) {
  Scanned out;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] != '\'') {
      out.rest += s[i++];
      continue;
    }
    std::string literal;
    ++i;
    for (;;) {
      if (i >= s.size()) {
        out.closed = false;
        break;
      }
      if (s[i] == '\'') {
        if (i + 1 < s.size() && s[i + 1] == '\'') {
          literal += '\'';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      literal += s[i++];
    }
    out.literals.push_back(literal);
    out.rest += '?';
  }
  return out;
}

// The statement as the database receives it: the window's GBK text, UTF-16 on the
// wire, UTF-8 at the server.
std::string asDatabaseSeesIt(const std::string& gbkStatement) {
  return text::utf16ToUtf8(text::gbkToUtf16(gbkStatement));
}

TEST(SqlQuoting, EveryValueStaysOneLiteralOnItsWayToTheDatabase) {
  const std::string detailShape = scan(asDatabaseSeesIt(sql::detailQuery("d", "w", "s", "p"))).rest;
  const std::string incrementShape =
      scan(asDatabaseSeesIt(sql::increment("1", "a", "b", "c"))).rest;
  for (const auto& v : hostileValues()) {
    SCOPED_TRACE(text::gbkToUtf8Lossy(v));
    const std::string utf8 = text::gbkToUtf8(v);
    // Doubling quotes is all the quoting: a backslash is an ordinary character.
    std::string doubled;
    for (char c : v) doubled += c == '\'' ? std::string("''") : std::string(1, c);
    EXPECT_EQ(sql::quoted(v), doubled);

    const auto lookup = scan(asDatabaseSeesIt(sql::warehouseLookup(v)));
    EXPECT_TRUE(lookup.closed);
    EXPECT_EQ(lookup.literals, std::vector<std::string>{utf8});
    EXPECT_EQ(lookup.rest, "SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00=?");

    const auto detail = scan(asDatabaseSeesIt(sql::detailQuery(v, v, v, v)));
    EXPECT_EQ(detail.rest, detailShape);
    EXPECT_EQ(detail.literals, (std::vector<std::string>{utf8, "yyyy-mm-dd", utf8, utf8, utf8}));

    const auto update = scan(asDatabaseSeesIt(sql::increment("1", v, v, v)));
    EXPECT_EQ(update.rest, incrementShape);
    EXPECT_EQ(update.literals, (std::vector<std::string>{utf8, utf8, utf8}));
    // Nothing of the value reaches the text outside its literals.
    for (const char* marker : {";", "--", "/*", "\\"})
      EXPECT_EQ(update.rest.find(marker), std::string::npos) << marker;
  }
}

TEST(SqlQuoting, NoGbkCharacterHoldsAQuoteAndABrokenOneIsNeverSent) {
  // A quote byte is never the second byte of a GBK character: a lead byte followed by
  // a quote is no character at all, and the strict conversion refuses it rather than
  // swallowing the quote into a replacement character.
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    const std::string pair{static_cast<char>(lead), '\''};
    EXPECT_FALSE(text::isValidGbk(pair)) << std::hex << lead;
    EXPECT_THROW(text::gbkToUtf16(pair), EConvertError) << std::hex << lead;
    // The lenient form (for display only) keeps the quote.
    EXPECT_EQ(text::gbkToUtf8Lossy(pair), "?'") << std::hex << lead;
  }
  // The salesperson code is the first four bytes of the list's text and may end in
  // the first half of a character; a statement holding it is refused before it is
  // sent, since its closing quote would follow a lead byte.
  const std::string code = sql::salespersonCodeOf("000\xD5\x5C | x");
  EXPECT_EQ(code, "000\xD5");
  EXPECT_THROW(text::gbkToUtf16(sql::detailQuery("2026-12-08", "01", code, "P001")), EConvertError);
  // Every 0x5C-trail character comes out as one UTF-8 character without a backslash.
  const std::string utf8 = text::gbkToUtf8(kBackslashTrail);
  EXPECT_EQ(utf8, "乗昞縗誠輁郳");
  EXPECT_EQ(utf8.find('\\'), std::string::npos);
}

class SqlQuotingOnServer : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    db = quotaDatabaseFor(GetParam());
    if (!db) return;
    com::CoInitialize();
    db->db().executeScript("CREATE TABLE QTEST0 (K VARCHAR(8), V VARCHAR(200))");
    std::shared_ptr<com::IUnknown> itf;
    appserver::createCoStoreProduct(db->url())->QueryInterface(com::IID_IDispatch, itf);
    server = com::interface_cast<com::IDispatch>(itf);
    ASSERT_TRUE(server);
  }
  void TearDown() override {
    server.reset();
    if (db) com::CoUninitialize();
  }
  // A GBK statement sent as the window sends it.
  CallOutcome fetch(const std::string& gbk) { return fetchOn(*server, text::gbkToUtf16(gbk)); }
  CallOutcome execute(const std::string& gbk) { return executeOn(*server, text::gbkToUtf16(gbk)); }
  // Rows and total quota of the quota lines, and the number of persons.
  std::string fingerprint() {
    const auto r = fetch(
        "SELECT (SELECT COUNT(*) FROM XSTXLGL01), (SELECT SUM(XL0000) FROM XSTXLGL01), "
        "(SELECT COUNT(*) FROM GSTRYGL0)");
    if (r.rows != 1) return "failed: " + r.description;
    std::string out;
    for (const auto& v : r.packet.rows[0])
      out += std::holds_alternative<double>(v) ? std::to_string(std::get<double>(v)) + " " : "? ";
    return out;
  }

  std::unique_ptr<QuotaDatabase> db;
  std::shared_ptr<com::IDispatch> server;
};

TEST_P(SqlQuotingOnServer, HostileValuesAreStoredAndMatchedLiterally) {
  const auto& values = hostileValues();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::string key = "K" + std::to_string(i);
    // A command only updates rows: the row is made here, its value set through the server.
    db->db().execute("INSERT INTO QTEST0 (K,V) VALUES ($1,'')", {key});
    const auto put =
        execute("UPDATE QTEST0 SET V='" + sql::quoted(values[i]) + "' WHERE K='" + key + "'");
    ASSERT_EQ(put.hr, com::S_OK) << text::gbkToUtf8Lossy(values[i]) << ": " << put.description;
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(text::gbkToUtf8Lossy(values[i]));
    const auto got = fetch("SELECT K,V FROM QTEST0 WHERE V='" + sql::quoted(values[i]) + "'");
    ASSERT_EQ(got.hr, com::S_OK) << got.description;
    ASSERT_EQ(got.rows, 1u);
    EXPECT_EQ(std::get<std::string>(got.packet.rows[0][0]), "K" + std::to_string(i));
    // Back in the packet as the very same GBK bytes.
    EXPECT_EQ(std::get<std::string>(got.packet.rows[0][1]), values[i]);
  }
  const auto all = fetch("SELECT K FROM QTEST0");
  EXPECT_EQ(all.rows, values.size());
}

TEST_P(SqlQuotingOnServer, ACraftedCodeChangesNoOtherRow) {
  const std::string before = fingerprint();
  ASSERT_EQ(before.find("failed"), std::string::npos) << before;
  // As a single statement: it finds no line with that code, and nothing else runs.
  const auto single =
      execute(sql::increment("1", "D1", "0013'; DELETE FROM XSTXLGL01 WHERE '1'='1", "P001"));
  EXPECT_EQ(single.hr, com::S_OK) << single.description;
  EXPECT_EQ(fingerprint(), before);
  // Inside a save's block: the UPDATE that finds no row fails the whole block.
  const auto block =
      execute(sql::block({sql::increment("1", "D1", "x'; DELETE FROM XSTXLGL01; --", "P001"),
                          sql::decrement("1.00", "D1", "0012", "P001")}));
  EXPECT_EQ(block.hr, com::DISP_E_EXCEPTION);
  EXPECT_NE(block.description.find("本次保存没有修改任何限量"), std::string::npos)
      << block.description;
  EXPECT_EQ(fingerprint(), before);
  // A lookup with a tautology matches nothing; the plain code matches its row.
  EXPECT_EQ(fetch(sql::warehouseLookup("x' OR '1'='1")).rows, 0u);
  EXPECT_EQ(fetch(sql::warehouseLookup("0001' --")).rows, 0u);
  EXPECT_EQ(fetch(sql::warehouseLookup("0001")).rows, 1u);
  EXPECT_EQ(fetch(sql::salespersonList("01' OR FXY000='Y")).rows, 0u);
  EXPECT_EQ(fetch(sql::salespersonList("01")).rows, 4u);
}

TEST_P(SqlQuotingOnServer, BackslashIsAnOrdinaryCharacterInLiterals) {
  // Would a backslash escape the quote after it, this literal would not end where the
  // window means it to, and the statement would fail or mean something else.
  const auto r = fetch("SELECT 'a\\''b' AS V, 'c\\' AS W");
  ASSERT_EQ(r.hr, com::S_OK) << r.description;
  ASSERT_EQ(r.rows, 1u);
  EXPECT_EQ(std::get<std::string>(r.packet.rows[0][0]), "a\\'b");
  EXPECT_EQ(std::get<std::string>(r.packet.rows[0][1]), "c\\");
  if (std::string(GetParam()) != "postgresql") return;
  // Even on a database whose default treats backslashes as escapes, the server's
  // sessions do not.
  db->db().executeScript(
      "DO $$ BEGIN EXECUTE format('ALTER DATABASE %I SET standard_conforming_strings TO off', "
      "current_database()); END $$");
  std::shared_ptr<com::IUnknown> itf;
  appserver::createCoStoreProduct(db->url())->QueryInterface(com::IID_IDispatch, itf);
  server = com::interface_cast<com::IDispatch>(itf);
  ASSERT_TRUE(server);
  const auto s = fetch("SELECT current_setting('standard_conforming_strings') AS S, 'a\\''b' AS V");
  ASSERT_EQ(s.rows, 1u) << s.description;
  EXPECT_EQ(std::get<std::string>(s.packet.rows[0][0]), "on");
  EXPECT_EQ(std::get<std::string>(s.packet.rows[0][1]), "a\\'b");
  auto plain = appserver::openDatabase(db->url());
  EXPECT_EQ(std::get<std::string>(
                plain->query("SELECT current_setting('standard_conforming_strings')").rows[0][0]),
            "on");
}

INSTANTIATE_TEST_SUITE_P(Dialects, SqlQuotingOnServer, ::testing::Values("sqlite", "postgresql"));

}  // namespace
