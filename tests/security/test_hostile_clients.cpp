// What a hostile client on this machine can cost the daemon, talking the wire
// directly: a huge request without the token, an endless supply of fresh client ids,
// object ids read from the log; and the attacks that would stop the daemon serving the
// others: calls that fill the call threads, connections that take every descriptor,
// HTTP/2 streams reset at once, replies never read, addresses of one computer.
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
#include <thread>

#include "qadj/com/com.h"
#include "qadj/com/endpoint.h"
#include "qadj/proto/remote.grpc.pb.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/wait_until.h"
#include "support/attack.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"
#include "support/tls_material.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

constexpr const char* kToken = "hostile-clients-test-token-0123456789";

std::string freshClientId() {
  static std::mt19937_64 random{std::random_device{}()};
  return "fresh-" + std::to_string(random());
}

class HostileClients : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }

  // Starts the daemon (with the token) under the descriptor limits `nofile`
  // ("SOFT:HARD"); returns its host text. Its output goes to a file: a daemon that logs
  // much never blocks on it.
  std::string start(const std::vector<std::string>& options, const std::string& nofile = "") {
    const std::string tokenFile = dir.filePath("token").toStdString();
    writeFile(tokenFile, std::string(kToken) + "\n");
    std::vector<std::string> args{"--db", db.url(), "--token-file", tokenFile};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<std::string> limits;
    if (!nofile.empty()) limits = {"/usr/bin/prlimit", "--nofile=" + nofile, "--"};
    daemon = std::make_unique<DaemonProcess>(args, dir.path().toStdString(), limits);
    if (!daemon->start()) return {};
    port_ = daemon->port();
    raw = std::make_unique<RawClient>(daemon->host(), kToken);
    return daemon->host();
  }
  // Closes the test's connection, then stops the daemon; returns its exit status.
  int stop() {
    raw.reset();
    return daemon->terminate();
  }

  QTemporaryDir dir;
  QuotaDatabase db{"sqlite"};
  std::unique_ptr<DaemonProcess> daemon;
  std::unique_ptr<RawClient> raw;
  int port_ = 0;
};

// What the transport's buffers may take for a refused request: 32 MiB, or the
// documented 64 MiB under AddressSanitizer, whose red zones and quarantine inflate every
// buffer (the plain build measures 17-19 MiB, the sanitized one 22-36 MiB).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
constexpr long kMaxRiseKiB = 64 * 1024;
#else
constexpr bool kSanitized = false;
constexpr long kMaxRiseKiB = 32 * 1024;
#endif

TEST_F(HostileClients, AHugeRequestWithoutTheTokenCostsNoMemory) {
  ASSERT_FALSE(start({}).empty()) << daemon->error();
  const long before = peakResidentKiB(daemon->pid());
  ASSERT_GT(before, 0);
  // 240 MB in one argument, without the token.
  grpc::ClientContext ctx;
  wire::InvokeRequest req;
  req.set_client_id(freshClientId());
  req.add_args()->set_bytes(std::string(240u << 20, 'x'));
  wire::InvokeReply rep;
  const auto status = raw->stub().Invoke(&ctx, req, &rep);
  EXPECT_FALSE(status.ok());
  const long rise = peakResidentKiB(daemon->pid()) - before;
  EXPECT_LT(rise, kMaxRiseKiB) << "peak memory rose by " << rise << " KiB";
  std::cout << "refused with status " << status.error_code() << " (" << status.error_message()
            << "), peak memory rose by " << rise << " KiB\n";
  // A request of a real size with the token is still served.
  EXPECT_EQ(raw->activate(freshClientId()), com::S_OK);
  EXPECT_EQ(stop(), 0);
}

