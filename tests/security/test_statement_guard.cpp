// What a client's SQL text may touch through the server object: what the window does
// (read; update quota lines), nothing more. Each statement here is one a hostile client
// sent and the server ran before the guard.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QTemporaryDir>

#include <filesystem>

#include "qadj/appserver/costore_product.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "support/daemon.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

// A save of 1 from 0012 to 0013 of P001, as the window's block.
const std::string kSave =
    "BEGIN UPDATE XSTXLGL01 SET XL0000=XL0000+1 where DHAO00='D1' AND FXRY00='0013' AND "
    "SPDM00='P001'; UPDATE XSTXLGL01 SET XL0000=XL0000-1 WHERE DHAO00='D1' AND FXRY00='0012' "
    "AND SPDM00='P001'; END;";

class StatementGuard : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    db = quotaDatabaseFor(GetParam());
    if (!db) return;
    server = com::interface_cast<com::IDispatch>(appserver::createCoStoreProduct(db->url()));
    ASSERT_TRUE(server);
  }
  bool sqlite() const { return std::string(GetParam()) == "sqlite"; }
  std::string path(const char* name) const { return dir.filePath(name).toStdString(); }
  // Runs sql with ExecuteCommand; returns its error text, empty when it succeeded.
  std::string refusalOf(const std::string& sql) {
    const auto out = executeOn(*server, text::utf8ToUtf16(sql));
    return com::failed(out.hr) ? out.description : std::string();
  }
  double lines() {
    return std::get<double>(db->db().query("SELECT COUNT(*) FROM XSTXLGL01").rows.at(0).at(0));
  }

  QTemporaryDir dir;
  std::unique_ptr<QuotaDatabase> db;
  std::shared_ptr<com::IDispatch> server;
};

TEST_P(StatementGuard, NoTextCopiesTheDatabaseOrWritesAnotherFile) {
  EXPECT_NE(refusalOf("VACUUM INTO '" + path("copy.db") + "'"), "");
  EXPECT_NE(refusalOf("VACUUM"), "");
  if (sqlite()) {
    const std::string why = refusalOf("ATTACH DATABASE '" + path("x.db") + "' AS x");
    EXPECT_NE(why.find("ATTACH"), std::string::npos) << why;
  }
  EXPECT_FALSE(std::filesystem::exists(path("copy.db")));
  EXPECT_FALSE(std::filesystem::exists(path("x.db")));
}

TEST_P(StatementGuard, AFetchNeverChangesData) {
  const double before = lines();
  const auto out = fetchOn(*server, u"WITH x AS (SELECT 1) DELETE FROM XSTXLGL01 RETURNING DHAO00");
  EXPECT_TRUE(com::failed(out.hr)) << out.rows << " rows deleted through a fetch";
  EXPECT_EQ(lines(), before);
  // The same object goes on reading.
  EXPECT_EQ(fetchOn(*server, u"SELECT COUNT(*) FROM XSTXLGL01").rows, 1u);
}

TEST_P(StatementGuard, SchemaAndOtherTablesAreOutOfReach) {
  if (!sqlite()) GTEST_SKIP() << "on PostgreSQL the role's privileges decide (docs)";
  for (const std::string sql :
       {"CREATE TABLE T1 (X INTEGER)", "DROP TABLE GSTJYGL1", "ALTER TABLE GSTJYGL1 ADD COLUMN X",
        "CREATE TEMP TABLE T2 (X INTEGER)", "INSERT INTO GSTRYGL0 VALUES ('9999','X','01','Y')",
        "DELETE FROM XSTXLGL01", "PRAGMA user_version = 7", "PRAGMA journal_mode = DELETE",
        "UPDATE QADJ_TRANSFER_JOURNAL SET TOTAL = 0", "DELETE FROM QADJ_SAVE_ID", "REINDEX"}) {
    const std::string why = refusalOf(sql);
    EXPECT_NE(why.find("refused"), std::string::npos) << sql << ": " << why;
  }
  EXPECT_EQ(db->db().query("SELECT 1 FROM GSTRYGL0 WHERE RYDM00 = '9999'").rows.size(), 0u);
  EXPECT_EQ(db->db().query("SELECT COUNT(*) FROM GSTJYGL1").rows.size(), 1u);
  // What the window does still works.
  EXPECT_EQ(refusalOf("UPDATE XSTXLGL01 SET XL0000=XL0000+1 WHERE DHAO00='D1' AND FXRY00='0013' "
                      "AND SPDM00='P001'"),
            "");
  EXPECT_EQ(db->quota("D1", "0013", "P001"), 6);
}

INSTANTIATE_TEST_SUITE_P(Dialects, StatementGuard, ::testing::Values("sqlite", "postgresql"));

