// The window's statements through the provider on SQLite and PostgreSQL: columns, types
// and rows of each result, the effect of each save, and the refusal of every other text.
#include <gtest/gtest.h>

#include <algorithm>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/provider.h"
#include "qadj/appserver/quota.h"
#include "qadj/appserver/schema.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/packet.h"
#include "qadj/protocol/save_request.h"
#include "qadj/protocol/statements.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/shorthand.h"
#include "qadj/testing/window_save.h"

namespace qadj::appserver {
namespace {

using packet::Packet;
using qadj::testing::TempDir;
using statements::decrement;
using statements::increment;

using qadj::testing::gbk;
using qadj::testing::q;

std::vector<std::string> names(const Packet& p) {
  std::vector<std::string> out;
  for (const auto& c : p.columns) out.push_back(c.name);
  return out;
}
std::vector<std::string> types(const Packet& p) {
  std::vector<std::string> out;
  for (const auto& c : p.columns) out.push_back(c.typeName);
  return out;
}
const std::string& str(const packet::Value& v) {
  return std::get<std::string>(v);
}
double num(const packet::Value& v) {
  return std::get<double>(v);
}

class Statements : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    url_ = qadj::testing::freshDatabaseFor(GetParam(), dir_);
    if (url_.empty()) return;
    db_ = openDatabase(url_);
    qadj::testing::seedKnownData(*db_);
    prepareSession(*db_);
  }

  Packet fetch(const std::string& gbkText) {
    const auto r = fetchRecords(*db_, gbkText, -1, 1);
    auto p = packet::decode(r.packet);
    EXPECT_EQ(r.recordsSent, static_cast<std::int32_t>(p.rows.size()));
    return p;
  }
  // A quota line as a session of the server reads it (-1 when there is none).
  double quota(const std::string& doc, const std::string& person, const std::string& product,
               Database* session = nullptr) {
    const auto rs = (session ? *session : *db_)
                        .query(
                            "SELECT XL0000 FROM XSTXLGL01 WHERE DHAO00 = $1 AND FXRY00 = $2 "
                            "AND SPDM00 = $3",
                            {doc, person, product});
    return rs.rows.empty() ? -1 : std::get<double>(rs.rows[0][0]);
  }
  // The quota of D1/0013/10000001 as a second session reads it: what this one committed.
  double quotaSeenByAnotherSession() {
    auto other = openDatabase(url_);
    return quota("D1", "0013", "10000001", other.get());
  }
  double lines() { return qadj::testing::allQuota(*db_); }

  TempDir dir_;
  std::string url_;
  std::unique_ptr<Database> db_;
};

TEST_P(Statements, WarehouseLookupAndSalespersonList) {
  const auto wh = fetch(statements::warehouseLookup("0001"));
  EXPECT_EQ(names(wh), std::vector<std::string>{"CKDM00"});
  EXPECT_EQ(types(wh), std::vector<std::string>{"String"});
  ASSERT_EQ(wh.rows.size(), 1u);
  EXPECT_EQ(str(wh.rows[0][0]), "W1");

  const auto list = fetch(statements::salespersonList("W1"));
  EXPECT_EQ(names(list), (std::vector<std::string>{"CKDM00", "RYDM00", "RYMC00"}));
  EXPECT_EQ(types(list), (std::vector<std::string>{"String", "String", "String"}));
  EXPECT_EQ(list.columns[1].width, 4);
  EXPECT_EQ(list.columns[2].width, 8);
  std::vector<std::pair<std::string, std::string>> people;
  for (const auto& row : list.rows) people.emplace_back(str(row[1]), str(row[2]));
  std::sort(people.begin(), people.end());
  EXPECT_EQ(people, (std::vector<std::pair<std::string, std::string>>{
                        {"0012", gbk("张三")}, {"0013", gbk("李四")}, {"0015", gbk("王五")}}));
}

