// A client never waits for ever: every remote call ends at its deadline
// (QADJ_CALL_TIMEOUT, else call_timeout in the client folder, else 120 s), also against
// a peer that took the connection and then fell silent.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>

#include "qadj/com/client_config.h"
#include "qadj/com/com.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"
#include "support/tls_material.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

class CallDeadline : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  QTemporaryDir dir;
  ScopedEnv timeout{"QADJ_CALL_TIMEOUT", std::nullopt};
};

TEST_F(CallDeadline, TheTimeoutComesFromTheEnvironmentThenTheClientFolder) {
  ClientEnv env(dir.path().toStdString(), "", "");
  EXPECT_EQ(com::ClientCallTimeout(), com::kDefaultCallTimeout);
  writeFile(dir.filePath("call_timeout").toStdString(), " 300\n");
  EXPECT_EQ(com::ClientCallTimeout(), std::chrono::seconds(300));
  timeout.set("7");
  EXPECT_EQ(com::ClientCallTimeout(), std::chrono::seconds(7));
  for (const char* wrong : {"0", "-5", "ten", "99999999999999999999", "86401"}) {
    timeout.set(wrong);
    EXPECT_EQ(com::ClientCallTimeout(), com::kDefaultCallTimeout) << wrong;
  }
}

TEST_F(CallDeadline, APeerThatNeverAnswersFailsTheCallAtItsDeadline) {
  // A listener that takes connections and never says a word.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  socklen_t size = sizeof at;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size), 0);
  const std::string silent = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));

  ClientEnv env(dir.path().toStdString(), "", "");
  timeout.set("1");
  const auto out = createAndFetch(silent, salespersonsOf("01"));
  EXPECT_EQ(out.hr, com::RPC_E_CALL_TIMEOUT) << out.description;
  // Named (twice) with a daemon, it is passed over for the daemon, whichever comes first.
  QuotaDatabase db("sqlite");
  DaemonProcess daemon({"--db", db.url()}, dir.path().toStdString());
  ASSERT_TRUE(daemon.start()) << daemon.error();
  const std::string twice = silent + ",localhost" + silent.substr(silent.find(':'));
  const auto passed = createAndFetch(twice + "," + daemon.host(), salespersonsOf("01"));
  EXPECT_EQ(passed.hr, com::S_OK) << passed.description;
  ::close(listener);
}

TEST_F(CallDeadline, ADaemonThatFallsSilentMidSessionFailsTheCallAndServesAgainAfter) {
  QuotaDatabase db("sqlite");
  DaemonProcess daemon({"--db", db.url()}, dir.path().toStdString());
  ASSERT_TRUE(daemon.start()) << daemon.error();
  ClientEnv env(dir.path().toStdString(), "", "");
  timeout.set("2");
  auto server = createServerOn(daemon.host());
  ASSERT_TRUE(server);
  EXPECT_EQ(fetchOn(*server, salespersonsOf("01")).hr, com::S_OK);

  ::kill(daemon.pid(), SIGSTOP);  // the connection stays open, nothing answers
  int status = 0;
  ASSERT_EQ(::waitpid(daemon.pid(), &status, WUNTRACED), daemon.pid());
  ASSERT_TRUE(WIFSTOPPED(status));
  const auto start = std::chrono::steady_clock::now();
  const auto out = fetchOn(*server, salespersonsOf("01"));
  EXPECT_EQ(out.hr, com::RPC_E_CALL_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  ::kill(daemon.pid(), SIGCONT);
  EXPECT_EQ(fetchOn(*server, salespersonsOf("01")).hr, com::S_OK);
  server.reset();
  EXPECT_EQ(daemon.terminate(), 0);
}

}  // namespace
