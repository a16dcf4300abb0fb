// Every statement the server runs is bounded: stopped at the statement time limit, and
// as soon as nobody waits for it (its client went away, the daemon is stopping). No
// client's text reaches the database any more, so an endless statement can only be
// the server's own (a query over a huge table); the bound is shown on such a statement
// run by a session directly. It used to run on after its client was gone, holding
// SQLite's write lock so that every other save failed "busy".
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "qadj/appserver/database.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/wait_until.h"
#include "support/quota_db.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

// An update that never ends on its own: its new value waits for a result that never
// comes (SQLite: an endless recursion, holding the write lock; PostgreSQL: a sleep of an
// hour).
std::string endlessUpdate(const std::string& dialect) {
  const std::string never = dialect == "sqlite" ? "(WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL "
                                                  "SELECT I+1 FROM N) SELECT COUNT(*)*0 FROM N)"
                                                : "(SELECT 0 FROM pg_sleep(3600))";
  return "UPDATE XSTXLGL01 SET XL0000=XL0000+" + never + " WHERE DHAO00='D1' AND FXRY00='0013'";
}

class StatementBounds : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { db = quotaDatabaseFor(GetParam()); }
  bool sqlite() const { return std::string(GetParam()) == "sqlite"; }

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
    return numberOf(db->db(),
                    "SELECT COUNT(*) FROM pg_stat_activity WHERE state = 'active' AND query LIKE "
                    "'%pg_sleep(3600)%' AND pid <> pg_backend_pid()") > 0;
  }
  // A save through a session of its own, as another operator's.
  void saveElsewhere() {
    auto other = appserver::openDatabase(db->url());
    EXPECT_NO_THROW(other->execute("UPDATE XSTXLGL01 SET XL0000 = XL0000 WHERE DHAO00 = 'D1'"));
  }

  std::unique_ptr<QuotaDatabase> db;
};

TEST_P(StatementBounds, AStatementPastTheLimitIsCancelledAndNothingChanges) {
  if (!db) return;
  auto session = appserver::openDatabase(db->url());
  session->setStatementBounds(300, nullptr);
  const double before = db->sum("D1", "P001");
  const auto start = std::chrono::steady_clock::now();
  try {
    session->execute(endlessUpdate(GetParam()));
    ADD_FAILURE() << "an endless statement ended";
  } catch (const appserver::StatementCancelled& e) {
    EXPECT_STREQ(e.what(), "语句执行超过 300 毫秒，已被取消，未作任何修改；请缩小查询范围后重试");
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(db->sum("D1", "P001"), before);
  EXPECT_FALSE(endlessRunning());
  // The session goes on: a quick statement is not cut.
  EXPECT_EQ(session->query("SELECT 1").rows.size(), 1u);
  saveElsewhere();
}

TEST_P(StatementBounds, AStatementNobodyWaitsForIsCancelledAndSavesGoOn) {
  if (!db) return;
  auto session = appserver::openDatabase(db->url());
  std::atomic<bool> abandoned{false};
  session->setStatementBounds(3'600'000, [&] { return abandoned.load(); });
  std::thread giveUp([&] {
    // The client goes away once the statement is under way.
    EXPECT_TRUE(waitUntil([&] { return endlessRunning(); }));
    abandoned = true;
  });
  try {
    session->execute(endlessUpdate(GetParam()));
    ADD_FAILURE() << "an endless statement ended";
  } catch (const appserver::StatementCancelled& e) {
    EXPECT_NE(std::string(e.what()).find("客户端已断开或不再等待"), std::string::npos) << e.what();
  }
  giveUp.join();
  EXPECT_FALSE(endlessRunning());
  saveElsewhere();
}

INSTANTIATE_TEST_SUITE_P(Dialects, StatementBounds, ::testing::Values("sqlite", "postgresql"));

}  // namespace