TEST_P(Statements, EmptyWarehouseCodeAndUnknownOperatorMatchNothing) {
  EXPECT_TRUE(fetch(statements::warehouseLookup("9999")).rows.empty());
  const auto list = fetch(statements::salespersonList(""));
  EXPECT_TRUE(list.rows.empty());
  EXPECT_EQ(types(list), (std::vector<std::string>{"String", "String", "String"}));
}

TEST_P(Statements, ProductQueryReadsTheWorkingTableOfMQadj) {
  EXPECT_EQ(fillAdjustableQuotas(*db_, "0012", dates::fromCivil(2026, 12, 8)), 3u);
  const auto p = fetch(statements::productQuery());
  EXPECT_EQ(names(p), (std::vector<std::string>{"SPDM00", "SPMC00", "XL0000", "YFXSL0", "KTZXL0"}));
  EXPECT_EQ(types(p), (std::vector<std::string>{"String", "String", "Float", "Float", "Float"}));
  EXPECT_EQ(p.columns[0].width, 8);
  EXPECT_EQ(p.columns[1].width, 30);
  // 10000003 has a quota line but no product row: absent. Ordered by product code.
  ASSERT_EQ(p.rows.size(), 2u);
  EXPECT_EQ(str(p.rows[0][0]), "10000001");
  EXPECT_EQ(str(p.rows[0][1]), gbk("可口可乐330ml"));
  EXPECT_DOUBLE_EQ(num(p.rows[0][2]), 20);  // D1 only: D3 is another day
  EXPECT_DOUBLE_EQ(num(p.rows[0][3]), 8);   // 5 + 3 sold that day
  EXPECT_DOUBLE_EQ(num(p.rows[0][4]), 12);
  EXPECT_EQ(str(p.rows[1][0]), "10000002");
  EXPECT_DOUBLE_EQ(num(p.rows[1][2]), 8);
  EXPECT_DOUBLE_EQ(num(p.rows[1][3]), 12);
  EXPECT_DOUBLE_EQ(num(p.rows[1][4]), 0);  // oversold: never below 0
}

TEST_P(Statements, MQadjReplacesTheEarlierRows) {
  fillAdjustableQuotas(*db_, "0012", dates::fromCivil(2026, 12, 8));
  fillAdjustableQuotas(*db_, "0013", dates::fromCivil(2026, 12, 7));
  const auto p = fetch(statements::productQuery());
  ASSERT_EQ(p.rows.size(), 1u);
  EXPECT_EQ(str(p.rows[0][0]), "10000001");
  EXPECT_DOUBLE_EQ(num(p.rows[0][2]), 99);
  EXPECT_DOUBLE_EQ(num(p.rows[0][4]), 99);
  fillAdjustableQuotas(*db_, "0099", dates::fromCivil(2026, 12, 8));
  EXPECT_TRUE(fetch(statements::productQuery()).rows.empty());
}

// A giver of many products: the rows go in several INSERTs, and none is lost or doubled
// at the edges of one.
TEST_P(Statements, MQadjWritesEveryRowOfAGiverOfManyProducts) {
  const std::size_t products = 2 * kWorkingRowsPerInsert + 1;
  inTransaction(*db_, [&] {
    for (std::size_t i = 0; i < products; ++i)
      db_->execute("INSERT INTO XSTXLGL01 (DHAO00, FXRY00, SPDM00, XL0000) VALUES ($1, $2, $3, $4)",
                   {std::string("D1"), std::string("0777"), std::to_string(20000000 + i),
                    Cell(static_cast<double>(i))});
  });
  EXPECT_EQ(fillAdjustableQuotas(*db_, "0777", dates::fromCivil(2026, 12, 8)), products);
  const auto rs =
      db_->query("SELECT COUNT(*), SUM(XL0000), MIN(SPDM00), MAX(SPDM00) FROM PGTQADJ0");
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_DOUBLE_EQ(std::get<double>(rs.rows[0][0]), static_cast<double>(products));
  EXPECT_DOUBLE_EQ(std::get<double>(rs.rows[0][1]),
                   static_cast<double>(products * (products - 1) / 2));
  EXPECT_EQ(std::get<std::string>(rs.rows[0][2]), "20000000");
  EXPECT_EQ(std::get<std::string>(rs.rows[0][3]), std::to_string(20000000 + products - 1));
}

