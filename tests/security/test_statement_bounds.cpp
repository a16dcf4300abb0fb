// Every statement a client sends is bounded: stopped at the statement time limit, and
// as soon as nobody waits for it (its client went away, the daemon is stopping). An
// endless statement used to run on after its client was killed, holding SQLite's
// write lock so that every other save failed "busy", and SIGTERM did not stop the
// daemon.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>

#include "qadj/appserver/costore_product.h"
#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "qadj/testing/daemon_process.h"
#include "support/conditions.h"
#include "support/daemon.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

// A save that never ends on its own, in the window's statement shape: its new value
// waits for a result that never comes (SQLite: an endless recursion, holding the write
// lock; PostgreSQL: a sleep of an hour).
std::string endlessUpdate(const std::string& dialect) {
  const std::string never = dialect == "sqlite" ? "(WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL "
                                                  "SELECT I+1 FROM N) SELECT COUNT(*)*0 FROM N)"
                                                : "(SELECT 0 FROM pg_sleep(3600))";
  return "UPDATE XSTXLGL01 SET XL0000=XL0000+" + never + " WHERE DHAO00='D1' AND FXRY00='0013'";
}

const char* const kSave =
    "UPDATE XSTXLGL01 SET XL0000=XL0000+0 WHERE DHAO00='D1' AND FXRY00='0012' AND SPDM00='P001'";

class StatementBounds : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(clientDir.isValid());
    db = quotaDatabaseFor(GetParam());
    if (!db) return;
    com::CoInitialize();
  }
  void TearDown() override { com::CoUninitialize(); }
  bool sqlite() const { return std::string(GetParam()) == "sqlite"; }

  // The daemon on the test's database; returns the host clients name.
  std::string startDaemon(const std::string& statementTimeout) {
    std::vector<std::string> args{
        "--db", db->url(), "--listen", "127.0.0.1:0", "--statement-timeout", statementTimeout};
    allowTestSuperuser(args);
    daemon = std::make_unique<ListeningDaemon>(args);
    const int port = daemon->waitReady();
    return port > 0 ? "127.0.0.1:" + std::to_string(port) : std::string();
  }
  // A client process running endlessUpdate on host, once its call is under way.
  std::unique_ptr<ListeningDaemon> startEndlessClient(const std::string& host) {
    auto client = std::make_unique<ListeningDaemon>(
        std::vector<std::string>{host, endlessUpdate(GetParam())},
        std::vector<std::string>{"QADJ_CLIENT_DIR=" + clientDir.path().toStdString()},
        QADJ_REMOTE_CALL_EXE);
    EXPECT_TRUE(client->readUntil("calling")) << client->output();
    return client;
  }
  // True while the endless update runs in the database: SQLite's write lock is held,
  // or PostgreSQL shows the statement active.
  bool endlessRunning() {
    if (sqlite()) {
      auto probe = appserver::openSqlite(db->url().substr(7), 0);
      try {
        probe->begin();
        probe->rollback();
        return false;
      } catch (const appserver::DatabaseError&) {
        return true;
      }
    }
    const auto rs = db->db().query(
        "SELECT COUNT(*) FROM pg_stat_activity WHERE state = 'active' AND query LIKE "
        "'%pg_sleep(3600)%' AND pid <> pg_backend_pid()");
    return std::get<double>(rs.rows.at(0).at(0)) > 0;
  }
  // Runs kSave through its own object on host.
  com::HRESULT saveOn(const std::string& host) {
    com::HRESULT hr = com::S_OK;
    const auto server = createServerOn(host, &hr);
    if (!server) return hr;
    const auto out = executeOn(*server, text::utf8ToUtf16(kSave));
    EXPECT_EQ(out.description, "");
    return out.hr;
  }

  QTemporaryDir clientDir;
  std::unique_ptr<QuotaDatabase> db;
  std::unique_ptr<ListeningDaemon> daemon;
};

TEST_P(StatementBounds, AStatementPastTheLimitIsCancelledAndNothingChanges) {
  std::shared_ptr<com::IUnknown> itf;
  appserver::createCoStoreProduct(db->url(), appserver::kDefaultMaxResultBytes, 300)
      ->QueryInterface(com::IID_IDispatch, itf);
  auto server = com::interface_cast<com::IDispatch>(itf);
  ASSERT_TRUE(server);
  const std::string limit = "语句执行超过 300 毫秒，已被取消，未作任何修改；请缩小查询范围后重试";
  const double before = db->sum("D1", "P001");

  const auto start = std::chrono::steady_clock::now();
  const auto update = executeOn(*server, text::utf8ToUtf16(endlessUpdate(GetParam())));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(update.hr, com::DISP_E_EXCEPTION);
  EXPECT_EQ(update.description, limit);
  const auto fetch = fetchOn(*server, sqlite() ? u"WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL "
                                                 u"SELECT I+1 FROM N) SELECT COUNT(*) FROM N"
                                               : u"SELECT 1 FROM pg_sleep(3600)");
  EXPECT_EQ(fetch.description, limit);

  EXPECT_EQ(db->sum("D1", "P001"), before);
  EXPECT_FALSE(endlessRunning());
  // The session goes on: a quick statement is not cut.
  EXPECT_EQ(executeOn(*server, text::utf8ToUtf16(kSave)).hr, com::S_OK);
  EXPECT_EQ(fetchOn(*server, u"SELECT RYDM00 FROM GSTRYGL0").hr, com::S_OK);
}

TEST_P(StatementBounds, AStatementWhoseClientIsGoneIsCancelledAndSavesGoOn) {
  const std::string host = startDaemon("3600");
  ASSERT_FALSE(host.empty()) << daemon->output();
  ClientEnv env(clientDir.path().toStdString(), "", "");
  const double before = db->sum("D1", "P001");
  auto client = startEndlessClient(host);
  ASSERT_TRUE(waitUntil([&] { return endlessRunning(); })) << daemon->output();

  client.reset();  // SIGKILL: the connection closes with the call unanswered
  EXPECT_TRUE(waitUntil([&] { return !endlessRunning(); })) << "still running after its client";
  EXPECT_EQ(saveOn(host), com::S_OK);
  EXPECT_EQ(db->sum("D1", "P001"), before);
  EXPECT_EQ(daemon->stop(), 0) << daemon->output();
}

TEST_P(StatementBounds, SigtermStopsARunningStatementAndTheDaemon) {
  const std::string host = startDaemon("3600");
  ASSERT_FALSE(host.empty()) << daemon->output();
  ClientEnv env(clientDir.path().toStdString(), "", "");
  auto client = startEndlessClient(host);
  ASSERT_TRUE(waitUntil([&] { return endlessRunning(); })) << daemon->output();

  // Without the stop of running statements the daemon never exits (the test times out).
  EXPECT_EQ(daemon->stop(), 0) << daemon->output();
  EXPECT_EQ(daemon->countLines({"qadj-appserver: stopped"}), 1u) << daemon->output();
  EXPECT_FALSE(endlessRunning());
  EXPECT_EQ(client->finish(), 0);
  EXPECT_NE(client->output().find("hr=0x8"), std::string::npos) << client->output();
}

INSTANTIATE_TEST_SUITE_P(Dialects, StatementBounds, ::testing::Values("sqlite", "postgresql"));

}  // namespace
