// What a save does when another session holds what it needs: it waits within the busy
// bound and then fails with the documented description, changing nothing; it is run
// again when the database rolls it back as a deadlock victim or for a serialization
// failure; and it gives up after kConflictAttempts conflicts in a row.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "qadj/appserver/provider.h"
#include "qadj/protocol/statements.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/databases.h"
#include "support/operators.h"

namespace qadj::testing {
namespace {

using appserver::Database;

// A transfer of 2.5 from 0012 to 0011 of P001 (0011's line is updated first).
Transfer smallTransfer() {
  return Transfer{"P001", "0012", {{"0011", 2.5}}};
}

std::map<LineKey, double> plus(std::map<LineKey, double> lines,
                               const std::map<LineKey, double>& deltas) {
  for (const auto& [key, delta] : deltas) lines[key] += delta;
  return lines;
}

// Runs a save on its own thread with its own operator, as another operator's window.
std::future<std::optional<std::string>> saveInBackground(const std::string& address,
                                                         const Transfer& t) {
  return std::async(std::launch::async, [address, t]() -> std::optional<std::string> {
    const ComScope comScope;
    return Operator(address).execute(saveBlock(t));
  });
}

// --- SQLite -----------------------------------------------------------------------

TEST(SqliteBusy, SaveWaitingBeyondTheBoundFailsClearlyAndChangesNothing) {
  const ComScope comScope;
  TempDir dir;
  const std::string path = dir.path() + "/busy.sqlite";
  auto holder = appserver::openSqlite(path);
  seedQuotaLines(*holder);
  const auto before = quotaLines(*holder);

  // Another session holds the write lock with a change not yet committed.
  holder->begin(Database::TxMode::Write);
  holder->execute("UPDATE XSTXLGL01 SET XL0000=XL0000+100 WHERE FXRY00='0013'");

  ObjectServer server([path] { return appserver::openSqlite(path, 100); });
  Operator op(server.address());
  const Transfer t = smallTransfer();
  EXPECT_EQ(op.execute(saveBlock(t)),
            std::optional<std::string>(
                "The database is busy: another session has held its write lock for more than "
                "100 ms; nothing was changed, please try again"));
  // Reads are not held up by the writer and see only committed values.
  const auto p = op.fetch(statements::detailQuery("2026-12-08", "01", "0012", "P001"));
  ASSERT_FALSE(p.rows.empty());
  for (const auto& row : p.rows) EXPECT_EQ(row.at(4), packet::Value(kFirstQuota));

  holder->rollback();
  EXPECT_EQ(quotaLines(*holder), before);
  // Once the lock is free the same object saves: the failure left its session usable.
  EXPECT_EQ(op.execute(saveBlock(t)), std::nullopt);
  EXPECT_EQ(quotaLines(*holder), plus(before, t.deltas()));
}

TEST(SqliteBusy, TheBoundIsTheDocumentedOne) {
  EXPECT_EQ(appserver::kSqliteBusyTimeoutMs, 5000);
  EXPECT_EQ(appserver::busyMessage(appserver::kBusyTimeoutMs),
            "The database is busy: another session has held its write lock for more than 5 s; "
            "nothing was changed, please try again");
}

// --- PostgreSQL -------------------------------------------------------------------

class PostgresLocks : public ::testing::Test {
 protected:
  void SetUp() override {
    url_ = freshDatabaseFor("postgresql", dir_);
    if (url_.empty()) return;
    db_ = appserver::openDatabase(url_);
    seedQuotaLines(*db_);
    before_ = quotaLines(*db_);
    server_ = std::make_unique<ObjectServer>([url = url_] { return appserver::openDatabase(url); });
  }

  // Waits (deadline one minute) until `sessions` sessions of the database wait for a
  // lock.
  bool someoneWaitsForALock(int sessions = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto rs = db_->query(
          "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND datname = "
          "current_database()");
      if (std::get<double>(rs.rows[0][0]) >= sessions) return true;
      std::this_thread::yield();
    }
    return false;
  }

  std::string databaseName() const { return url_.substr(url_.rfind('/') + 1); }

