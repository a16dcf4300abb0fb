// SQL text helpers, Oracle date functions and the daemon's command line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "qadj/appserver/daemon_options.h"
#include "qadj/appserver/dates.h"
#include "qadj/appserver/save_block.h"
#include "qadj/appserver/sql_text.h"
#include "support/databases.h"

namespace qadj::appserver {
namespace {

using Strings = std::vector<std::string>;

TEST(SaveBlock, ReadsTheWindowsQuotaLineUpdates) {
  const auto inc = parseQuotaLineUpdate(
      "UPDATE XSTXLGL01 SET XL0000=XL0000+-2.5 where  DHAO00='D''1' AND FXRY00='0013' AND "
      "SPDM00='P001'");
  ASSERT_TRUE(inc);
  EXPECT_EQ(inc->document, "D'1");
  EXPECT_EQ(inc->salesperson, "0013");
  EXPECT_EQ(inc->product, "P001");
  EXPECT_FALSE(inc->subtracts);
  EXPECT_EQ(inc->delta(), -2.5);
  const auto dec = parseQuotaLineUpdate(
      "update xstxlgl01 set xl0000 = xl0000 - (-3.00) WHERE SPDM00='P001' AND DHAO00='D1' AND "
      "FXRY00='0012'");
  ASSERT_TRUE(dec);
  EXPECT_TRUE(dec->subtracts);
  EXPECT_EQ(dec->amount, -3);
  EXPECT_EQ(dec->delta(), 3);
  // Anything else is no quota line update.
  for (const char* other :
       {"UPDATE XSTXLGL01 SET XL0000=XL0000+1 WHERE DHAO00='D1' AND FXRY00='0013'",
        "UPDATE XSTXLGL01 SET XL0000=XL0000+1 WHERE DHAO00='D1' AND FXRY00='1' AND SPDM00='P' "
        "OR 1=1",
        "UPDATE XSTXLGL01 SET XL0000=XL0000*2 WHERE DHAO00='D1' AND FXRY00='1' AND SPDM00='P'",
        "UPDATE XSTXLGL01 SET XL0000=5 WHERE DHAO00='D1' AND FXRY00='1' AND SPDM00='P'",
        "UPDATE XSTXLGL01 SET XL0000=XL0000+1 WHERE DHAO00='D1' AND DHAO00='D2' AND SPDM00='P'",
        "UPDATE XSTXLGL01 SET XL0000=XL0000+(1 WHERE DHAO00='D1' AND FXRY00='1' AND SPDM00='P'",
        "UPDATE GSTRYGL0 SET XL0000=XL0000+1 WHERE DHAO00='D1' AND FXRY00='1' AND SPDM00='P'",
        "UPDATE XSTXLGL01 SET XL0000=XL0000+1 WHERE DHAO00='open", ""})
    EXPECT_FALSE(parseQuotaLineUpdate(other)) << other;
}

TEST(SaveBlock, RecognisesATransferOfOneDocumentAndProduct) {
  const std::string inc1 =
      "UPDATE XSTXLGL01 SET XL0000=XL0000+3 where  DHAO00='D1' AND FXRY00='0013' AND SPDM00='P1'";
  const std::string inc2 =
      "UPDATE XSTXLGL01 SET XL0000=XL0000+0 where  DHAO00='D1' AND FXRY00='0015' AND SPDM00='P1'";
  const std::string dec =
      "UPDATE XSTXLGL01 SET XL0000=XL0000-3.00 WHERE  DHAO00='D1' AND FXRY00='0012' AND "
      "SPDM00='P1'";
  const auto t = recogniseTransfer({inc1, inc2, dec});
  ASSERT_TRUE(t);
  EXPECT_EQ(t->document, "D1");
  EXPECT_EQ(t->product, "P1");
  EXPECT_EQ(t->giver, "0012");
  EXPECT_EQ(t->total, 3);
  ASSERT_EQ(t->receivers.size(), 2u);
  EXPECT_EQ(t->receivers[0], (std::pair<std::string, double>{"0013", 3}));
  EXPECT_TRUE(recogniseTransfer({dec}));              // a detail without rows gives nothing
  EXPECT_FALSE(recogniseTransfer({inc1, inc2}));      // no decrement
  EXPECT_FALSE(recogniseTransfer({dec, inc1}));       // decrement not last
  EXPECT_FALSE(recogniseTransfer({inc1, dec, dec}));  // two decrements
  std::string otherProduct = inc1;
  otherProduct.replace(otherProduct.find("P1"), 2, "P2");
  EXPECT_FALSE(recogniseTransfer({otherProduct, dec}));
  EXPECT_FALSE(recogniseTransfer(std::vector<std::string>{}));
}

TEST(SplitBlock, SplitsAtSemicolonsOutsideLiteralsAndComments) {
  EXPECT_EQ(sql::splitBlock("BEGIN UPDATE A SET X=1; UPDATE B SET Y='a;b'; END;"),
            (Strings{"UPDATE A SET X=1", "UPDATE B SET Y='a;b'"}));
  EXPECT_EQ(sql::splitBlock("  begin\n update a set x='it''s; END;'\n;;end  "),
            (Strings{"update a set x='it''s; END;'"}));
  EXPECT_EQ(sql::splitBlock("BEGIN UPDATE A SET X=1 -- a; comment\n; /* b; */ END"),
            Strings{"UPDATE A SET X=1"});
  EXPECT_EQ(sql::splitBlock("BEGIN END;"), Strings{});
}

TEST(SplitBlock, OnlyBlocksAreBlocks) {
  EXPECT_FALSE(sql::splitBlock("UPDATE A SET X=1"));
  EXPECT_FALSE(sql::splitBlock("BEGIN"));
  EXPECT_FALSE(sql::splitBlock("BEGIN UPDATE A SET X=1"));
  EXPECT_FALSE(sql::splitBlock("BEGINNING END"));
  EXPECT_THROW(sql::splitBlock("BEGIN UPDATE A SET X='open; END;"), std::invalid_argument);
  EXPECT_THROW(sql::splitBlock("BEGIN BEGIN UPDATE A SET X=1; END; END;"), std::invalid_argument);
}

TEST(ReadCommand, EachStatementCarriesItsOwnTokensAndAloneTextIsOneStatement) {
  const std::string block = "BEGIN UPDATE A SET X=1; update b set y='a;b' ; END;";
  const sql::Command c = sql::readCommand(block);
  ASSERT_TRUE(c.block);
  ASSERT_EQ(c.statements.size(), 2u);
  EXPECT_EQ(c.statements[1].text, "update b set y='a;b'");
  ASSERT_EQ(c.statements[1].tokens.size(), 6u);  // no ';' of the block, no END
  EXPECT_TRUE(sql::isWord(c.statements[1].tokens.front(), "UPDATE"));
  EXPECT_EQ(sql::literalValue(c.statements[1].tokens.back()), "a;b");
  const std::string lone = " UPDATE A SET X=1 ";
  const sql::Command one = sql::readCommand(lone);
  EXPECT_FALSE(one.block);
  ASSERT_EQ(one.statements.size(), 1u);
  EXPECT_EQ(one.statements[0].text, lone);
  EXPECT_EQ(one.statements[0].tokens.size(), 6u);
}

TEST(Shape, LiteralsBecomeMarksAndGapsOneSpace) {
  EXPECT_EQ(sql::shapeOf(sql::tokenize("SELECT A.X,  'it''s' -- note\n FROM T WHERE N=-1.5e3")),
            "SELECT A.X, ? FROM T WHERE N=-?");
  EXPECT_EQ(sql::shapeOf(sql::readCommand("BEGIN UPDATE A SET X=X+2 WHERE K='a;b'; END;")),
            "BEGIN UPDATE A SET X=X+? WHERE K=?; END;");
  EXPECT_EQ(sql::shapeOf(sql::readCommand(" UPDATE \"T 1\" SET X=0 ")), "UPDATE \"T 1\" SET X=?");
}

TEST(SeveralStatements, CountsOnlyStatementsAfterASemicolon) {
  EXPECT_FALSE(sql::hasSeveralStatements("UPDATE A SET X=1"));
  EXPECT_FALSE(sql::hasSeveralStatements("UPDATE A SET X=1; ;  -- done"));
  EXPECT_FALSE(sql::hasSeveralStatements("UPDATE A SET X='1;2'"));
  EXPECT_TRUE(sql::hasSeveralStatements("UPDATE A SET X=1; DELETE FROM A"));
}

TEST(SelectItems, NamesEachColumnAsTheStatementDoes) {
  const auto items = sql::selectItems(
      "SELECT A.FXRY00,C.RYMC00,0 TZXL00, -1.5 AS N, 'x' T, COUNT(*) \"Cnt\", TRUNC(B.Z)  FROM T");
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[0].name, "FXRY00");
  EXPECT_EQ(items[1].name, "RYMC00");
  EXPECT_EQ(items[2].name, "TZXL00");
  EXPECT_TRUE(items[2].numericLiteral);
  EXPECT_EQ(items[2].expression, "0");
  EXPECT_EQ(items[3].name, "N");
  EXPECT_TRUE(items[3].numericLiteral);
  EXPECT_TRUE(items[4].textLiteral);
  EXPECT_EQ(items[5].name, "Cnt");
  EXPECT_TRUE(items[5].quotedName);
  EXPECT_EQ(items[6].name, "TRUNC(B.Z)");
  EXPECT_FALSE(items[0].numericLiteral);
  EXPECT_TRUE(sql::selectItems("UPDATE A SET X=1").empty());
}

TEST(OrderBy, OutputNamesBecomePositions) {
  EXPECT_EQ(
      sql::orderByOutputPositions(
          "SELECT A.SPDM00,SPMC00,XL0000 FROM P A,G B WHERE A.SPDM00=B.SPDM00 ORDER BY SPDM00"),
      "SELECT A.SPDM00,SPMC00,XL0000 FROM P A,G B WHERE A.SPDM00=B.SPDM00 ORDER BY 1");
  EXPECT_EQ(sql::orderByOutputPositions("SELECT X, Y FROM T ORDER BY y DESC, x"),
            "SELECT X, Y FROM T ORDER BY 2 DESC, 1");
  // Not a select-list name, an expression, or an ORDER BY inside a subquery: unchanged.
  for (const char* same : {"SELECT X FROM T ORDER BY Z", "SELECT X FROM T ORDER BY X+1",
                           "SELECT X FROM (SELECT X FROM T ORDER BY X) S", "UPDATE T SET X=1"})
    EXPECT_EQ(sql::orderByOutputPositions(same), same);
}

TEST(ClientColumnName, UpperCaseUnlessQuoted) {
  const auto items = sql::selectItems("SELECT a \"MiXed\", b FROM t");
  EXPECT_EQ(sql::clientColumnName("MiXed", items), "MiXed");
  EXPECT_EQ(sql::clientColumnName("b", items), "B");
  EXPECT_EQ(sql::clientColumnName("spdm00", {}), "SPDM00");
}

TEST(Dates, CivilDaysAndTexts) {
  EXPECT_DOUBLE_EQ(dates::fromCivil(1899, 12, 30), 0);
  EXPECT_DOUBLE_EQ(dates::fromCivil(1970, 1, 1), 25569);
  EXPECT_DOUBLE_EQ(dates::fromCivil(2000, 3, 1) - dates::fromCivil(2000, 2, 28), 2);  // leap
  const double t = dates::fromCivil(2026, 12, 8) + (15 * 3600 + 30 * 60 + 5) / 86400.0;
  EXPECT_EQ(dates::formatTimestamp(t), "2026-12-08 15:30:05");
  EXPECT_EQ(dates::formatDate(t), "2026-12-08");
  EXPECT_DOUBLE_EQ(*dates::parseTimestamp("2026-12-08 15:30:05"), t);
  EXPECT_DOUBLE_EQ(*dates::parseTimestamp("2026-12-08T15:30:05.000"), t);
  EXPECT_DOUBLE_EQ(*dates::parseTimestamp("2026-12-08"), dates::fromCivil(2026, 12, 8));
  for (const char* bad : {"2026-02-29", "2026-13-01", "2026-12-08 24:00:00", "2026-12-8", "x", ""})
    EXPECT_FALSE(dates::parseTimestamp(bad)) << bad;
}

TEST(Dates, ToDateFollowsTheMask) {
  EXPECT_DOUBLE_EQ(dates::toDate("2026-12-08", "yyyy-mm-dd"), dates::fromCivil(2026, 12, 8));
  EXPECT_DOUBLE_EQ(dates::toDate("08/12/2026 10:30", "DD/MM/YYYY HH24:MI"),
                   dates::fromCivil(2026, 12, 8) + 10.5 / 24);
  EXPECT_THROW(dates::toDate("2026-02-30", "yyyy-mm-dd"), std::invalid_argument);
  EXPECT_THROW(dates::toDate("2026/12/08", "yyyy-mm-dd"), std::invalid_argument);
  EXPECT_THROW(dates::toDate("2026-12-08x", "yyyy-mm-dd"), std::invalid_argument);
  EXPECT_THROW(dates::toDate("12-08", "mm-dd"), std::invalid_argument);  // no year
}

TEST(DaemonOptions, ReadsTheCommandLine) {
  const auto o = parseDaemonOptions({"--db", "sqlite:/tmp/x.db"});
  EXPECT_EQ(o.action, DaemonOptions::Action::Serve);
  EXPECT_EQ(o.listen, "127.0.0.1:7311");
  EXPECT_EQ(parseDaemonOptions({"--db", "u", "--init-schema"}).action,
            DaemonOptions::Action::InitSchema);
  EXPECT_EQ(parseDaemonOptions({"--init-demo", "--db", "u"}).action,
            DaemonOptions::Action::InitDemo);
  EXPECT_EQ(parseDaemonOptions({"--help"}).action, DaemonOptions::Action::Help);
  const auto open =
      parseDaemonOptions({"--db", "u", "--listen", "0.0.0.0:9000", "--token-file", "/t"});
  EXPECT_EQ(open.listen, "0.0.0.0:9000");
  EXPECT_EQ(open.tokenFile, "/t");
  const auto limits = parseDaemonOptions({"--db", "u", "--lease", "5", "--max-objects", "3",
                                          "--max-message-mib", "1", "--max-result-mib", "2"});
  EXPECT_EQ(limits.leaseSeconds, 5);
  EXPECT_EQ(limits.maxObjectsPerClient, 3);
  EXPECT_EQ(limits.maxMessageMiB, 1);
  EXPECT_EQ(limits.maxResultMiB, 2);
  const auto logs = parseDaemonOptions(
      {"--db", "u", "--log-requests", "off", "--log-sql", "full", "--health-interval", "2"});
  EXPECT_FALSE(logs.logRequests);
  EXPECT_TRUE(logs.logStatementText);
  EXPECT_EQ(logs.healthIntervalSeconds, 2);
  EXPECT_TRUE(o.logRequests);
  EXPECT_FALSE(o.logStatementText);
  // Neither needs a database.
  EXPECT_EQ(parseDaemonOptions({"--version"}).action, DaemonOptions::Action::Version);
  const auto probe = parseDaemonOptions({"--probe", "appsrv1:7311"});
  EXPECT_EQ(probe.action, DaemonOptions::Action::Probe);
  EXPECT_EQ(probe.probeTarget, "appsrv1:7311");
}

TEST(DaemonOptions, RefusesUnsafeOrIncompleteCommandLines) {
  EXPECT_THROW(parseDaemonOptions({}), std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db"}), std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db", "u", "--bogus"}), std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db", "u", "--listen", "0.0.0.0:9000"}),
               std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db", "u", "--listen", "nohost"}), std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db", "u", "--tls-cert", "c"}), std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db", "u", "--init-schema", "--init-demo"}),
               std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db", "u", "--log-sql", "some"}), std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--db", "u", "--log-requests", "yes"}), std::invalid_argument);
  EXPECT_THROW(parseDaemonOptions({"--probe", "nohost"}), std::invalid_argument);
  for (const char* bad : {"0", "-1", "65537", "5s", "", "x"})
    EXPECT_THROW(parseDaemonOptions({"--db", "u", "--lease", bad}), std::invalid_argument) << bad;
  EXPECT_TRUE(isLoopbackAddress("127.0.0.1:1"));
  EXPECT_TRUE(isLoopbackAddress("[::1]:1"));
  EXPECT_TRUE(isLoopbackAddress("localhost:1"));
  EXPECT_FALSE(isLoopbackAddress("10.0.0.1:1"));
}

TEST(DaemonOptions, ReadsTheTokenFile) {
  qadj::testing::TempDir dir;
  const std::string path = dir.path() + "/token";
  std::ofstream(path) << "  s3cret \nsecond line\n";
  ::chmod(path.c_str(), 0600);
  EXPECT_EQ(readTokenFile(path), "s3cret");
  std::ofstream(path) << "\n";
  EXPECT_THROW(readTokenFile(path), std::runtime_error);
  EXPECT_THROW(readTokenFile(dir.path() + "/missing"), std::runtime_error);
  // Readable by everyone, or writable by the group: refused; the daemon's group may read.
  std::ofstream(path) << "s3cret\n";
  for (const auto mode : {0644, 0604, 0660}) {
    ::chmod(path.c_str(), static_cast<mode_t>(mode));
    EXPECT_THROW(readTokenFile(path), std::runtime_error) << std::oct << mode;
  }
  ::chmod(path.c_str(), 0640);
  EXPECT_EQ(readTokenFile(path), "s3cret");
}

}  // namespace
}  // namespace qadj::appserver