// A command only updates rows; the daemon updates only the quota column unless it is
// started with --allow-any-update.
TEST(DaemonUpdates, OnlyTheQuotaColumnUnlessAnyUpdateIsAllowed) {
  QuotaDatabase db("sqlite");
  QTemporaryDir clientDir;
  ClientEnv env(clientDir.path().toStdString(), "", "");
  com::CoInitialize();
  const auto refusal = [](ListeningDaemon& daemon, const std::string& sql) {
    const auto server = createServerOn("127.0.0.1:" + std::to_string(daemon.waitReady()));
    if (!server) return std::string("no server object");
    const auto out = executeOn(*server, text::utf8ToUtf16(sql));
    return com::failed(out.hr) ? out.description : std::string();
  };
  const std::string name = "UPDATE GSTJYGL1 SET SPMC00='x' WHERE SPDM00='P001'";
  const std::string twoColumns =
      "UPDATE XSTXLGL01 SET XL0000=XL0000, FXRY00='0099' WHERE DHAO00='D1' AND FXRY00='0013'";
  const double before = db.quota("D1", "0013", "P001");
  {
    ListeningDaemon daemon({"--db", db.url(), "--listen", "127.0.0.1:0"});
    EXPECT_NE(refusal(daemon, name).find("only the quota column"), std::string::npos);
    EXPECT_NE(refusal(daemon, twoColumns).find("only the quota column"), std::string::npos);
    EXPECT_NE(refusal(daemon, "DELETE FROM QADJ_SAVE_ID").find("not an UPDATE"), std::string::npos);
    EXPECT_EQ(refusal(daemon, kSave), "");
    EXPECT_EQ(daemon.stop(), 0);
  }
  // The line stayed 0013's (it was not moved to another person) and took the save.
  EXPECT_EQ(db.quota("D1", "0013", "P001"), before + 1);
  {
    ListeningDaemon daemon({"--db", db.url(), "--listen", "127.0.0.1:0", "--allow-any-update"});
    EXPECT_EQ(refusal(daemon, name), "");
    EXPECT_NE(
        refusal(daemon, "INSERT INTO QADJ_SAVE_ID VALUES ('x','y','z')").find("not an UPDATE"),
        std::string::npos);
    EXPECT_EQ(daemon.stop(), 0);
  }
  com::CoUninitialize();
}

// On PostgreSQL the role decides what client text may do: the daemon will not serve
// through a superuser (whose text could run programs and read files on the database
// server), and serves through a role with only the window's grants.
TEST(DaemonRole, ASuperuserIsRefusedAtStartAndTheWindowsRoleServes) {
  auto db = quotaDatabaseFor("postgresql");
  if (!db) return;
  ListeningDaemon refused({"--db", db->url(), "--listen", "127.0.0.1:0"});
  EXPECT_EQ(refused.finish(), 1);
  EXPECT_NE(refused.output().find("the database role is a superuser"), std::string::npos)
      << refused.output();

  const std::string role = "qadj_window_" + std::to_string(::getpid());
  const std::string dbName = db->url().substr(db->url().rfind('/') + 1);
  db->db().executeScript("DROP ROLE IF EXISTS " + role + "; CREATE ROLE " + role +
                         " LOGIN; "
                         "GRANT CONNECT, TEMPORARY ON DATABASE " +
                         dbName + " TO " + role + "; GRANT USAGE ON SCHEMA public TO " + role +
                         "; GRANT SELECT ON GSTRYGL0, GSTJYGL1, XSTXLGL1, XSTXLGL01, XSTFXDD0 TO " +
                         role + "; GRANT UPDATE (XL0000) ON XSTXLGL01 TO " + role +
                         "; GRANT SELECT, INSERT, DELETE ON QADJ_SAVE_ID TO " + role +
                         "; GRANT SELECT, INSERT ON QADJ_TRANSFER_JOURNAL TO " + role);
  std::string url = db->url();
  url.replace(url.find("postgres@"), 8, role);
  {
    ListeningDaemon served({"--db", url, "--listen", "127.0.0.1:0"});
    const int port = served.waitReady();
    ASSERT_GT(port, 0) << served.output();
    QTemporaryDir clientDir;
    ClientEnv env(clientDir.path().toStdString(), "", "");
    com::CoInitialize();
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const auto persons =
        createAndFetch(host, u"SELECT RYDM00 FROM GSTRYGL0 WHERE CKDM00='01' AND FXY000='Y'");
    EXPECT_EQ(persons.rows, 4u) << persons.description;
    // A save locks its lines (SELECT ... FOR UPDATE) with the grants above.
    if (const auto server = createServerOn(host)) {
      const auto saved = executeOn(*server, text::utf8ToUtf16(kSave));
      EXPECT_EQ(saved.hr, com::S_OK) << saved.description;
    } else {
      ADD_FAILURE() << "no server object";
    }
    const auto file = createAndFetch(host, u"SELECT pg_read_file('/etc/hostname')");
    EXPECT_TRUE(com::failed(file.hr)) << "a client read a file of the database server";
    com::CoUninitialize();
    EXPECT_EQ(served.stop(), 0) << served.output();
  }
  db->db().executeScript("DROP OWNED BY " + role + "; DROP ROLE " + role);
}

}  // namespace
