// A client that dies without releasing its server object: the daemon (lease 2 s)
// releases the object and its PostgreSQL session once the lease runs out, while a live
// client's object, whose lease is renewed, keeps working.
//
// The dying client is this program run again with --hold-session HOST: it creates the
// server object, fills its working rows (so that it holds a database session), says
// "ready" and waits to be killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "qadj/appserver/dates.h"
#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/packet.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/connection.h"
#include "qadj/testing/child_process.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/wait_until.h"
#include "support/quota_ring.h"

namespace qadj::testing {
namespace {

constexpr const char* kClass = "{15F46FC4-4736-4AAF-9087-8A67C59E42F4}";
constexpr const char* kHoldArgument = "--hold-session";

// The server object of one window: working rows for salesperson 0101, then the
// product query on them. Returns the number of product rows (-1 on failure).
int openWindowObject(TDCOMConnection& dcom, const std::string& host) {
  dcom.SetServerGUID(kClass);
  dcom.SetComputerName(host);
  dcom.Connect();
  std::string code = ring::kCodes[0];
  dcom.CallMethod("m_qadj", {DispatchArg::textRef(code),
                             DispatchArg::date(*appserver::dates::parseTimestamp(ring::kDate))});
  com::Variant params, ownerData, result;
  std::int32_t recs = 0;
  const auto hr = dcom.GetRecordSetInterface()->FetchRecords(
      u"PUBLIC_DSP", -1, recs, 0, text::utf8ToUtf16(statements::productQuery()), params, ownerData,
      result);
  return com::succeeded(hr) ? static_cast<int>(packet::decode(result.asBytes()).rows.size()) : -1;
}

// The dying client's life: never returns.
[[noreturn]] void holdSession(const std::string& host) {
  com::CoInitialize();
  TDCOMConnection dcom;
  int rows = -1;
  try {
    rows = openWindowObject(dcom, host);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "holder: %s\n", e.what());
  }
  std::printf("%s\n", rows == 1 ? "ready" : "failed");
  std::fflush(stdout);
  for (;;) ::pause();
}

// The holder as a child process; its "ready" or "failed" read from its standard output.
struct Holder : ChildProcess {
  std::string said;
  explicit Holder(const std::string& host)
      : ChildProcess("/proc/self/exe", {kHoldArgument, host}, {{}, Output::StdoutPipe, {}}) {
    readUntil("\n");
    said = output();
  }
};

TEST(Lease, AKilledClientsObjectAndDatabaseSessionAreReleased) {
  TempDir dir;
  const std::string url = freshDatabaseFor("postgresql", dir);
  if (url.empty()) return;
  auto admin = appserver::openDatabase(url);
  ring::seed(*admin);
  DaemonProcess daemon({"--db", url, "--lease", "2"}, dir.path());
  ASSERT_TRUE(daemon.start()) << daemon.error();
  // The daemon's start-up check of the schema closes its session again.
  ASSERT_TRUE(waitUntil([&] { return otherSessions(*admin) == 0; }));

  qadj::testing::ComScope comScope;
  {
    TDCOMConnection own;
    ASSERT_EQ(openWindowObject(own, daemon.host()), 1);
    Holder holder(daemon.host());
    ASSERT_EQ(holder.said, "ready\n");
    EXPECT_EQ(otherSessions(*admin), 2);  // the live client's and the holder's

    holder.kill();
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] { return otherSessions(*admin) == 1; }, std::chrono::seconds(60)))
        << "the killed client's database session was never released\n"
        << daemon.log();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    EXPECT_TRUE(daemon.waitForLog("lease expired client=")) << daemon.log();
    EXPECT_NE(daemon.log().find("objects=1 released"), std::string::npos) << daemon.log();
    std::printf("[ figures ] lease 2 s: session released %.2f s after the kill\n", seconds);

    // The live client renewed its lease all along: its object still answers.
    com::Variant params, ownerData, result;
    std::int32_t recs = 0;
    EXPECT_EQ(own.GetRecordSetInterface()->FetchRecords(
                  u"PUBLIC_DSP", -1, recs, 0, text::utf8ToUtf16(statements::productQuery()), params,
                  ownerData, result),
              com::S_OK);
    EXPECT_EQ(recs, 1);
  }
  // Its release on disconnect ends the last session.
  EXPECT_TRUE(waitUntil([&] { return otherSessions(*admin) == 0; }));
  EXPECT_EQ(daemon.terminate(), 0);
}

}  // namespace
}  // namespace qadj::testing

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], qadj::testing::kHoldArgument) == 0)
    qadj::testing::holdSession(argv[2]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
