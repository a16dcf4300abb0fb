// The daemon with a TLS certificate from a throwaway authority made at test time: a
// client trusting that authority is served; a plain client, a client trusting another
// authority and a client whose authority file cannot be read all fail at once with a
// text that says why, never falling back to a plain channel.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <iostream>

#include "qadj/appserver/daemon_options.h"
#include "qadj/com/com.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"
#include "support/tls_material.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

constexpr const char* kToken = "tls-test-token-5c1e";
const std::u16string kPersons = salespersonsOf("01");

class Tls : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  static void SetUpTestSuite() {
    material = new QTemporaryDir;
    try {
      good = makeTlsMaterial(material->path().toStdString(), "good");
      other = makeTlsMaterial(material->path().toStdString(), "other");
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  static void TearDownTestSuite() {
    delete material;
    material = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(failure.empty()) << failure;
    ASSERT_TRUE(clientDir.isValid());
  }

  // Starts the daemon; with TLS unless plain.
  void serve(bool tls) {
    writeFile(clientPath() + "/daemon-token", std::string(kToken) + "\n", 0600);
    std::vector<std::string> args{"--db",      db.url(),       "--listen",
                                  "0.0.0.0:0", "--token-file", clientPath() + "/daemon-token"};
    if (tls) args.insert(args.end(), {"--tls-cert", good.serverCert, "--tls-key", good.serverKey});
    daemon = std::make_unique<DaemonProcess>(args, clientPath());
    ASSERT_TRUE(daemon->start()) << daemon->error();
    if (tls) {
      ASSERT_NE(daemon->log().find(", TLS"), std::string::npos) << daemon->log();
    }
    host = daemon->host();
  }
  std::string clientPath() const { return clientDir.path().toStdString(); }

  static inline QTemporaryDir* material = nullptr;
  static inline TlsMaterial good, other;
  static inline std::string failure;
  QTemporaryDir clientDir;
  QuotaDatabase db{"sqlite"};
  std::unique_ptr<DaemonProcess> daemon;
  std::string host;
};

TEST_F(Tls, OnlyAClientTrustingTheDaemonsAuthorityIsServed) {
  serve(true);
  if (HasFatalFailure()) return;
  {
    ClientEnv env(clientPath(), kToken, good.caCert);
    const auto ok = createAndFetch(host, kPersons);
    EXPECT_EQ(ok.hr, com::S_OK) << ok.description;
    EXPECT_EQ(ok.rows, 4u);
  }
  {
    ClientEnv env(clientPath(), "", "");
    const auto plain = createAndFetch(host, kPersons);
    EXPECT_EQ(plain.hr, com::RPC_E_SERVER_UNAVAILABLE);
    std::cout << "plain client: " << plain.description << "\n";
    EXPECT_NE(plain.description.find("The RPC server is unavailable"), std::string::npos);
    EXPECT_NE(plain.description.find("TLS"), std::string::npos) << plain.description;
  }
  {
    ClientEnv env(clientPath(), kToken, other.caCert);
    const auto stranger = createAndFetch(host, kPersons);
    EXPECT_EQ(stranger.hr, com::RPC_E_SERVER_UNAVAILABLE);
    std::cout << "other authority: " << stranger.description << "\n";
    EXPECT_NE(stranger.description.find("not signed by the trusted certificate authority"),
              std::string::npos)
        << stranger.description;
  }
  {
    // A named authority file that is missing is an error, not "trust the system's".
    ClientEnv env(clientPath(), kToken, clientPath() + "/missing-ca.pem");
    const auto missing = createAndFetch(host, kPersons);
    EXPECT_EQ(missing.hr, com::RPC_E_SERVER_UNAVAILABLE);
    EXPECT_NE(missing.description.find("cannot read the certificate authority file"),
              std::string::npos)
        << missing.description;
  }
  {
    // The authority and the token from the client folder.
    writeFile(clientPath() + "/ca.pem", readText(good.caCert));
    writeFile(clientPath() + "/token", std::string(kToken) + "\n", 0600);
    ClientEnv env(clientPath(), "", "");
    const auto fromFolder = createAndFetch(host, kPersons);
    EXPECT_EQ(fromFolder.hr, com::S_OK) << fromFolder.description;
    EXPECT_EQ(fromFolder.rows, 4u);
  }
  EXPECT_EQ(daemon->terminate(), 0) << daemon->log();
  // Only the two clients with the right authority reached the service.
  EXPECT_EQ(daemon->countLines({"Activate", " OK "}), 2u) << daemon->log();
}

TEST_F(Tls, AClientExpectingTlsFailsAgainstAPlainDaemon) {
  serve(false);
  if (HasFatalFailure()) return;
  ClientEnv env(clientPath(), kToken, good.caCert);
  const auto r = createAndFetch(host, kPersons);
  EXPECT_EQ(r.hr, com::RPC_E_SERVER_UNAVAILABLE);
  std::cout << "TLS client, plain daemon: " << r.description << "\n";
  EXPECT_NE(r.description.find("TLS"), std::string::npos) << r.description;
  EXPECT_EQ(daemon->terminate(), 0);
  EXPECT_EQ(daemon->countLines({"Activate"}), 0u) << daemon->log();
}

TEST_F(Tls, TheDaemonRefusesAnUnreadableOrPublicKey) {
  ChildProcess bad(daemonExecutable(),
                   {"--db", db.url(), "--listen", "127.0.0.1:0", "--tls-cert", good.serverCert,
                    "--tls-key", clientPath() + "/no-such.key"});
  // Both are mended by the administrator only: the unit does not restart the daemon.
  EXPECT_EQ(bad.finish(), appserver::kExitConfiguration);
  EXPECT_NE(bad.output().find("there is no TLS key file at"), std::string::npos) << bad.output();
  // A key every user may read is refused like such a token file.
  const std::string open = clientPath() + "/open.key";
  writeFile(open, readText(good.serverKey), 0644);
  ChildProcess exposed(daemonExecutable(), {"--db", db.url(), "--listen", "127.0.0.1:0",
                                            "--tls-cert", good.serverCert, "--tls-key", open});
  EXPECT_EQ(exposed.finish(), appserver::kExitConfiguration);
  EXPECT_NE(
      exposed.output().find("the TLS key file " + open + " can be read or written by other users"),
      std::string::npos)
      << exposed.output();
}

}  // namespace