TEST_P(Statements, DetailQueryListsOtherSalespersonsOfTheWarehouseFromEveryDocumentOfTheDate) {
  const auto p = fetch(statements::detailQuery("2026-12-08", "W1", "0012", "10000001"));
  EXPECT_EQ(names(p),
            (std::vector<std::string>{"FXRY00", "RYMC00", "SPDM00", "SPMC00", "XL0000", "TZXL00"}));
  EXPECT_EQ(types(p),
            (std::vector<std::string>{"String", "String", "String", "String", "Float", "Float"}));
  std::vector<std::pair<std::string, double>> rows;
  for (const auto& row : p.rows) {
    EXPECT_EQ(str(row[2]), "10000001");
    EXPECT_EQ(str(row[3]), gbk("可口可乐330ml"));
    EXPECT_DOUBLE_EQ(num(row[5]), 0);
    rows.emplace_back(str(row[0]), num(row[4]));
  }
  std::sort(rows.begin(), rows.end());
  // 0012 (chosen) and 0021 (warehouse W2) are excluded; 0015 comes from the second
  // document of the date; D3 (another day) does not count.
  EXPECT_EQ(rows, (std::vector<std::pair<std::string, double>>{{"0013", 10}, {"0015", 6}}));
  EXPECT_FALSE(p.readOnly);
  EXPECT_FALSE(p.disableEdits);
}

TEST_P(Statements, DetailQueryWithoutRowsStillTypesItsColumns) {
  for (const char* product : {"10000003", "19999999"}) {
    const auto p = fetch(statements::detailQuery("2026-12-08", "W1", "0012", product));
    EXPECT_TRUE(p.rows.empty()) << product;
    EXPECT_EQ(types(p),
              (std::vector<std::string>{"String", "String", "String", "String", "Float", "Float"}));
    EXPECT_EQ(p.columns[5].name, "TZXL00");
  }
  EXPECT_TRUE(fetch(statements::detailQuery("2026-12-08", "", "0012", "10000001")).rows.empty());
}

TEST_P(Statements, DocumentLookupFindsTheDocumentsOfTheDate) {
  const auto p = fetch(statements::documentLookup("2026-12-08"));
  EXPECT_EQ(names(p), std::vector<std::string>{"DHAO00"});
  std::vector<std::string> docs;
  for (const auto& row : p.rows) docs.push_back(str(row[0]));
  std::sort(docs.begin(), docs.end());
  EXPECT_EQ(docs, (std::vector<std::string>{"D1", "D2"}));
  EXPECT_TRUE(fetch(statements::documentLookup("2026-12-09")).rows.empty());
}

TEST_P(Statements, ADocumentDateThatIsNoDateCannotBeStored) {
  // One such row used to make TRUNC(ZDRQ00) fail the lookup for every date (SQLite
  // stores any text; PostgreSQL's column type refuses it by itself).
  std::vector<std::string> bad{"garbage", "2026-02-30", "2026-13-45"};
  if (GetParam() == std::string("sqlite"))  // PostgreSQL reads some of these as dates
    bad.insert(bad.end(), {"2026-12-08 10:00+08:00", "8.12.2026", "2026-12-08x"});
  for (const std::string& text : bad) {
    EXPECT_THROW(db_->execute("INSERT INTO XSTXLGL1 (DHAO00, ZDRQ00) VALUES ('DX', $1)", {text}),
                 DatabaseError)
        << text;
    EXPECT_THROW(db_->execute("UPDATE XSTXLGL1 SET ZDRQ00 = $1 WHERE DHAO00 = 'D1'", {text}),
                 DatabaseError)
        << text;
  }
  for (const char* good : {"2026-12-10", "2026-12-10 08:30:00", "2026-12-10T08:30"})
    EXPECT_EQ(db_->execute("UPDATE XSTXLGL1 SET ZDRQ00 = $1 WHERE DHAO00 = 'D2'", {good}), 1)
        << good;
  EXPECT_EQ(fetch(statements::documentLookup("2026-12-08")).rows.size(), 1u);
}

