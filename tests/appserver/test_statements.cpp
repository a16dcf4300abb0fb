// The window's statements, verbatim, through the provider on SQLite and PostgreSQL:
// columns, types and rows of each result, and the effect of each update.
#include <gtest/gtest.h>

#include <algorithm>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/provider.h"
#include "qadj/appserver/quota.h"
#include "qadj/appserver/schema.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/packet.h"
#include "qadj/protocol/save_request.h"
#include "qadj/testing/unavailable.h"
#include "support/databases.h"

namespace qadj::appserver {
namespace {

using packet::Packet;
using qadj::testing::TempDir;

std::string gbk(const char* utf8) {
  return text::utf8ToGbk(utf8);
}

const std::string kProductQuery =
    "SELECT A.SPDM00,SPMC00,XL0000,YFXSL0,KTZXL0  FROM PGTQADJ0 A,GSTJYGL1 B WHERE "
    "A.SPDM00=B.SPDM00 ORDER BY SPDM00";

std::string detailQuery(const std::string& date, const std::string& warehouse,
                        const std::string& salesperson, const std::string& product) {
  return "SELECT A.FXRY00,C.RYMC00,A.SPDM00,D.SPMC00,A.XL0000,0 TZXL00  FROM XSTXLGL01 "
         "A,XSTXLGL1 B,GSTRYGL0 C,GSTJYGL1 D  WHERE A.DHAO00=B.DHAO00 AND "
         "TRUNC(B.ZDRQ00)=TO_DATE('" +
         date + "','yyyy-mm-dd')" + " AND A.FXRY00=C.RYDM00 AND A.SPDM00=D.SPDM00 AND CKDM00='" +
         warehouse + "' AND C.RYDM00<>'" + salesperson + "'" + " AND A.SPDM00='" + product + "'";
}

std::string increment(const std::string& adjustment, const std::string& doc,
                      const std::string& salesperson, const std::string& product) {
  return "UPDATE XSTXLGL01 SET XL0000=XL0000+" + adjustment + " where " + " DHAO00='" + doc +
         "' AND FXRY00='" + salesperson + "' AND SPDM00='" + product + "'";
}

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
    std::string whyNot;
    url_ = qadj::testing::freshDatabaseUrl(GetParam(), dir_, whyNot);
    if (url_.empty()) return qadj::testing::databaseUnavailable(whyNot);
    db_ = openDatabase(url_);
    qadj::testing::seedKnownData(*db_);
    prepareSession(*db_);
  }

  Packet fetch(const std::string& sql) {
    const auto r = fetchRecords(*db_, sql, -1, 1);
    auto p = packet::decode(r.packet);
    EXPECT_EQ(r.recordsSent, static_cast<std::int32_t>(p.rows.size()));
    return p;
  }
  double quota(const std::string& doc, const std::string& person, const std::string& product) {
    const auto p = fetch("SELECT XL0000 FROM XSTXLGL01 WHERE DHAO00='" + doc + "' AND FXRY00='" +
                         person + "' AND SPDM00='" + product + "'");
    EXPECT_EQ(p.rows.size(), 1u);
    return p.rows.empty() ? -1 : num(p.rows[0][0]);
  }
  // The quota of D1/0013/10000001 as a second session reads it: what this one committed.
  double quotaSeenByAnotherSession() {
    auto other = openDatabase(url_);
    const auto r = fetchRecords(*other,
                                "SELECT XL0000 FROM XSTXLGL01 WHERE DHAO00='D1' AND "
                                "FXRY00='0013' AND SPDM00='10000001'",
                                -1, 1);
    return num(packet::decode(r.packet).rows.at(0).at(0));
  }

  TempDir dir_;
  std::string url_;
  std::unique_ptr<Database> db_;
};

