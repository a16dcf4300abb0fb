// PostgreSQL going away under the daemon: calls fail with a description naming the
// lost connection (no hang, no crash, no success), a save in flight is undone whole,
// and once the database is back the daemon serves again: new objects work, and an
// existing object opens a new session but refuses to read working rows it lost.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <future>

#include "qadj/appserver/dates.h"
#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/packet.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/connection.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/postgres_server.h"
#include "qadj/testing/wait_until.h"
#include "support/quota_ring.h"

namespace qadj::testing {
namespace {

using namespace ring;

constexpr const char* kClass = "{15F46FC4-4736-4AAF-9087-8A67C59E42F4}";

// One window's server object in the daemon: m_qadj through the connection's
// late-bound call, queries and saves through IAppServer.
struct Client {
  explicit Client(const std::string& host) {
    dcom.SetServerGUID(kClass);
    dcom.SetComputerName(host);
    app = dcom.GetRecordSetInterface();
  }
  // Outcome of one call: S_OK or the failure code, with the description.
  struct Outcome {
    com::HRESULT hr = com::S_OK;
    std::string text;
    std::size_t rows = 0;
  };
  Outcome fetch(const std::string& sql) {
    com::Variant params, ownerData, result;
    std::int32_t recs = 0;
    Outcome o;
    o.hr = app->FetchRecords(u"PUBLIC_DSP", -1, recs, 0, text::utf8ToUtf16(sql), params, ownerData,
                             result);
    if (com::failed(o.hr)) {
      o.text = lastError();
    } else {
      o.rows = packet::decode(result.asBytes()).rows.size();
    }
    return o;
  }
  Outcome save(const std::string& block) {
    com::Variant params, ownerData;
    Outcome o;
    o.hr = app->ExecuteCommand(u"PUBLIC_DSP", text::utf8ToUtf16(block), params, ownerData);
    if (com::failed(o.hr)) o.text = lastError();
    return o;
  }
  Outcome prepare(const std::string& code) {
    Outcome o;
    std::string c = code;
    try {
      dcom.CallMethod("m_qadj", {DispatchArg::textRef(c), DispatchArg::date(dayOfQuota())});
    } catch (const std::exception& e) {
      o.hr = com::E_FAIL;
      o.text = text::gbkToUtf8Lossy(e.what());
    }
    return o;
  }
  static double dayOfQuota() { return *appserver::dates::parseTimestamp(kDate); }
  static std::string lastError() {
    com::ExcepInfo info;
    return com::GetErrorInfo(info) ? text::utf16ToUtf8(info.description) : "";
  }

  TDCOMConnection dcom;
  std::shared_ptr<IAppServer> app;
};

bool alive(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == 0;
}

class DatabaseLoss : public ::testing::Test {
 protected:
  void SetUp() override {
    url = freshDatabaseFor("postgresql", dir);
    if (url.empty()) return;
    auto db = appserver::openDatabase(url);
    seed(*db);
    daemon = std::make_unique<DaemonProcess>(std::vector<std::string>{"--db", url}, dir.path());
    ASSERT_TRUE(daemon->start()) << daemon->error();
  }
  void TearDown() override {
    if (url.empty()) return;
    // The shared server must run for the next case whatever happened here.
    PostgresServer::instance().start();
    daemon.reset();
  }

