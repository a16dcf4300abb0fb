// The daemon killed (SIGKILL) while a client saves quota transfers, round after round,
// on a SQLite file and on PostgreSQL: every transfer is applied with all its lines or
// not at all, every acknowledged one is kept, and the total quota never changes.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/server/connection.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/wait_until.h"
#include "support/quota_ring.h"

namespace qadj::testing {
namespace {

constexpr int kRounds = 24;
using namespace ring;

struct Figures {
  int rounds = 0, attempted = 0, acknowledged = 0, inDoubtCommitted = 0, inDoubtLost = 0;
};

class KillDuringSave : public ::testing::TestWithParam<const char*> {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    url = freshDatabaseFor(GetParam(), dir);
    if (url.empty()) return;
  }

  TempDir dir;
  std::string url;
};

TEST_P(KillDuringSave, EverySaveIsWholeOrAbsentAndTheTotalStays) {
  auto check = appserver::openDatabase(url);
  seed(*check);
  const double sumBefore = allQuota(*check);
  const bool postgres = check->dialect() == "postgresql";
  check.reset();

  DaemonProcess daemon({"--db", url}, dir.path());
  ASSERT_TRUE(daemon.start()) << daemon.error();
  Figures f;
  int committed = 0;  // saves known to be in the database
  for (int round = 0; round < kRounds; ++round) {
    ++f.rounds;
    TDCOMConnection dcom;
    dcom.SetServerGUID("{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");
    dcom.SetComputerName(daemon.host());
    std::shared_ptr<IAppServer> app;
    ASSERT_NO_THROW(app = dcom.GetRecordSetInterface()) << daemon.log();

    // The kill comes after a varying number of answered saves and a varying delay,
    // so that it falls before, inside and after the statements and the commit.
    std::atomic<int> answered{0};
    std::atomic<bool> clientStopped{false};
    const int afterSaves = 1 + round % 4;
    const auto delay = std::chrono::microseconds((round * 3571) % 12000);
    const pid_t pid = daemon.pid();
    std::thread killer([&] {
      while (answered.load() < afterSaves && !clientStopped.load())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      if (clientStopped.load()) return;
      std::this_thread::sleep_for(delay);  // the fault injection point
      ::kill(pid, SIGKILL);
    });

    com::HRESULT failure = com::S_OK;
    std::string description;
    for (int guard = 0; guard < 100000; ++guard) {
      const std::string block = saveBlock(committed);
      com::Variant params, ownerData;
      ++f.attempted;
      const com::HRESULT hr =
          app->ExecuteCommand(u"PUBLIC_DSP", text::utf8ToUtf16(block), params, ownerData);
      if (com::failed(hr)) {
        failure = hr;
        com::ExcepInfo info;
        if (com::GetErrorInfo(info)) description = text::utf16ToUtf8(info.description);
        break;
      }
      ++f.acknowledged;
      ++committed;
      ++answered;
    }
    clientStopped = true;
    killer.join();
    daemon.kill();  // reaps the killed process
    ASSERT_EQ(failure, com::RPC_E_SERVER_UNAVAILABLE)
        << "round " << round << ": the save failed other than by the kill: " << description;

    check = appserver::openDatabase(url);
    // A killed daemon's PostgreSQL sessions end (and roll back) once the server sees
    // their sockets closed; check only after that, so that nothing commits later.
    if (postgres) {
      ASSERT_TRUE(waitUntil([&] { return otherSessions(*check) == 0; }))
          << "the killed daemon's sessions stayed";
    }
    const auto now = lines(*check);
    const auto before = expectedAfter(committed);
    const auto after = expectedAfter(committed + 1);
    if (now == after) {
      ++committed;
      ++f.inDoubtCommitted;
    } else {
      ASSERT_EQ(now, before) << "round " << round << ": save " << committed
                             << " is partly applied or an acknowledged save is missing\n"
                             << "database: " << describe(now)
                             << "\nwithout it: " << describe(before)
                             << "\nwith it:    " << describe(after);
      ++f.inDoubtLost;
    }
    EXPECT_EQ(allQuota(*check), sumBefore) << "round " << round;
    check.reset();
    ASSERT_TRUE(daemon.start()) << daemon.error();
  }
  // The restarted daemon serves the saved state.
  TDCOMConnection dcom;
  dcom.SetServerGUID("{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");
  dcom.SetComputerName(daemon.host());
  auto app = dcom.GetRecordSetInterface();
  com::Variant params, ownerData;
  ASSERT_EQ(app->ExecuteCommand(u"PUBLIC_DSP", text::utf8ToUtf16(saveBlock(committed)), params,
                                ownerData),
            com::S_OK);
  check = appserver::openDatabase(url);
  EXPECT_EQ(lines(*check), expectedAfter(committed + 1));
  EXPECT_EQ(allQuota(*check), sumBefore);
  EXPECT_EQ(daemon.terminate(), 0);
  std::printf(
      "[ figures ] %s: rounds=%d attempted=%d acknowledged=%d in-doubt committed=%d "
      "in-doubt not committed=%d sum before=%.2f after=%.2f\n",
      GetParam(), f.rounds, f.attempted, f.acknowledged, f.inDoubtCommitted, f.inDoubtLost,
      sumBefore, allQuota(*check));
  EXPECT_GT(f.acknowledged, kRounds);
}

std::string dialectName(const ::testing::TestParamInfo<const char*>& param) {
  return param.param;
}

INSTANTIATE_TEST_SUITE_P(Databases, KillDuringSave, ::testing::Values("sqlite", "postgresql"),
                         dialectName);

}  // namespace
}  // namespace qadj::testing