  const ComScope comScope_;
  TempDir dir_;
  std::string url_;
  std::unique_ptr<Database> db_;
  std::map<LineKey, double> before_;
  std::unique_ptr<ObjectServer> server_;
};

TEST_F(PostgresLocks, DeadlockVictimBlockIsRunAgainAndSaved) {
  // Another program's transaction: holds 0012/P001, then wants 0011/P001, which the
  // save (updating 0011 first, then 0012) holds by then. Its deadlock check is put off,
  // so that the save's session is the one PostgreSQL rolls back.
  auto other = appserver::openDatabase(url_);
  other->executeScript("SET deadlock_timeout = '60s'; BEGIN");
  other->execute("UPDATE XSTXLGL01 SET XL0000=XL0000+7 WHERE FXRY00='0012' AND SPDM00='P001'");
  const auto retriesBefore = appserver::conflictRetries();
  const Transfer t = smallTransfer();
  auto save = saveInBackground(server_->address(), t);
  ASSERT_TRUE(someoneWaitsForALock());
  other->execute("UPDATE XSTXLGL01 SET XL0000=XL0000+3 WHERE FXRY00='0011' AND SPDM00='P001'");
  other->executeScript("COMMIT");

  EXPECT_EQ(save.get(), std::nullopt);
  EXPECT_GE(appserver::conflictRetries() - retriesBefore, 1u);
  auto expected = plus(before_, t.deltas());
  expected[{"0012", "P001"}] += 7;
  expected[{"0011", "P001"}] += 3;
  EXPECT_EQ(quotaLines(*db_), expected);
}

TEST_F(PostgresLocks, SerializationFailureIsRunAgainAndSaved) {
  db_->executeScript("ALTER DATABASE " + databaseName() +
                     " SET default_transaction_isolation = 'repeatable read'");
  // A save whose snapshot is older than another session's committed change of a line
  // it updates fails with 40001 at that statement.
  auto other = appserver::openDatabase(url_);
  other->executeScript("BEGIN");
  other->execute("UPDATE XSTXLGL01 SET XL0000=XL0000+7 WHERE FXRY00='0012' AND SPDM00='P001'");
  const auto retriesBefore = appserver::conflictRetries();
  const Transfer t = smallTransfer();
  auto save = saveInBackground(server_->address(), t);
  ASSERT_TRUE(someoneWaitsForALock());
  other->executeScript("COMMIT");

  EXPECT_EQ(save.get(), std::nullopt);
  EXPECT_GE(appserver::conflictRetries() - retriesBefore, 1u);
  auto expected = plus(before_, t.deltas());
  expected[{"0012", "P001"}] += 7;
  EXPECT_EQ(quotaLines(*db_), expected);
}

TEST_F(PostgresLocks, SaveWaitingBeyondTheBoundFailsClearlyAndChangesNothing) {
  const std::string busy =
      "The database is busy: another session has held its write lock for more than 5 s; "
      "nothing was changed, please try again";
  Operator op(server_->address());
  const Transfer t = smallTransfer();
  // Another server's save holds a line the save updates second: the save waits for it
  // before its first update (it locks its lines first), and changes nothing.
  auto other = appserver::openDatabase(url_);
  other->begin(Database::TxMode::Write);
  other->execute("UPDATE XSTXLGL01 SET XL0000=XL0000+100 WHERE FXRY00='0012'");
  EXPECT_EQ(op.execute(saveBlock(t)), std::optional<std::string>(busy));
  other->rollback();
  EXPECT_EQ(quotaLines(*db_), before_);

  // Another program's or server's work on other lines holds up nothing: there is no
  // lock of the whole database.
  other->begin(Database::TxMode::Write);
  other->execute("UPDATE XSTXLGL01 SET XL0000=XL0000+100 WHERE FXRY00='0013'");
  EXPECT_EQ(op.execute(saveBlock(t)), std::nullopt);
  other->rollback();
  EXPECT_EQ(quotaLines(*db_), plus(before_, t.deltas()));
}

TEST_F(PostgresLocks, SavesOfTheSameLinesInOppositeOrdersWaitForEachOtherWithoutADeadlock) {
  // 0012 gives to 0011 (0011's line updated first) while 0011 gives to 0012 (0012's
  // first). Another program holds both lines until both saves wait, so that both start
  // at the same moment: updating in their own orders they would each hold one line and
  // wait for the other's.
  auto other = appserver::openDatabase(url_);
  other->executeScript("BEGIN");
  other->query(
      "SELECT XL0000 FROM XSTXLGL01 WHERE SPDM00='P001' AND FXRY00 IN ('0011','0012') "
      "FOR UPDATE");
  const auto retriesBefore = appserver::conflictRetries();
  const Transfer first = smallTransfer();
  const Transfer second{"P001", "0011", {{"0012", 1.5}}};
  auto one = saveInBackground(server_->address(), first);
  ASSERT_TRUE(someoneWaitsForALock(1));
  auto two = saveInBackground(server_->address(), second);
  ASSERT_TRUE(someoneWaitsForALock(2));
  other->executeScript("COMMIT");

  EXPECT_EQ(one.get(), std::nullopt);
  EXPECT_EQ(two.get(), std::nullopt);
  EXPECT_EQ(appserver::conflictRetries() - retriesBefore, 0u) << "a deadlock was run again";
  EXPECT_EQ(quotaLines(*db_), plus(plus(before_, first.deltas()), second.deltas()));
}

// --- The retry bound, on a database that always answers with a conflict -----------

class ConflictingDatabase final : public Database {
 public:
  explicit ConflictingDatabase(int conflicts) : conflictsLeft_(conflicts) {}
  std::string dialect() const override { return "postgresql"; }
  appserver::ResultSet query(std::string_view, const std::vector<appserver::Cell>&) override {
    return {};
  }
  // The block's updates conflict; the lock of its lines (a statement too) does not.
  std::int64_t execute(std::string_view sql, const std::vector<appserver::Cell>&) override {
    if (conflictsLeft_ > 0 && sql.starts_with("UPDATE")) {
      --conflictsLeft_;
      throw appserver::TransactionConflict("deadlock detected");
    }
    return 1;
  }
  void executeScript(std::string_view) override {}
  void begin(TxMode) override { ++begun; }
  void commit() override { ++committed; }
  void rollback() noexcept override { ++rolledBack; }