TEST_P(Statements, WarehouseLookupAndSalespersonList) {
  const auto wh = fetch("SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='0001'");
  EXPECT_EQ(names(wh), std::vector<std::string>{"CKDM00"});
  EXPECT_EQ(types(wh), std::vector<std::string>{"String"});
  ASSERT_EQ(wh.rows.size(), 1u);
  EXPECT_EQ(str(wh.rows[0][0]), "W1");

  const auto list =
      fetch("SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00='W1'");
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
  EXPECT_TRUE(fetch("SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='9999'").rows.empty());
  const auto list =
      fetch("SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00=''");
  EXPECT_TRUE(list.rows.empty());
  EXPECT_EQ(types(list), (std::vector<std::string>{"String", "String", "String"}));
}

TEST_P(Statements, ProductQueryReadsTheWorkingTableOfMQadj) {
  EXPECT_EQ(fillAdjustableQuotas(*db_, "0012", dates::fromCivil(2026, 12, 8)), 3u);
  const auto p = fetch(kProductQuery);
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
  const auto p = fetch(kProductQuery);
  ASSERT_EQ(p.rows.size(), 1u);
  EXPECT_EQ(str(p.rows[0][0]), "10000001");
  EXPECT_DOUBLE_EQ(num(p.rows[0][2]), 99);
  EXPECT_DOUBLE_EQ(num(p.rows[0][4]), 99);
  fillAdjustableQuotas(*db_, "0099", dates::fromCivil(2026, 12, 8));
  EXPECT_TRUE(fetch(kProductQuery).rows.empty());
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
  const auto p = fetch("SELECT COUNT(*), SUM(XL0000), MIN(SPDM00), MAX(SPDM00) FROM PGTQADJ0");
  ASSERT_EQ(p.rows.size(), 1u);
  EXPECT_DOUBLE_EQ(num(p.rows[0][0]), static_cast<double>(products));
  EXPECT_DOUBLE_EQ(num(p.rows[0][1]), static_cast<double>(products * (products - 1) / 2));
  EXPECT_EQ(str(p.rows[0][2]), "20000000");
  EXPECT_EQ(str(p.rows[0][3]), std::to_string(20000000 + products - 1));
}

TEST_P(Statements, DetailQueryListsOtherSalespersonsOfTheWarehouseFromEveryDocumentOfTheDate) {
  const auto p = fetch(detailQuery("2026-12-08", "W1", "0012", "10000001"));
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
    const auto p = fetch(detailQuery("2026-12-08", "W1", "0012", product));
    EXPECT_TRUE(p.rows.empty()) << product;
    EXPECT_EQ(types(p),
              (std::vector<std::string>{"String", "String", "String", "String", "Float", "Float"}));
    EXPECT_EQ(p.columns[5].name, "TZXL00");
  }
  EXPECT_TRUE(fetch(detailQuery("2026-12-08", "", "0012", "10000001")).rows.empty());
}

TEST_P(Statements, DocumentLookupFindsTheDocumentsOfTheDate) {
  const auto p =
      fetch("SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('2026-12-08','yyyy-mm-dd')");
  EXPECT_EQ(names(p), std::vector<std::string>{"DHAO00"});
  std::vector<std::string> docs;
  for (const auto& row : p.rows) docs.push_back(str(row[0]));
  std::sort(docs.begin(), docs.end());
  EXPECT_EQ(docs, (std::vector<std::string>{"D1", "D2"}));
  EXPECT_TRUE(fetch("SELECT DHAO00 FROM XSTXLGL1 WHERE "
                    "TRUNC(ZDRQ00)=TO_DATE('2026-12-09','yyyy-mm-dd')")
                  .rows.empty());
}

TEST_P(Statements, ADocumentDateThatIsNoDateCannotBeStored) {
  // One such row used to make TRUNC(ZDRQ00) fail the lookup for every date (SQLite
  // stores any text; PostgreSQL's column type refuses it by itself).
  std::vector<std::string> bad{"garbage", "2026-02-30"};
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
  EXPECT_EQ(
      fetch("SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('2026-12-08','yyyy-mm-dd')")
          .rows.size(),
      1u);
}