TEST_F(HostileClients, FreshClientIdsCannotPassTheCaps) {
  ASSERT_FALSE(start({"--max-objects", "2", "--max-objects-total", "6"}).empty()) << daemon->log();
  const std::string one = freshClientId();
  EXPECT_EQ(raw->activate(one), com::S_OK);
  EXPECT_EQ(raw->activate(one), com::S_OK);
  EXPECT_EQ(raw->activate(one), com::E_OUTOFMEMORY);  // per client
  int served = 2;
  for (int i = 0; i < 20; ++i) served += raw->activate(freshClientId()) == com::S_OK;
  EXPECT_EQ(served, 6);  // in total, however many ids are invented
  EXPECT_EQ(stop(), 0);

  // One computer cannot take every session either.
  ASSERT_FALSE(start({"--max-objects-per-host", "4"}).empty()) << daemon->error();
  served = 0;
  for (int i = 0; i < 10; ++i) served += raw->activate(freshClientId()) == com::S_OK;
  EXPECT_EQ(served, 4);
  EXPECT_EQ(stop(), 0);
}

TEST_F(HostileClients, TheLogNamesNoIdThatReachesAnotherClientsObject) {
  ASSERT_FALSE(start({}).empty()) << daemon->error();
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
  const std::string log = daemon->log();
  EXPECT_EQ(log.find(victim), std::string::npos) << log;
  for (const auto id : {first, second}) {
    char hex[32];
    std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(id));
    EXPECT_EQ(log.find(std::to_string(id)), std::string::npos) << log;
    EXPECT_EQ(log.find(hex), std::string::npos) << log;
  }
  EXPECT_EQ(daemon->countLines({"client=victim-f~", " Activate "}), 2u) << log;
}

// What a well-behaved window may wait for one call while an attack runs: 50 ms at the
// 99th percentile on a 2-core machine. AddressSanitizer makes every call several times
// slower and its p99 under 130 attacking calls varies from 160 to 230 ms, so the sanitized
// build only tells a queue (calls waiting for a statement time-out, seconds) from service.
constexpr double kGoodP99Ms = kSanitized ? 1000 : 50;

// Each attack below runs while a well-behaved window on its own connection makes the
// window's calls: every one is answered, quickly, and afterwards the daemon serves.
class Attacks : public HostileClients {
 protected:
  // Starts the daemon and the window (with the token).
  void startWithWindow(const std::vector<std::string>& options, const std::string& nofile = "") {
    host_ = start(options, nofile);
    ASSERT_FALSE(host_.empty()) << daemon->error();
    env_.reset();  // restores the environment before the next one is set
    env_ = std::make_unique<ClientEnv>(dir.path().toStdString(), kToken, "");
    window_ = std::make_unique<WellBehavedWindow>(host_);
  }
  // Stops the window once it has made minCalls, checks its calls, and that the daemon
  // still serves a new client.
  void expectWindowServed(const char* attack, std::size_t minCalls = 20) {
    const auto tally = window_->stop(minCalls);
    EXPECT_EQ(tally.failures, 0u) << attack << ": " << tally.firstFailure;
    EXPECT_LT(tally.p99Ms, kGoodP99Ms) << attack;
    std::cout << attack << ": the window made " << tally.calls << " calls, p99 " << tally.p99Ms
              << " ms, longest " << tally.maxMs << " ms\n";
    EXPECT_TRUE(com::ProbeHealth(host_, std::chrono::seconds(5)).serving);
    const auto fresh = createAndFetch(host_, salespersonsOf("01"));
    EXPECT_EQ(fresh.hr, com::S_OK) << fresh.description;
  }
  void TearDown() override {
    window_.reset();
    env_.reset();
    HostileClients::TearDown();
  }

  std::string host_;
  std::unique_ptr<ClientEnv> env_;
  std::unique_ptr<WellBehavedWindow> window_;
};

