// Values written into the window's statements: quotes doubled, and nothing in a value
// — quotes, backslashes, semicolons, comment markers, GBK characters whose second byte
// is 0x5C — can end its slot, on the way GBK → UTF-16 (wire) → GBK (the server's
// reading); the server binds each value as a parameter, so SQLite and PostgreSQL store
// and match it literally. A value crafted to change other rows changes none.
#include <gtest/gtest.h>

#include "qadj/appserver/costore_product.h"
#include "qadj/com/com.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/statements.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/window_save.h"
#include "qadj/window/salesperson_list.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"

using namespace qadj;
using namespace qadj::testing;

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

// The statement as the server reads it: the window's GBK text, UTF-16 on the wire,
// GBK again at the server.
std::string asServerSeesIt(const std::string& gbkStatement) {
  return text::utf16ToGbk(text::gbkToUtf16(gbkStatement));
}

TEST(SqlQuoting, EveryValueIsReadBackAsTheWindowWroteIt) {
  const Quantity one = *Quantity::ofHundredths(100);
  for (const auto& v : hostileValues()) {
    SCOPED_TRACE(text::gbkToUtf8Lossy(v));
    // The document number's slot holds 20 bytes; a longer value is refused, whole.
    const auto read =
        statements::matchCommand(asServerSeesIt(statements::increment(one, v, "0013", "P001")));
    ASSERT_EQ(read.value.has_value(), v.size() <= 20) << read.refusal;
    if (read) {
      EXPECT_EQ(read.value->statements.at(0).text(1), v);
      EXPECT_EQ(read.value->statements.at(0).text(2), "0013");
    } else {
      EXPECT_NE(read.refusal.find("the document number of at most 20 bytes"), std::string::npos)
          << read.refusal;
    }
    const auto detail = statements::matchQuery(
        asServerSeesIt(statements::detailQuery("2026-12-08", "01", "0012", v)));
    EXPECT_EQ(detail.value.has_value(), v.size() <= 8) << detail.refusal;
    if (detail) {
      EXPECT_EQ(detail.value->text(3), v);
    }
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
  const std::string code = window::salespersonCodeOf("000\xD5\x5C | x");
  EXPECT_EQ(code, "000\xD5");
  EXPECT_THROW(text::gbkToUtf16(statements::detailQuery("2026-12-08", "01", code, "P001")),
               EConvertError);
  // Every 0x5C-trail character comes out as one UTF-8 character without a backslash.
  const std::string utf8 = text::gbkToUtf8(kBackslashTrail);
  EXPECT_EQ(utf8, "乗昞縗誠輁郳");
  EXPECT_EQ(utf8.find('\\'), std::string::npos);
}

class SqlQuotingOnServer : public ::testing::TestWithParam<const char*> {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    db = quotaDatabaseFor(GetParam());
    if (!db) return;
    std::shared_ptr<com::IUnknown> itf;
    appserver::createCoStoreProduct(db->url())->QueryInterface(com::IID_IDispatch, itf);
    server = com::interface_cast<com::IDispatch>(itf);
    ASSERT_TRUE(server);
  }
  void TearDown() override { server.reset(); }
  // A GBK statement sent as the window sends it.
  CallOutcome fetch(const std::string& gbk) { return fetchOn(*server, text::gbkToUtf16(gbk)); }
  CallOutcome execute(const std::string& gbk) { return executeOn(*server, text::gbkToUtf16(gbk)); }
  // Rows and total quota of the quota lines, and the number of persons.
  std::string fingerprint() {
    const auto rs = db->db().query(
        "SELECT (SELECT COUNT(*) FROM XSTXLGL01), (SELECT SUM(XL0000) FROM XSTXLGL01), "
        "(SELECT COUNT(*) FROM GSTRYGL0)");
    std::string out;
    for (const auto& v : rs.rows.at(0)) out += std::to_string(std::get<double>(v)) + " ";
    return out;
  }

  std::unique_ptr<QuotaDatabase> db;
  std::shared_ptr<com::IDispatch> server;
};

