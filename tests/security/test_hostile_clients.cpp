// What a hostile client on this machine can cost the daemon, talking the wire
// directly: a huge request without the token, a flood of connections that never say
// anything, an endless supply of fresh client ids, and object ids read from the log.
#include <arpa/inet.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "qadj/com/com.h"
#include "qadj/proto/remote.grpc.pb.h"
#include "qadj/protocol/appserver.h"
#include "support/conditions.h"
#include "support/daemon.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

constexpr const char* kToken = "hostile-clients-test-token-0123456789";

// Peak resident memory of a process in KiB (VmHWM), 0 when unknown.
long peakKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

std::string freshClientId() {
  static std::mt19937_64 random{std::random_device{}()};
  return "fresh-" + std::to_string(random());
}

class HostileClients : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    com::CoInitialize();
  }
  void TearDown() override { com::CoUninitialize(); }

  // Starts the daemon (with the token) under the descriptor limits `nofile`
  // ("SOFT:HARD"); returns its host text.
  std::string start(const std::vector<std::string>& options, const std::string& nofile = "") {
    const std::string tokenFile = dir.filePath("token").toStdString();
    writeFile(tokenFile, std::string(kToken) + "\n");
    std::vector<std::string> args{"--db",        db.url(),       "--listen",
                                  "127.0.0.1:0", "--token-file", tokenFile};
    args.insert(args.end(), options.begin(), options.end());
    if (nofile.empty()) {
      daemon = std::make_unique<ListeningDaemon>(args);
    } else {
      args.insert(args.begin(), {"--nofile=" + nofile, "--", QADJ_APPSERVER_EXE});
      daemon =
          std::make_unique<ListeningDaemon>(args, std::vector<std::string>{}, "/usr/bin/prlimit");
    }
    const int port = daemon->waitReady();
    port_ = port;
    if (port > 0) raw = std::make_unique<RawClient>("127.0.0.1:" + std::to_string(port), kToken);
    return port > 0 ? "127.0.0.1:" + std::to_string(port) : std::string();
  }
  // Closes the test's connection, then stops the daemon; returns its exit status.
  int stop() {
    raw.reset();
    return daemon->stop();
  }

  QTemporaryDir dir;
  QuotaDatabase db{"sqlite"};
  std::unique_ptr<ListeningDaemon> daemon;
  std::unique_ptr<RawClient> raw;
  int port_ = 0;
};

// What the transport's buffers may take for a refused request: 32 MiB, or the
// documented 64 MiB under AddressSanitizer, whose red zones and quarantine inflate every
// buffer (the plain build measures 17-19 MiB, the sanitized one 22-36 MiB).
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMaxRiseKiB = 64 * 1024;
#else
constexpr long kMaxRiseKiB = 32 * 1024;
#endif

TEST_F(HostileClients, AHugeRequestWithoutTheTokenCostsNoMemory) {
  ASSERT_FALSE(start({}).empty()) << daemon->output();
  const long before = peakKiB(daemon->pid());
  ASSERT_GT(before, 0);
  // 240 MB in one argument, without the token.
  grpc::ClientContext ctx;
  wire::InvokeRequest req;
  req.set_client_id(freshClientId());
  req.add_args()->set_bytes(std::string(240u << 20, 'x'));
  wire::InvokeReply rep;
  const auto status = raw->stub().Invoke(&ctx, req, &rep);
  EXPECT_FALSE(status.ok());
  const long rise = peakKiB(daemon->pid()) - before;
  EXPECT_LT(rise, kMaxRiseKiB) << "peak memory rose by " << rise << " KiB";
  std::cout << "refused with status " << status.error_code() << " (" << status.error_message()
            << "), peak memory rose by " << rise << " KiB\n";
  // A request of a real size with the token is still served.
  EXPECT_EQ(raw->activate(freshClientId()), com::S_OK);
  EXPECT_EQ(stop(), 0);
}

