// No single point of failure: two daemons on a PostgreSQL primary with a synchronous
// streaming standby, and a client that saves quota transfers through a host text naming
// both daemons, as the window's connection does. Round after round one process is
// killed: a daemon (started again at once), or the primary (the standby is promoted and
// a new standby is made of the new primary). The client sends a save whose answer it
// did not get again with the same save id, to whichever daemon answers. Afterwards every
// acknowledged save is in the database exactly once, on the standby too, and the quota
// sum is unchanged.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/save_request.h"
#include "qadj/server/connection.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/postgres_server.h"
#include "qadj/testing/unavailable.h"
#include "qadj/testing/wait_until.h"
#include "support/quota_ring.h"

namespace qadj::testing {
namespace {

using namespace ring;
using Clock = std::chrono::steady_clock;

constexpr int kRoundsPerKind = 10;
// How long a save may stay unanswered before the client gives up (and the test fails).
constexpr auto kMostPause = std::chrono::seconds(60);
// How soon the client tries again after a failed save: an operator's next click.
constexpr auto kClickAgain = std::chrono::milliseconds(10);

// A primary and its synchronous standby on two ports that stay the same while the
// roles change with each failover, so that one URL names the database throughout.
struct Cluster {
  std::unique_ptr<PostgresServer> primary = PostgresServer::primary();
  std::unique_ptr<PostgresServer> standby =
      primary->running() ? PostgresServer::standbyOf(*primary) : nullptr;

  bool running() const { return primary->running() && standby && standby->running(); }
  std::string url(const std::string& name) const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(primary->port()) +
           ",127.0.0.1:" + std::to_string(standby->port()) + "/" + name +
           "?target_session_attrs=read-write";
  }
  // The primary crashes, the standby is promoted, and a new standby of the new primary
  // takes the old primary's port.
  bool failOver() {
    const int port = primary->port();
    primary->crash();
    if (!standby->promote()) return false;
    primary = std::move(standby);
    standby = PostgresServer::standbyOf(*primary, port);
    return standby->running() && standby->port() == port;
  }
};

struct Figures {
  std::atomic<int> attempted{0}, acknowledged{0};
  std::atomic<bool> gaveUp{false};
  // Read once the client's thread has ended:
  Clock::duration longestSave{};  // from a save's first sending to its answer
  std::string why;                // why the client gave up
};

// Saves transfers 0, 1, ... until stop, each until a daemon answers that it was
// applied: after a failure the same save, with the same id, goes again, on a new server
// object when the connection dropped the old one (as the window's data sets do).
void saveInALoop(std::stop_token stop, const std::string& host, Figures& f) {
  ComScope comScope;
  TDCOMConnection dcom;
  dcom.SetServerGUID("{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");
  dcom.SetComputerName(host);
  for (int i = 0; !stop.stop_requested(); ++i) {
    const com::Variant owner = saveOwnerData({newSaveId(), "0001"});
    const std::u16string block = text::utf8ToUtf16(saveBlock(i));
    const auto started = Clock::now();
    for (;;) {
      ++f.attempted;
      com::HRESULT hr = com::S_OK;
      try {
        com::Variant params, ownerData = owner;
        hr = dcom.GetRecordSetInterface()->ExecuteCommand(u"PUBLIC_DSP", block, params, ownerData);
      } catch (const EOleError& e) {
        hr = e.code();  // no daemon could create the object
      }
      if (com::succeeded(hr)) break;
      dcom.CallFailed(hr);
      if (Clock::now() - started > kMostPause) {
        com::ExcepInfo info;
        f.why = "save " + std::to_string(i) + " failed for a minute: " +
                (com::GetErrorInfo(info) ? text::utf16ToUtf8(info.description) : "");
        f.gaveUp = true;
        return;
      }
      std::this_thread::sleep_for(kClickAgain);
    }
    f.longestSave = std::max(f.longestSave, Clock::now() - started);
    ++f.acknowledged;
  }
}

TEST(Failover, AnyOneProcessMayDieAndNoAcknowledgedSaveIsLostOrDoubled) {
  Cluster cluster;
  if (!cluster.running()) {
    databaseUnavailable(cluster.primary->error() +
                        (cluster.standby ? " " + cluster.standby->error() : ""));
    return;
  }
  appserver::openDatabase(cluster.primary->url("postgres"))->execute("CREATE DATABASE qadj_ha");
  const std::string url = cluster.url("qadj_ha");
  seed(*appserver::openDatabase(url));
  const double sumBefore = kPersons * kStartQuota;
  TempDir logs;
  std::unique_ptr<DaemonProcess> daemons[2];
  for (int d = 0; d < 2; ++d) {
    const std::string dir = logs.path() + "/" + std::to_string(d);
    std::filesystem::create_directory(dir);
    daemons[d] = std::make_unique<DaemonProcess>(std::vector<std::string>{"--db", url}, dir);
    ASSERT_TRUE(daemons[d]->start()) << daemons[d]->error();
  }

  Figures f;
  std::jthread client(saveInALoop, daemons[0]->host() + "," + daemons[1]->host(), std::ref(f));
  // Between the kills the client gets a save or three through, so that each kill
  // falls somewhere in a save of its steady stream.
  const auto savesGoOn = [&](int more) {
    const int until = f.acknowledged + more;
    return waitUntil([&] { return f.acknowledged >= until || f.gaveUp; },
                     std::chrono::minutes(2)) &&
           !f.gaveUp;
  };
  for (int round = 0; round < 2 * kRoundsPerKind; ++round) {
    ASSERT_TRUE(savesGoOn(1 + round % 3)) << "round " << round;
    if (round % 2 == 0) {
      DaemonProcess& daemon = *daemons[round / 2 % 2];
      daemon.kill();
      ASSERT_TRUE(daemon.start()) << daemon.error();
    } else {
      ASSERT_TRUE(cluster.failOver()) << cluster.primary->error() << cluster.standby->error();
    }
  }
  EXPECT_TRUE(savesGoOn(1));
  client.request_stop();
  client.join();
  ASSERT_FALSE(f.gaveUp) << f.why;

  // Every acknowledged save once: transfer i alone moves 0.75 * (i + 1) in all, so the
  // journal's distinct totals are the transfers applied, and the lines show any save
  // missing or applied twice as well.
  auto db = appserver::openDatabase(url);
  const int acked = f.acknowledged;
  const int applied =
      static_cast<int>(numberOf(*db, "SELECT COUNT(DISTINCT TOTAL) FROM QADJ_TRANSFER_JOURNAL"));
  const int lost = acked - applied, doubled = journalRows(*db) - applied;
  EXPECT_EQ(lines(*db), expectedAfter(acked)) << describe(lines(*db));
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(doubled, 0);
  EXPECT_EQ(numberOf(*db, "SELECT COUNT(*) FROM QADJ_SAVE_ID"), acked);
  EXPECT_EQ(allQuota(*db), sumBefore);
  // The standby holds them as well.
  auto standby = appserver::openDatabase(cluster.standby->url("qadj_ha"));
  EXPECT_TRUE(waitUntil([&] { return lines(*standby) == expectedAfter(acked); }))
      << describe(lines(*standby));
  std::printf(
      "[ figures ] kills: %d daemons, %d primaries; saves attempted=%d acknowledged=%d "
      "lost=%d doubled=%d; longest save an operator waited for: %.2f s\n",
      kRoundsPerKind, kRoundsPerKind, f.attempted.load(), acked, lost, doubled,
      std::chrono::duration<double>(f.longestSave).count());
}

}  // namespace
}  // namespace qadj::testing