TEST_F(Attacks, OneClientCannotTakeTheCallThreads) {
  startWithWindow({});
  const std::string attacker = freshClientId();
  std::uint64_t object = 0;
  ASSERT_EQ(raw->activate(attacker, &object), com::S_OK);
  // 130 calls at once on the one object, over 5 connections, again and again.
  std::vector<std::unique_ptr<RawClient>> wires;
  for (int i = 0; i < 5; ++i) wires.push_back(std::make_unique<RawClient>(host_, kToken));
  std::atomic<int> answered{0}, busy{0}, made{0};
  std::vector<std::thread> callers;
  // At least 10 rounds, and on until the window has made 300 calls (its p99 then leaves
  // out its 3 slowest), at most 60.
  for (int i = 0; i < 130; ++i)
    callers.emplace_back([&, i] {
      for (int round = 0; round < 60 && (round < 10 || window_->calls() < 300); ++round) {
        ++made;
        long scode = 0;
        const long hr = wires[i % 5]->fetch(attacker, object, salespersonsOf("01"), &scode);
        ++(scode == com::RPC_E_SERVERCALL_RETRYLATER ? busy : answered);
        EXPECT_TRUE(hr == com::S_OK || scode == com::RPC_E_SERVERCALL_RETRYLATER) << hr;
      }
    });
  for (auto& t : callers) t.join();
  std::cout << "attacker: " << answered << " calls answered, " << busy << " refused as busy\n";
  EXPECT_GT(busy, 0);
  EXPECT_GT(answered, 0);
  EXPECT_EQ(answered + busy, made);
  expectWindowServed("130 calls at once on one object", 300);
  EXPECT_EQ(stop(), 0);
}

TEST_F(Attacks, ConnectionsCannotExhaustTheDescriptors) {
  // More connections than descriptors: the gate closes those over its bounds (the
  // default leaves room for the sessions), or, with a bound above the limit, those
  // accept finds no descriptor for; either way the listener goes on.
  constexpr int kFlood = 1100;
  rlimit own{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &own), 0);
  if (own.rlim_max < kFlood + 200) GTEST_SKIP() << "descriptor limit " << own.rlim_max;
  own.rlim_cur = own.rlim_max;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &own), 0);
  const std::pair<std::string, std::string> runs[] = {{"", "1024:1024"}, {"60000", "80:80"}};
  for (const auto& [bound, nofile] : runs) {
    SCOPED_TRACE("--max-connections " + bound + ", descriptors " + nofile);
    startWithWindow(bound.empty() ? std::vector<std::string>{}
                                  : std::vector<std::string>{"--max-connections", bound},
                    nofile);
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
    // The daemon turned the last ones away at once.
    EXPECT_TRUE(waitUntil([&] {
      char byte;
      return ::recv(silent.back(), &byte, 1, MSG_DONTWAIT) == 0;
    }));
    std::size_t open = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(daemon->pid()) + "/fd"))
      open += entry.is_symlink();
    std::cout << "daemon descriptors during the flood: " << open << "\n";
    if (bound.empty()) {
      EXPECT_LT(open, 1000u);
    }
    for (const int fd : silent) ::close(fd);
    expectWindowServed("1100 silent connections");
    window_.reset();
    EXPECT_EQ(stop(), 0);
    EXPECT_GE(daemon->countLines({"connections closed at once"}), 1u) << daemon->log();
  }
}

TEST_F(Attacks, StreamsResetAtOnceCloseTheirConnection) {
  startWithWindow({});
  // Without the token: the resets cost the daemon the same either way.
  H2Wire attacker(port_);
  ASSERT_TRUE(attacker.connected());
  const std::string request =
      RawClient::fetchRequest(freshClientId(), 1, salespersonsOf("01")).SerializeAsString();
  std::uint32_t stream = 1;
  int batches = 0;
  for (; batches < 200 && attacker.connected(); ++batches) {
    for (int i = 0; i < 100; ++i, stream += 2) attacker.call(stream, "Invoke", "", request, true);
    attacker.pump();
  }
  std::cout << "streams opened and reset: " << (stream - 1) / 2 << "\n";
  EXPECT_TRUE(attacker.closedByPeer(std::chrono::seconds(10)));
  // Until the daemon sees the resets (within a quarter of a second), gRPC's own threads are
  // the attacker's: the window's calls of that moment may wait or fail.
  const auto during = window_->stop();
  std::cout << "during the resets the window made " << during.calls << " calls, " << during.failures
            << " failed, p99 " << during.p99Ms << " ms, longest " << during.maxMs << " ms\n";
  window_ = std::make_unique<WellBehavedWindow>(host_);
  expectWindowServed("after the rapid reset", 200);
  EXPECT_EQ(stop(), 0);
  EXPECT_EQ(daemon->countLines({"connection closed: peer=", "reset"}), 1u) << daemon->log();
}