  int begun = 0, committed = 0, rolledBack = 0;

 private:
  int conflictsLeft_;
};

TEST(ConflictRetry, ABlockIsRunAgainUntilItGoesThrough) {
  ConflictingDatabase db(2);
  const auto retriesBefore = appserver::conflictRetries();
  EXPECT_EQ(appserver::executeCommand(db, saveBlock(smallTransfer())), 2);
  EXPECT_EQ(db.begun, 3);
  EXPECT_EQ(db.rolledBack, 2);
  EXPECT_EQ(db.committed, 1);
  EXPECT_EQ(appserver::conflictRetries() - retriesBefore, 2u);
}

TEST(ConflictRetry, GivesUpAfterTheBoundWithAClearDescription) {
  ConflictingDatabase db(1000);
  try {
    appserver::executeCommand(db, saveBlock(smallTransfer()));
    FAIL() << "a block that always conflicts was reported done";
  } catch (const appserver::TransactionConflict&) {
    FAIL() << "the last conflict must leave as a plain failure";
  } catch (const appserver::DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()),
              "statement 1 of the block: deadlock detected; the work met other sessions' "
              "changes " +
                  std::to_string(appserver::kConflictAttempts) +
                  " times in a row, nothing was changed, please try again");
  }
  EXPECT_EQ(db.begun, appserver::kConflictAttempts);
  EXPECT_EQ(db.rolledBack, appserver::kConflictAttempts);
  EXPECT_EQ(db.committed, 0);
}

TEST(ConflictRetry, OtherFailuresAreNotRunAgain) {
  // A statement that changes no row is the block's own fault: one attempt.
  class NoRow final : public Database {
   public:
    std::string dialect() const override { return "postgresql"; }
    appserver::ResultSet query(std::string_view, const std::vector<appserver::Cell>&) override {
      return {};
    }
    std::int64_t execute(std::string_view, const std::vector<appserver::Cell>&) override {
      return 0;
    }
    void executeScript(std::string_view) override {}
    void begin(TxMode) override { ++begun; }
    void commit() override {}
    void rollback() noexcept override {}
    int begun = 0;
  } noRow;
  EXPECT_THROW(appserver::executeCommand(noRow, saveBlock(smallTransfer())),
               appserver::DatabaseError);
  EXPECT_EQ(noRow.begun, 1);
}

}  // namespace
}  // namespace qadj::testing