  const ComScope comScope_;
  TempDir dir;
  std::string url;
  std::unique_ptr<DaemonProcess> daemon;
};

constexpr const char* kLost = "connection to the database was lost";

TEST_F(DatabaseLoss, CallsFailClearlyAndTheDaemonServesAgainOnceItIsBack) {
  auto& pg = PostgresServer::instance();
  Client window(daemon->host());
  ASSERT_EQ(window.prepare("0101").hr, com::S_OK);
  const auto products = window.fetch(statements::productQuery());
  ASSERT_EQ(products.hr, com::S_OK) << products.text;
  ASSERT_EQ(products.rows, 1u);

  ASSERT_TRUE(pg.stop());
  // Each call comes back, failing, with the lost connection named; bounded so that a
  // hang fails the case instead of the whole run.
  auto query = std::async(std::launch::async, [&] {
    const ComScope scope;
    return window.fetch(statements::productQuery());
  });
  ASSERT_EQ(query.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "hangs";
  const auto lostQuery = query.get();
  EXPECT_TRUE(com::failed(lostQuery.hr));
  EXPECT_NE(lostQuery.text.find(kLost), std::string::npos) << lostQuery.text;
  const auto lostSave = window.save(saveBlock(0));
  EXPECT_TRUE(com::failed(lostSave.hr));
  EXPECT_NE(lostSave.text.find(kLost), std::string::npos) << lostSave.text;
  EXPECT_NE(lostSave.text.find("cannot be opened again"), std::string::npos) << lostSave.text;
  // A window opened meanwhile gets its object, and its first request says why it fails.
  Client late(daemon->host());
  const auto lateQuery = late.fetch(statements::salespersonList("01"));
  EXPECT_TRUE(com::failed(lateQuery.hr));
  EXPECT_NE(lateQuery.text.find("cannot connect to PostgreSQL"), std::string::npos)
      << lateQuery.text;
  EXPECT_TRUE(alive(daemon->pid())) << daemon->log();

  ASSERT_TRUE(pg.start()) << pg.error();
  // The existing object has a new session, but the working rows of the old one are
  // gone: reading them is refused until the salesperson is chosen again.
  const auto stale = window.fetch(statements::productQuery());
  EXPECT_TRUE(com::failed(stale.hr));
  EXPECT_NE(stale.text.find("choose the salesperson again"), std::string::npos) << stale.text;
  const auto detail = window.fetch(statements::salespersonList("01"));
  EXPECT_EQ(detail.hr, com::S_OK) << detail.text;
  EXPECT_EQ(detail.rows, static_cast<std::size_t>(kPersons));
  ASSERT_EQ(window.prepare("0101").hr, com::S_OK);
  const auto again = window.fetch(statements::productQuery());
  EXPECT_EQ(again.hr, com::S_OK) << again.text;
  EXPECT_EQ(again.rows, 1u);
  EXPECT_EQ(window.save(saveBlock(0)).hr, com::S_OK);
  // The window opened while the database was away works now, and so does a new one.
  EXPECT_EQ(late.fetch(statements::salespersonList("01")).hr, com::S_OK);
  Client fresh(daemon->host());
  ASSERT_EQ(fresh.prepare("0102").hr, com::S_OK);
  EXPECT_EQ(fresh.fetch(statements::productQuery()).rows, 1u);
  EXPECT_EQ(fresh.save(saveBlock(1)).hr, com::S_OK);

  auto check = appserver::openDatabase(url);
  EXPECT_EQ(lines(*check), expectedAfter(2));
  EXPECT_EQ(allQuota(*check), kPersons * kStartQuota);
  EXPECT_EQ(daemon->terminate(), 0);
}

// Holds the giver's line of transfer `i` in a transaction of its own, so that the
// window's save of that transfer runs its increments and then waits at its decrement,
// inside its transaction; returns once the save waits there.
class HeldGiverLine {
 public:
  HeldGiverLine(const std::string& url, int i) : holder_(appserver::openDatabase(url)) {
    holder_->begin();
    const Transfer t = transfer(i);
    held_ = holder_->execute("UPDATE XSTXLGL01 SET XL0000=XL0000 WHERE DHAO00='D1' AND FXRY00=$1",
                             {std::string(kCodes[t.giver])}) == 1;
    watch_ = appserver::openDatabase(url);
  }
  bool held() const { return held_; }
  // The backend of the save waiting for the held line, once there is one (0: none came).
  double waitingBackend() {
    double pid = 0;
    waitUntil([&] {
      const auto rs = watch_->query(
          "SELECT pid FROM pg_stat_activity WHERE datname = current_database() AND "
          "wait_event_type = 'Lock'");
      if (rs.rows.size() != 1) return false;
      pid = std::get<double>(rs.rows[0][0]);
      return true;
    });
    return pid;
  }
  void terminate(double pid) { watch_->query("SELECT pg_terminate_backend($1::integer)", {pid}); }
  void release() {
    holder_.reset();
    watch_.reset();
  }

 private:
  std::unique_ptr<appserver::Database> holder_, watch_;
  bool held_ = false;
};

// What a save promises whatever happens to the database under it: reported failed,
// none of it is applied; reported done, all of it is; the total never changes.
// Returns the number of transfers in the database afterwards.
int checkWholeOrAbsent(appserver::Database& db, int before, const Client::Outcome& outcome) {
  const auto now = lines(db);
  EXPECT_EQ(allQuota(db), kPersons * kStartQuota);
  if (com::failed(outcome.hr)) {
    EXPECT_NE(outcome.text.find(kLost), std::string::npos) << outcome.text;
    EXPECT_EQ(now, expectedAfter(before)) << "a failed save left lines: " << describe(now);
    return before;
  }
  EXPECT_EQ(now, expectedAfter(before + 1)) << "a done save is not whole: " << describe(now);
  return before + 1;
}

// Saves transfer 0, then holds the giver's line of transfer 1 (in `held`) and sends
// transfer 1 on its own thread: the save runs its increments and waits there.
std::future<Client::Outcome> secondSaveWaitingAt(Client& window,
                                                 std::unique_ptr<HeldGiverLine>& held,
                                                 const std::string& url) {
  EXPECT_EQ(window.save(saveBlock(0)).hr, com::S_OK);
  held = std::make_unique<HeldGiverLine>(url, 1);
  EXPECT_TRUE(held->held());
  return std::async(std::launch::async, [&window] {
    const ComScope scope;
    return window.save(saveBlock(1));
  });
}

TEST_F(DatabaseLoss, ASaveWhoseSessionEndsInFlightLeavesNoLine) {
  Client window(daemon->host());
  std::unique_ptr<HeldGiverLine> held;
  auto inFlight = secondSaveWaitingAt(window, held, url);
  const double backend = held->waitingBackend();
  ASSERT_NE(backend, 0) << "the save never reached the held line";
  // The save's own session ends while it waits: it cannot have committed.
  held->terminate(backend);
  ASSERT_EQ(inFlight.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "hangs";
  const auto outcome = inFlight.get();
  EXPECT_TRUE(com::failed(outcome.hr));
  held->release();

  auto check = appserver::openDatabase(url);
  EXPECT_EQ(checkWholeOrAbsent(*check, 1, outcome), 1);
  // The same save, sent again, goes through on the object's new session.
  EXPECT_EQ(window.save(saveBlock(1)).hr, com::S_OK);
  EXPECT_EQ(lines(*check), expectedAfter(2));
  EXPECT_TRUE(alive(daemon->pid()));
}

TEST_F(DatabaseLoss, ASaveInFlightWhenTheDatabaseStopsIsWholeOrAbsent) {
  auto& pg = PostgresServer::instance();
  Client window(daemon->host());
  std::unique_ptr<HeldGiverLine> held;
  auto inFlight = secondSaveWaitingAt(window, held, url);
  ASSERT_NE(held->waitingBackend(), 0) << "the save never reached the held line";
  // Stopping ends the holding session, which frees the line: the waiting save may
  // commit before its own session is ended, or be ended first. Either is sound.
  ASSERT_TRUE(pg.stop());
  ASSERT_EQ(inFlight.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "hangs";
  const auto outcome = inFlight.get();
  held->release();

  ASSERT_TRUE(pg.start()) << pg.error();
  auto check = appserver::openDatabase(url);
  const int saved = checkWholeOrAbsent(*check, 1, outcome);
  // Once the database is back the next save goes through: the failed one again, or
  // the one after it.
  EXPECT_EQ(window.save(saveBlock(saved)).hr, com::S_OK);
  EXPECT_EQ(lines(*check), expectedAfter(saved + 1));
  EXPECT_TRUE(alive(daemon->pid()));
}

}  // namespace
}  // namespace qadj::testing