TEST_F(Attacks, RepliesNeverReadAreBoundedAndDropped) {
  // Fetches of about 2 MB each whose replies the attacker never reads: the daemon holds
  // at most its reply memory (--max-replies-mib 32, 8 for one client) and drops them
  // after --reply-timeout; their objects (sessions) go with the lease.
  const auto big = wideWarehouse(db, "W", 2000, 1000);
  startWithWindow({"--max-replies-mib", "32", "--reply-timeout", "2", "--lease", "2"});
  const long before = residentKiB(daemon->pid());
  // Four clients, 16 calls over two connections (as many as each may carry at once).
  std::vector<std::pair<std::string, std::uint64_t>> objects(16);
  for (std::size_t i = 0; i < objects.size(); ++i) {
    objects[i].first = "hoarder-" + std::to_string(i % 4) + freshClientId();
    ASSERT_EQ(raw->activate(objects[i].first, &objects[i].second), com::S_OK);
  }
  H2Wire first(port_, "", 4096), second(port_, "", 4096);
  for (std::uint32_t i = 0; i < objects.size(); ++i)
    (i % 2 ? second : first)
        .call(
            2 * (i / 2) + 1, "Invoke", kToken,
            RawClient::fetchRequest(objects[i].first, objects[i].second, big).SerializeAsString());
  ASSERT_TRUE(first.flush() && second.flush());
  ASSERT_TRUE(waitUntil([&] { return daemon->countLines({"hoarder-", "FetchRecords"}) >= 16; }));
  const long during = residentKiB(daemon->pid());
  // Dropped after the timeout, the memory returned.
  EXPECT_TRUE(waitUntil([&] { return daemon->countLines({"replies not read within"}) >= 1; }));
  // (AddressSanitizer keeps freed memory in quarantine, and its red zones inflate it.)
  if (!kSanitized) {
    EXPECT_TRUE(waitUntil([&] { return residentKiB(daemon->pid()) < before + 32 * 1024; }));
  }
  const long after = residentKiB(daemon->pid());
  std::cout << "daemon memory before " << before / 1024 << " MiB, with the replies held "
            << during / 1024 << " MiB, after they were dropped " << after / 1024 << " MiB\n";
  // Besides the replies held, the resident size keeps what building sixteen 2 MB
  // replies at once left behind in the allocator (seen 62 to 97 MiB in all).
  EXPECT_LT(during - before, (kSanitized ? 8 : 4) * 32 * 1024)
      << "reply memory beyond four times its bound";
  EXPECT_GE(daemon->countLines({"应用服务器待发送的回复已达内存上限"}), 1u) << daemon->log();
  expectWindowServed("replies never read");
  EXPECT_EQ(stop(), 0);
}

TEST_F(Attacks, AddressesOfOneComputerShareItsCaps) {
  ASSERT_FALSE(start({"--max-objects-per-host", "4"}).empty()) << daemon->error();
  int served = 0;
  for (int i = 0; i < 2; ++i) served += raw->activate(freshClientId()) == com::S_OK;
  // Other loopback addresses are this computer too.
  for (const char* source : {"127.0.0.2", "127.0.0.3"}) {
    H2Wire wire(port_, source);
    ASSERT_TRUE(wire.connected()) << source;
    for (std::uint32_t stream = 1; stream <= 3; stream += 2) {
      wire.call(stream, "Activate", kToken,
                RawClient::activateRequest(freshClientId()).SerializeAsString());
      std::string message;
      ASSERT_TRUE(wire.reply(stream, message)) << source;
      wire::ActivateReply reply;
      ASSERT_TRUE(reply.ParseFromString(message));
      served += reply.hr() == com::S_OK;
    }
  }
  EXPECT_EQ(served, 4);
  EXPECT_EQ(stop(), 0);
}

}  // namespace