TEST_P(Statements, AQuotaThatIsNoFiniteNumberCannotBeStored) {
  // Every later sum and limit check would be infinite or NaN.
  const std::vector<std::string> bad =
      GetParam() == "sqlite" ? std::vector<std::string>{"1e309", "-1e309", "9e999"}
                             : std::vector<std::string>{"'Infinity'", "'-Infinity'", "'NaN'"};
  for (const std::string& value : bad) {
    EXPECT_THROW(db_->executeScript("UPDATE XSTXLGL01 SET XL0000 = " + value +
                                    " WHERE DHAO00 = 'D1' AND FXRY00 = '0013'"),
                 DatabaseError)
        << value;
    EXPECT_THROW(
        db_->executeScript("INSERT INTO XSTXLGL01 VALUES ('D9', '0013', 'P', " + value + ")"),
        DatabaseError)
        << value;
  }
  EXPECT_EQ(quota("D1", "0013", "10000001"), 10);
}

// Behind the templates, a session holds what no statement of the server needs: SQLite
// answers no library address (fts3_tokenizer), PostgreSQL fixes its lock wait and sort
// memory whatever the role's or database's defaults.
TEST_P(Statements, SessionsHoldFixedBounds) {
  if (GetParam() == "sqlite") {
    EXPECT_THROW(db_->query("SELECT fts3_tokenizer('simple')"), DatabaseError);
    return;
  }
  const auto setting = [&](const char* name) {
    return std::get<std::string>(db_->query(std::string("SHOW ") + name).rows.at(0).at(0));
  };
  EXPECT_EQ(setting("work_mem"), "4MB");
  EXPECT_EQ(setting("lock_timeout"), "5s");
}