// Hostile values as document numbers and product names: a save names its lines by
// them and changes exactly those; a query brings them back as the same GBK bytes.
TEST_P(SqlQuotingOnServer, HostileValuesAreStoredAndMatchedLiterally) {
  std::vector<std::string> documents;
  for (const auto& v : hostileValues())
    if (v.size() <= 20) documents.push_back(v);
  ASSERT_GE(documents.size(), 10u);
  for (const auto& doc : documents) {
    const std::string utf8 = text::gbkToUtf8(doc);
    db->db().execute("INSERT INTO XSTXLGL1 VALUES ($1, '2026-12-09 09:00:00', '0001')", {utf8});
    for (const char* person : {"0012", "0013"})
      db->db().execute("INSERT INTO XSTXLGL01 VALUES ($1, $2, 'P001', 10)",
                       {utf8, std::string(person)});
    db->db().execute("UPDATE GSTJYGL1 SET SPMC00 = $1 WHERE SPDM00 = 'P002'", {utf8});
    const auto product = fetch(statements::detailQuery("2026-12-08", "01", "0012", "P002"));
    ASSERT_EQ(product.hr, com::S_OK) << product.description;
    ASSERT_GT(product.rows, 0u);
    EXPECT_EQ(std::get<std::string>(product.packet.rows[0][3]), doc);  // SPMC00
  }
  const std::string before = fingerprint();
  for (const auto& doc : documents) {
    SCOPED_TRACE(text::gbkToUtf8Lossy(doc));
    const auto saved = execute(windowSave(doc, "P001", "0012", {{"0013", 1}}));
    ASSERT_EQ(saved.hr, com::S_OK) << saved.description;
    const std::string utf8 = text::gbkToUtf8(doc);
    EXPECT_EQ(db->quota(utf8, "0013", "P001"), 11);
    EXPECT_EQ(db->quota(utf8, "0012", "P001"), 9);
  }
  EXPECT_EQ(fingerprint(), before);  // quota moved, none made or lost
  EXPECT_EQ(db->quota("D1", "0013", "P001"), 5);
}

TEST_P(SqlQuotingOnServer, ACraftedCodeChangesNoOtherRow) {
  const std::string before = fingerprint();
  const Quantity one = *Quantity::ofHundredths(100);
  // Crafted codes are longer than their columns: refused before anything runs.
  const auto single = execute(
      statements::increment(one, "D1", "0013'; DELETE FROM XSTXLGL01 WHERE '1'='1", "P001"));
  EXPECT_EQ(single.hr, com::DISP_E_EXCEPTION);
  EXPECT_NE(single.description.find("the salesperson code of at most 4 bytes"), std::string::npos)
      << single.description;
  EXPECT_EQ(fingerprint(), before);
  // Inside a save's block: a code that fits its column names no line, and the UPDATE
  // that finds no row fails the whole block.
  const auto block = execute(windowSave("D1", "P001", "0012", {{"x';-", 1}}));
  EXPECT_EQ(block.hr, com::DISP_E_EXCEPTION);
  EXPECT_NE(block.description.find("本次保存没有修改任何限量"), std::string::npos)
      << block.description;
  EXPECT_EQ(fingerprint(), before);
  // A lookup with a tautology is refused or matches nothing; the plain code matches its
  // row, and a code holding a quote matches only itself.
  EXPECT_EQ(fetch(statements::warehouseLookup("x' OR '1'='1")).hr, com::DISP_E_EXCEPTION);
  EXPECT_EQ(fetch(statements::warehouseLookup("'OR'")).rows, 0u);
  EXPECT_EQ(fetch(statements::warehouseLookup("0001")).rows, 1u);
  EXPECT_EQ(fetch(statements::warehouseLookup("O'1")).rows, 1u);
  EXPECT_EQ(fetch(statements::salespersonList("01' OR FXY000='Y")).hr, com::DISP_E_EXCEPTION);
  EXPECT_EQ(fetch(statements::salespersonList("01")).rows, 4u);
}

// The server's own statements hold literals ('Y', 'yyyy-mm-dd'): PostgreSQL sessions
// read them by the standard whatever the database's default.
TEST_P(SqlQuotingOnServer, SessionsReadLiteralsByTheStandard) {
  if (std::string(GetParam()) != "postgresql") GTEST_SKIP() << "SQLite has no other way";
  db->db().executeScript(
      "DO $$ BEGIN EXECUTE format('ALTER DATABASE %I SET standard_conforming_strings TO off', "
      "current_database()); END $$");
  auto plain = appserver::openDatabase(db->url());
  EXPECT_EQ(std::get<std::string>(
                plain->query("SELECT current_setting('standard_conforming_strings')").rows[0][0]),
            "on");
  EXPECT_EQ(std::get<std::string>(plain->query("SELECT 'a\\''b'").rows[0][0]), "a\\'b");
}

INSTANTIATE_TEST_SUITE_P(Dialects, SqlQuotingOnServer, ::testing::Values("sqlite", "postgresql"));

}  // namespace