TEST_P(Statements, IncrementAndDecrementChangeOneQuotaLine) {
  EXPECT_EQ(executeCommand(*db_, increment("5", "D1", "0013", "10000001")), 1);
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 15);
  executeCommand(*db_, increment("-2", "D1", "0013", "10000001"));  // XL0000+-2
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 13);
  executeCommand(*db_, increment("2.5", "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 15.5);
  executeCommand(*db_, increment("0", "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 15.5);
  executeCommand(*db_,
                 "UPDATE XSTXLGL01 SET XL0000=XL0000-5.00 WHERE  DHAO00='D1' AND FXRY00='0012' "
                 "AND SPDM00='10000001'");
  EXPECT_DOUBLE_EQ(quota("D1", "0012", "10000001"), 15);
  EXPECT_DOUBLE_EQ(quota("D3", "0012", "10000001"), 50);  // other document untouched
  EXPECT_EQ(executeCommand(*db_, increment("1", "D9", "0013", "10000001")), 0);
}

TEST_P(Statements, BlockRunsAllOrNothing) {
  const std::string ok = "BEGIN " + increment("3", "D1", "0013", "10000001") + "; " +
                         increment("2", "D2", "0015", "10000001") +
                         "; UPDATE XSTXLGL01 SET XL0000=XL0000-5.00 WHERE  DHAO00='D1' AND "
                         "FXRY00='0012' AND SPDM00='10000001'; END;";
  EXPECT_EQ(executeCommand(*db_, ok), 3);
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 13);
  EXPECT_DOUBLE_EQ(quota("D2", "0015", "10000001"), 8);
  EXPECT_DOUBLE_EQ(quota("D1", "0012", "10000001"), 15);

  const std::string failing = "begin " + increment("3", "D1", "0013", "10000001") +
                              "; UPDATE NOSUCHTABLE SET XL0000=1; end";
  try {
    executeCommand(*db_, failing);
    FAIL() << "the block should fail";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("statement 2"), std::string::npos) << e.what();
  }
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 13);  // first statement rolled back
  // The session is usable afterwards and not left inside a transaction.
  executeCommand(*db_, increment("1", "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quotaSeenByAnotherSession(), 14);
}

TEST_P(Statements, TransactionControlIsRefused) {
  for (const char* sql : {"BEGIN", "commit", "ROLLBACK", "START TRANSACTION", "SAVEPOINT s"})
    EXPECT_THROW(executeCommand(*db_, sql), ServerError) << sql;
  EXPECT_THROW(
      executeCommand(*db_, "BEGIN " + increment("3", "D1", "0013", "10000001") + "; COMMIT; " +
                               increment("1", "D1", "0013", "10000001") + "; END;"),
      ServerError);
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 10);
  // The session is still in autocommit: another session sees the change at once.
  executeCommand(*db_, increment("1", "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quotaSeenByAnotherSession(), 11);
}

TEST_P(Statements, ALoneDecrementBehindACommentOfAMissingLineIsRefused) {
  // Checked as a block's statement is: a quota line that is not there fails it.
  EXPECT_THROW(executeCommand(*db_,
                              "/* the giver */ UPDATE XSTXLGL01 SET XL0000=XL0000-1 "
                              "WHERE DHAO00='D9' AND FXRY00='0012' AND SPDM00='10000001'"),
               DatabaseError);
}

TEST_P(Statements, BlockKeepsSemicolonsInsideLiterals) {
  executeCommand(*db_,
                 "BEGIN UPDATE GSTJYGL1 SET SPMC00='a;b ''END;''' WHERE SPDM00='10000002'; END;");
  const auto p = fetch("SELECT SPMC00 FROM GSTJYGL1 WHERE SPDM00='10000002'");
  EXPECT_EQ(str(p.rows.at(0).at(0)), "a;b 'END;'");
}

TEST_P(Statements, FailuresCarryTheDatabasesDescription) {
  EXPECT_THROW(fetch("SELECT NOPE FROM GSTRYGL0"), DatabaseError);
  EXPECT_THROW(executeCommand(*db_, "UPDATE XSTXLGL01 SET XL0000=XL0000+ where"), DatabaseError);
  try {
    fetch("SELECT * FROM NOSUCHTABLE");
    FAIL();
  } catch (const DatabaseError& e) {
    const std::string m = e.what();
    EXPECT_TRUE(m.find("NOSUCHTABLE") != std::string::npos ||
                m.find("nosuchtable") != std::string::npos)
        << m;
  }
  // One request, one statement: a second statement is refused, not run.
  EXPECT_THROW(
      executeCommand(*db_, increment("1", "D1", "0013", "10000001") + "; DELETE FROM XSTXLGL01"),
      DatabaseError);
  EXPECT_DOUBLE_EQ(quota("D1", "0013", "10000001"), 10);
  // A fetch only reads.
  EXPECT_THROW(fetch("DELETE FROM XSTXLGL01"), ServerError);
  EXPECT_THROW(fetch("  /* x */ UPDATE XSTXLGL01 SET XL0000=0"), ServerError);
  EXPECT_EQ(fetch("WITH T AS (SELECT 1 X) SELECT X FROM T").rows.size(), 1u);
  EXPECT_THROW(fetch("SELECT CKDM00 FROM GSTRYGL0 WHERE TRUNC(CKDM00)=TO_DATE('2026-02-30',"
                     "'yyyy-mm-dd')"),
               DatabaseError);
}

// A fetch runs in a read-only transaction of its own, which ends with it whether the
// query succeeds or fails.
TEST_P(Statements, AFetchReadsInATransactionOfItsOwn) {
  try {
    fetch("SELECT XL0000 FROM XSTXLGL01 FOR UPDATE");  // SQLite knows no FOR UPDATE
    FAIL();
  } catch (const DatabaseError& e) {
    if (GetParam() == "postgresql") {
      EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(fetch("SELECT RYDM00 FROM GSTRYGL0 WHERE RYDM00='0012'").rows.size(), 1u);
  // A change after them is seen by every session at once: no transaction was left open.
  executeCommand(*db_, increment("1", "D1", "0013", "10000001"));
  EXPECT_DOUBLE_EQ(quotaSeenByAnotherSession(), 11);
}

TEST_P(Statements, ColumnNamesComeBackUpperCaseOrAsQuoted) {
  const auto p =
      fetch("select rydm00, a.rymc00 naam, 1.5 \"Mixed\" from gstrygl0 a where rydm00='0012'");
  EXPECT_EQ(names(p), (std::vector<std::string>{"RYDM00", "NAAM", "Mixed"}));
  EXPECT_EQ(types(p), (std::vector<std::string>{"String", "String", "Float"}));
  const auto star = fetch("SELECT * FROM GSTJYGL1 WHERE SPDM00='10000001'");
  EXPECT_EQ(names(star), (std::vector<std::string>{"SPDM00", "SPMC00"}));
}

TEST_P(Statements, DatesReachThePacketAsDateTime) {
  const auto p = fetch("SELECT ZDRQ00 FROM XSTXLGL1 WHERE DHAO00='D2'");
  EXPECT_EQ(types(p), std::vector<std::string>{"DateTime"});
  EXPECT_DOUBLE_EQ(num(p.rows.at(0).at(0)), dates::fromCivil(2026, 12, 8) + 15.5 / 24);
}

TEST_P(Statements, ASaveIdIsAppliedOnceAndItsTransferJournaled) {
  const std::string block = "BEGIN " + increment("2", "D1", "0013", "10000001") +
                            "; UPDATE XSTXLGL01 SET XL0000=XL0000-2.00 WHERE  DHAO00='D1' AND "
                            "FXRY00='0012' AND SPDM00='10000001'; END;";
  const SaveContext save{"0123456789abcdef0123456789abcdef", "0001", "ipv4:127.0.0.1:5000"};
  EXPECT_EQ(executeCommand(*db_, block, &save), 2);
  // The same id again, from any session of the database: answered as done.
  auto other = openDatabase(url_);
  EXPECT_EQ(executeCommand(*other, block, &save), 0);
  EXPECT_EQ(quota("D1", "0013", "10000001"), 12);
  EXPECT_EQ(quota("D1", "0012", "10000001"), 18);
  // Other statements under an applied id are refused, changing nothing.
  const std::string changed = "BEGIN " + increment("5", "D1", "0013", "10000001") + "; END;";
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
  const std::string block = "BEGIN " + increment("2", "D1", "0099", "10000001") +
                            "; UPDATE XSTXLGL01 SET XL0000=XL0000-2.00 WHERE  DHAO00='D1' AND "
                            "FXRY00='0012' AND SPDM00='10000001'; END;";
  const SaveContext save{"fedcba9876543210fedcba9876543210", "0001", "in-process"};
  EXPECT_THROW(executeCommand(*db_, block, &save), DatabaseError);  // 0099 has no line
  EXPECT_EQ(readJournal(*db_, {}).size(), 0u);
  EXPECT_EQ(db_->query("SELECT 1 FROM QADJ_SAVE_ID").rows.size(), 0u);
}

TEST_P(Statements, NoDecreasePassesTheGiversAdjustableQuantity) {
  // 0012 / 10000001 on 12-08: 20 in D1, sold 5 + 3 that day: 12 to give (D3's 50 and
  // the 100 sold on 12-07 are another day's).
  const auto give = [](const std::string& amount) {
    return "BEGIN " + increment(amount, "D1", "0013", "10000001") +
           "; UPDATE XSTXLGL01 SET XL0000=XL0000-" + amount +
           " WHERE  DHAO00='D1' AND FXRY00='0012' AND SPDM00='10000001'; END;";
  };
  const std::string lone =
      "UPDATE XSTXLGL01 SET XL0000=XL0000-13 WHERE DHAO00='D1' AND FXRY00='0012' AND "
      "SPDM00='10000001'";
  for (const std::string& sql : {give("12.01"), lone, increment("-13", "D1", "0012", "10000001"),
                                 "BEGIN " + increment("-7", "D1", "0012", "10000001") + "; " +
                                     increment("-6", "D1", "0012", "10000001") + "; END;"}) {
    try {
      executeCommand(*db_, sql);
      ADD_FAILURE() << "accepted: " << sql;
    } catch (const OverLimit& e) {
      EXPECT_STREQ(e.what(), kOverLimitText);
    }
  }
  EXPECT_EQ(quota("D1", "0012", "10000001"), 20);
  EXPECT_EQ(quota("D1", "0013", "10000001"), 10);

  const SaveContext save{"00112233445566778899aabbccddeeff", "0001", "in-process"};
  EXPECT_EQ(executeCommand(*db_, give("12"), &save), 2);
  EXPECT_EQ(quota("D1", "0012", "10000001"), 8);
  EXPECT_THROW(executeCommand(*db_, give("0.01")), OverLimit);
  // The applied save sent again is answered as done, not refused as over the limit.
  EXPECT_EQ(executeCommand(*db_, give("12"), &save), 0);
  // Receiving is never refused: 10000002 of 0012 is oversold (8 held, 12 sold).
  EXPECT_EQ(executeCommand(*db_, "BEGIN " + increment("-1", "D1", "0015", "10000002") +
                                     "; UPDATE XSTXLGL01 SET XL0000=XL0000-(-1.00) WHERE "
                                     "DHAO00='D2' AND FXRY00='0012' AND SPDM00='10000002'; END;"),
            2);
  EXPECT_EQ(quota("D2", "0012", "10000002"), 9);
}

INSTANTIATE_TEST_SUITE_P(Databases, Statements, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& param) { return param.param; });

}  // namespace
}  // namespace qadj::appserver