TEST_P(Statements, IncrementAndDecrementChangeOneQuotaLine) {
  EXPECT_EQ(executeCommand(*db_, increment(q(5), "D1", "0013", "10000001")), 1);
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 15);
  executeCommand(*db_, increment(q(-2), "D1", "0013", "10000001"));  // XL0000+-2
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 13);
  executeCommand(*db_, increment(q(2.5), "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 15.5);
  executeCommand(*db_, increment(q(0), "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 15.5);
  executeCommand(*db_, decrement(q(5), "D1", "0012", "10000001"));
  EXPECT_DOUBLE_EQ(quota("D1", "0012", "10000001"), 15);
  EXPECT_DOUBLE_EQ(quota("D3", "0012", "10000001"), 50);  // other document untouched
  // A line that is not there fails the statement, as it would fail a save; adding
  // nothing to it does not.
  EXPECT_THROW(executeCommand(*db_, increment(q(1), "D9", "0013", "10000001")), DatabaseError);
  EXPECT_EQ(executeCommand(*db_, increment(q(0), "D9", "0013", "10000001")), 0);
  // The statements one by one, as a client of the original design sends them: each is
  // a transfer of one line, journalled.
  const auto journal = readJournal(*db_, {});
  ASSERT_EQ(journal.size(), 6u);
  EXPECT_EQ(journal[0].receivers, (std::vector<std::pair<std::string, double>>{{"0013", 5}}));
  EXPECT_EQ(journal[0].giver, "");
  EXPECT_EQ(journal[4].giver, "0012");
  EXPECT_EQ(journal[4].total, 5);
  EXPECT_TRUE(journal[4].receivers.empty());
}

TEST_P(Statements, ASaveRunsAllOrNothing) {
  EXPECT_EQ(executeCommand(*db_, qadj::testing::windowSave("D1", "10000001", "0012",
                                                           {{"0013", 3}, {"0021", 2}})),
            3);
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 13);
  EXPECT_DOUBLE_EQ(quota("D1", "0021", "10000001"), 9);
  EXPECT_DOUBLE_EQ(quota("D1", "0012", "10000001"), 15);
  // 0015's line of 10000001 lies in D2: the save names its document and fails whole.
  try {
    executeCommand(*db_,
                   qadj::testing::windowSave("D1", "10000001", "0012", {{"0013", 3}, {"0015", 1}}));
    FAIL() << "the save should fail";
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "单据 D1 中没有访销员 0015 的商品 10000001 的限量记录，本次保存没有修改任何限量");
  }
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 13);  // first statement rolled back
  // A statement the database refuses in the middle of the block: the block's statements
  // go together, and the refusal names the one and leaves none applied.
  db_->executeScript(
      GetParam() == "sqlite"
          ? "CREATE TRIGGER closed BEFORE UPDATE ON XSTXLGL01 WHEN NEW.FXRY00 = '0021' "
            "BEGIN SELECT RAISE(ABORT, 'line 0021 is closed'); END"
          : "CREATE FUNCTION closed() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
            "NEW.FXRY00 = '0021' THEN RAISE EXCEPTION 'line 0021 is closed'; END IF; RETURN "
            "NEW; END $$; CREATE TRIGGER closed BEFORE UPDATE ON XSTXLGL01 FOR EACH ROW "
            "EXECUTE FUNCTION closed()");
  try {
    executeCommand(*db_, qadj::testing::windowSave("D1", "10000001", "0012",
                                                   {{"0013", 3}, {"0021", 2}, {"0015", 0}}));
    FAIL() << "the save should fail";
  } catch (const DatabaseError& e) {
    EXPECT_STREQ(e.what(),
                 "statement 2 of the block: line 0021 is closed; no statement of the block was "
                 "applied");
  }
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 13);
  EXPECT_DOUBLE_EQ(quota("D1", "0012", "10000001"), 15);
  // The session is usable afterwards and not left inside a transaction.
  executeCommand(*db_, increment(q(1), "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quotaSeenByAnotherSession(), 14);
}

// A block far larger than any warehouse (a client of its own may send one): it runs
// whole, and the session goes on serving.
TEST_P(Statements, ABlockOfFortyThousandStatementsRuns) {
  std::vector<std::pair<std::string, double>> receivers{{"0013", 1}};
  constexpr std::string_view kDigits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (std::size_t i = 0; i < 40000; ++i)  // codes Z000..., lines of no one
    receivers.emplace_back(
        std::string{'Z', kDigits[i / 1296], kDigits[i / 36 % 36], kDigits[i % 36]}, 0);
  EXPECT_EQ(executeCommand(*db_, qadj::testing::windowSave("D1", "10000001", "0012", receivers)),
            2);
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 11);
  EXPECT_DOUBLE_EQ(quota("D1", "0012", "10000001"), 19);
}