TEST_F(HostileClients, FreshClientIdsCannotPassTheCaps) {
  ASSERT_FALSE(start({"--max-objects", "2", "--max-objects-total", "6"}).empty())
      << daemon->output();
  const std::string one = freshClientId();
  EXPECT_EQ(raw->activate(one), com::S_OK);
  EXPECT_EQ(raw->activate(one), com::S_OK);
  EXPECT_EQ(raw->activate(one), com::E_OUTOFMEMORY);  // per client
  int served = 2;
  for (int i = 0; i < 20; ++i) served += raw->activate(freshClientId()) == com::S_OK;
  EXPECT_EQ(served, 6);  // in total, however many ids are invented
  EXPECT_EQ(stop(), 0);

  // One computer cannot take every session either.
  ASSERT_FALSE(start({"--max-objects-per-host", "4"}).empty()) << daemon->output();
  served = 0;
  for (int i = 0; i < 10; ++i) served += raw->activate(freshClientId()) == com::S_OK;
  EXPECT_EQ(served, 4);
  EXPECT_EQ(stop(), 0);
}

TEST_F(HostileClients, TheLogNamesNoIdThatReachesAnotherClientsObject) {
  ASSERT_FALSE(start({}).empty()) << daemon->output();
  const std::string victim = "victim-" + freshClientId() + freshClientId();
  std::uint64_t first = 0, second = 0;
  ASSERT_EQ(raw->activate(victim, &first), com::S_OK);
  ASSERT_EQ(raw->activate(victim, &second), com::S_OK);
  EXPECT_NE(second - first, 1u) << "object ids follow one another";
  EXPECT_EQ(raw->queryInterface(victim, first), grpc::StatusCode::OK);
  // Another client that knows the object id (and what the log says of the client) gets
  // nothing.
  EXPECT_EQ(raw->queryInterface(freshClientId(), first), grpc::StatusCode::NOT_FOUND);
  EXPECT_EQ(raw->queryInterface(victim.substr(0, 8) + "~", first), grpc::StatusCode::NOT_FOUND);
  EXPECT_EQ(stop(), 0);
  const std::string& log = daemon->output();
  EXPECT_EQ(log.find(victim), std::string::npos) << log;
  for (const auto id : {first, second}) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(id));
    EXPECT_EQ(log.find(std::to_string(id)), std::string::npos) << log;
    EXPECT_EQ(log.find(hex), std::string::npos) << log;
  }
  EXPECT_EQ(daemon->countLines({"client=victim-f~", " Activate "}), 2u) << log;
}

TEST_F(HostileClients, AFloodOfSilentConnectionsLeavesTheDaemonServing) {
  // More silent connections than the daemon's soft descriptor limit; the test's own
  // descriptors must allow them.
  constexpr int kFlood = 1100;
  rlimit own{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max < kFlood + 200) GTEST_SKIP() << "descriptor limit " << own.rlim_max;
  own.rlim_cur = own.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &own), 0);
  const std::string host = start({}, "1024:4096");
  ASSERT_FALSE(host.empty()) << daemon->output();

  std::vector<int> silent;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port_));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < kFlood; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    silent.push_back(fd);
  }
  // The daemon has taken every one of them (or stopped listening).
  ASSERT_TRUE(waitUntil([&] {
    std::size_t open = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(daemon->pid()) + "/fd"))
      open += entry.is_symlink();
    return open > kFlood;
  }));
  {
    ClientEnv env(dir.path().toStdString(), kToken, "");
    const auto served = createAndFetch(host, salespersonsOf("01"));
    EXPECT_EQ(served.hr, com::S_OK) << served.description;
  }
  // Connections that never complete their handshake are closed by the daemon.
  EXPECT_TRUE(waitUntil(
      [&] {
        char byte;
        return ::recv(silent.back(), &byte, 1, MSG_DONTWAIT) == 0;
      },
      std::chrono::seconds(60)));
  for (const int fd : silent) ::close(fd);
  EXPECT_EQ(stop(), 0);
}

}  // namespace