// Only the window's statements run; any other text is refused before anything runs and
// changes nothing, and the session goes on serving.
TEST_P(Statements, TheProviderRunsTheWindowsStatementsOnly) {
  const std::string inc = increment(q(1), "D1", "0013", "10000001");
  const std::string giverLine = increment(q(-5), "D1", "0012", "10000001");
  for (const std::string& text :
       {std::string("BEGIN"), std::string("commit"), std::string("SAVEPOINT s"),
        "BEGIN " + inc + "; COMMIT; " + inc + "; END;", inc + "; DELETE FROM XSTXLGL01",
        "/* the giver */ " + decrement(q(1), "D9", "0012", "10000001"),
        std::string("UPDATE GSTJYGL1 SET SPMC00='x' WHERE SPDM00='10000002'"),
        std::string("DELETE FROM XSTXLGL01"), std::string("VACUUM"),
        statements::warehouseLookup("0001")})
    EXPECT_THROW(executeCommand(*db_, text), ServerError) << text;
  for (const std::string& text :
       {inc, std::string("SELECT NOPE FROM GSTRYGL0"), std::string("DELETE FROM XSTXLGL01"),
        std::string("WITH T AS (SELECT 1 X) SELECT X FROM T"),
        std::string("SELECT XL0000 FROM XSTXLGL01 FOR UPDATE")})
    EXPECT_THROW(fetch(text), ServerError) << text;
  // A block must be one transfer: one document and product, no receiver who gives, the
  // receivers getting what the giver gives.
  for (const std::string& text :
       {statements::block({giverLine, increment(q(5), "D1", "0013", "10000001"),
                           decrement(q(0), "D1", "0012", "10000001")}),
        statements::block({increment(q(1000), "D1", "0013", "10000001"),
                           decrement(q(1), "D1", "0012", "10000001")}),
        statements::block(
            {increment(q(1), "D2", "0015", "10000001"), decrement(q(1), "D1", "0012", "10000001")}),
        statements::block({increment(q(1), "D1", "0015", "10000002"),
                           decrement(q(1), "D1", "0012", "10000001")})}) {
    try {
      executeCommand(*db_, text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ServerError& e) {
      EXPECT_NE(std::string(e.what()).find("不是一次限量调整，没有修改任何限量"), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(lines(), 209);  // the seeded lines, unchanged
  EXPECT_TRUE(readJournal(*db_, {}).empty());
  EXPECT_EQ(fetch(statements::warehouseLookup("0001")).rows.size(), 1u);
}

// A fetch runs in a read-only transaction of its own, which ends with it.
TEST_P(Statements, AFetchLeavesNoTransactionOpen) {
  EXPECT_EQ(fetch(statements::warehouseLookup("0012")).rows.size(), 1u);
  EXPECT_THROW(fetch(statements::warehouseLookup("00123")), ServerError);
  // A change after them is seen by every session at once: no transaction was left open.
  executeCommand(*db_, increment(q(1), "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quotaSeenByAnotherSession(), 11);
}

TEST_P(Statements, ASaveIdIsAppliedOnceAndItsTransferJournaled) {
  const std::string block = qadj::testing::windowSave("D1", "10000001", "0012", {{"0013", 2}});
  const SaveContext save{"0123456789abcdef0123456789abcdef", "0001", "ipv4:127.0.0.1:5000"};
  EXPECT_EQ(executeCommand(*db_, block, &save), 2);
  // The same id again, from any session of the database: answered as done.
  auto other = openDatabase(url_);
  EXPECT_EQ(executeCommand(*other, block, &save), 0);
  EXPECT_EQ(quota("D1", "0013", "10000001"), 12);
  EXPECT_EQ(quota("D1", "0012", "10000001"), 18);
  // Other statements under an applied id are refused, changing nothing.
  const std::string changed = increment(q(5), "D1", "0013", "10000001");
  try {
    executeCommand(*db_, changed, &save);
    ADD_FAILURE() << "other statements under an applied id were accepted";
  } catch (const ServerError& e) {
    EXPECT_NE(std::string(e.what()).find("这次保存已经执行过"), std::string::npos) << e.what();
  }
  EXPECT_EQ(quota("D1", "0013", "10000001"), 12);
  // The journal holds the one transfer, with who moved what.
  const auto journal = readJournal(*db_, {});
  ASSERT_EQ(journal.size(), 1u);
  EXPECT_EQ(journal[0].saveId, save.id);
  EXPECT_EQ(journal[0].operatorCode, "0001");
  EXPECT_EQ(journal[0].client, "ipv4:127.0.0.1:5000");
  EXPECT_EQ(journal[0].giver, "0012");
  EXPECT_EQ(journal[0].total, 2);
  EXPECT_EQ(journal[0].receivers, (std::vector<std::pair<std::string, double>>{{"0013", 2}}));
  EXPECT_EQ(journal[0].savedAt.size(), 19u);
  // Without an id a save is applied each time it is sent, and journaled each time.
  EXPECT_EQ(executeCommand(*db_, block, nullptr), 2);
  EXPECT_EQ(executeCommand(*db_, block, nullptr), 2);
  EXPECT_EQ(readJournal(*db_, {}).size(), 3u);
  EXPECT_EQ(readJournal(*db_, {"", "0001", ""}).size(), 1u);
  EXPECT_EQ(readJournal(*db_, {"2999-01-01", "", ""}).size(), 0u);
  // The purge forgets old ids and keeps the journal.
  EXPECT_EQ(purgeSaveIds(*db_, "2999-01-01 00:00:00"), 1);
  EXPECT_EQ(readJournal(*db_, {}).size(), 3u);
  EXPECT_EQ(purgeSaveIds(*db_, saveIdCutoff()), 0);
}

TEST_P(Statements, AFailedSaveLeavesItsIdFreeAndNoJournalRow) {
  const std::string block = qadj::testing::windowSave("D1", "10000001", "0012", {{"0099", 2}});
  const SaveContext save{"fedcba9876543210fedcba9876543210", "0001", "in-process"};
  EXPECT_THROW(executeCommand(*db_, block, &save), DatabaseError);  // 0099 has no line
  EXPECT_EQ(readJournal(*db_, {}).size(), 0u);
  EXPECT_EQ(db_->query("SELECT 1 FROM QADJ_SAVE_ID").rows.size(), 0u);
}

TEST_P(Statements, NoDecreasePassesTheGiversAdjustableQuantity) {
  // 0012 / 10000001 on 12-08: 20 in D1, sold 5 + 3 that day: 12 to give (D3's 50 and
  // the 100 sold on 12-07 are another day's).
  const auto give = [](double amount) {
    return qadj::testing::windowSave("D1", "10000001", "0012", {{"0013", amount}});
  };
  // The giver's refusal is the window's own text; one of a salesperson lowered as a
  // receiver (a lone increment has no giver) names them and what is left to take.
  const std::string named =
      "访销员 0012 张三 的限量最多还能调回 12.00，这次要调回 13.00，没有修改任何限量";
  for (const auto& [sql, refusal] :
       {std::pair{give(12.01), std::string(kOverLimitText)},
        {decrement(q(13), "D1", "0012", "10000001"), kOverLimitText},
        {increment(q(-13), "D1", "0012", "10000001"), named},
        {qadj::testing::windowSave("D1", "10000001", "0012", {{"0013", 7}, {"0021", 5.01}}),
         kOverLimitText}}) {
    try {
      executeCommand(*db_, sql);
      ADD_FAILURE() << "accepted: " << sql;
    } catch (const OverLimit& e) {
      EXPECT_EQ(e.what(), refusal);
    }
  }
  EXPECT_EQ(quota("D1", "0012", "10000001"), 20);
  EXPECT_EQ(quota("D1", "0013", "10000001"), 10);

  const SaveContext save{"00112233445566778899aabbccddeeff", "0001", "in-process"};
  EXPECT_EQ(executeCommand(*db_, give(12), &save), 2);
  EXPECT_EQ(quota("D1", "0012", "10000001"), 8);
  EXPECT_THROW(executeCommand(*db_, give(0.01)), OverLimit);
  // The applied save sent again is answered as done, not refused as over the limit.
  EXPECT_EQ(executeCommand(*db_, give(12), &save), 0);
  // Receiving is never refused: 10000002 of 0012 is oversold (8 held, 12 sold).
  EXPECT_EQ(executeCommand(*db_, decrement(q(-1), "D2", "0012", "10000002")), 1);
  EXPECT_EQ(quota("D2", "0012", "10000002"), 9);
  // The giver's lines of the day in other documents count (D3's, of 12-07, do not):
  // 5 more in D2 let 5 more go from D1.
  db_->execute("INSERT INTO XSTXLGL01 VALUES ('D2', '0012', '10000001', 5)");
  EXPECT_THROW(executeCommand(*db_, give(5.01)), OverLimit);
  EXPECT_EQ(executeCommand(*db_, give(5)), 2);
}

INSTANTIATE_TEST_SUITE_P(Databases, Statements, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& param) { return param.param; });

}  // namespace
}  // namespace qadj::appserver
