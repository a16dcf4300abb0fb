// The daemon listening on every address with a token file: calls without the token or
// with a wrong one are refused with "Access is denied" (and logged with the peer),
// calls with it work; the window shows the refusal in its error box; the client's
// token file is used only when it is private to its owner.
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <iostream>

#include "qadj/com/com.h"
#include "qadj/controls/flat_combo_box.h"
#include "qadj/platform/text.h"
#include "qadj/proto/remote.grpc.pb.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "support/quota_db.h"
#include "support/remote_calls.h"
#include "support/tls_material.h"
#include "support/window_fixture.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

constexpr const char* kToken = "b8f1c0de-token-for-the-access-test";
const std::u16string kPersons = salespersonsOf("01");

class TokenAccess : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    ASSERT_TRUE(dir.isValid() && clientDir.isValid());
    writeFile(tokenFile(), std::string(kToken) + "\n", 0640);
    daemon = std::make_unique<DaemonProcess>(
        std::vector<std::string>{"--db", db.url(), "--listen", "0.0.0.0:0", "--token-file",
                                 tokenFile()},
        dir.path().toStdString());
    ASSERT_TRUE(daemon->start()) << daemon->error();
    ASSERT_NE(daemon->log().find("on 0.0.0.0:"), std::string::npos) << daemon->log();
    ASSERT_NE(daemon->log().find("token required"), std::string::npos) << daemon->log();
    // Connections go to loopback only; the daemon listens on every address.
    host = daemon->host();
  }

  std::string tokenFile() const { return dir.path().toStdString() + "/daemon-token"; }
  std::string clientPath() const { return clientDir.path().toStdString(); }

  // Opens the window for operator 0001 on the daemon and returns the message boxes
  // that its activation showed, and the number of salespersons it listed.
  std::vector<std::string> openWindow(int& listed) {
    WindowScene scene;
    listed = OperatorWindow(host).form.RYMC->count();
    std::vector<std::string> texts;
    for (const auto& call : scene.boxes->calls()) texts.push_back(text::gbkToUtf8Lossy(call.text));
    return texts;
  }

  QTemporaryDir dir, clientDir;
  QuotaDatabase db{"sqlite"};
  std::unique_ptr<DaemonProcess> daemon;
  std::string host;
};

TEST_F(TokenAccess, RefusedWithoutOrWithWrongTokenServedWithIt) {
  {
    ClientEnv env(clientPath(), "", "");
    const auto none = createAndFetch(host, kPersons);
    EXPECT_EQ(none.hr, com::E_ACCESSDENIED);
    EXPECT_EQ(com::OleErrorText(none.hr), "Access is denied");
  }
  {
    ClientEnv env(clientPath(), "not-the-token", "");
    EXPECT_EQ(createAndFetch(host, kPersons).hr, com::E_ACCESSDENIED);
    // The token must match whole: a prefix or the token with more after it is wrong too.
    ::setenv("QADJ_TOKEN", std::string(kToken).substr(0, 10).c_str(), 1);
    EXPECT_EQ(createAndFetch(host, kPersons).hr, com::E_ACCESSDENIED);
    ::setenv("QADJ_TOKEN", (std::string(kToken) + "x").c_str(), 1);
    EXPECT_EQ(createAndFetch(host, kPersons).hr, com::E_ACCESSDENIED);
  }
  {
    ClientEnv env(clientPath(), kToken, "");
    const auto ok = createAndFetch(host, kPersons);
    EXPECT_EQ(ok.hr, com::S_OK) << ok.description;
    EXPECT_EQ(ok.rows, 4u);  // 0012, 0013, 0015, 0016
  }

  // Every operation is guarded, not only the creation: a caller that guesses an object
  // id gets nothing without the token.
  std::size_t raw = 0;
  {
    RawClient none(host, ""), guess(host, "guess");
    {
      grpc::ClientContext ctx;
      wire::InvokeRequest req;
      req.set_client_id("guesser");
      req.set_object_id(1);
      wire::InvokeReply rep;
      EXPECT_EQ(none.stub().Invoke(&ctx, req, &rep).error_code(),
                grpc::StatusCode::UNAUTHENTICATED);
      ++raw;
    }
    {
      grpc::ClientContext ctx;
      guess.authorize(ctx);
      wire::KeepAliveRequest req;
      req.set_client_id("guesser");
      wire::KeepAliveReply rep;
      EXPECT_EQ(guess.stub().KeepAlive(&ctx, req, &rep).error_code(),
                grpc::StatusCode::UNAUTHENTICATED);
      ++raw;
    }
    {
      grpc::ClientContext ctx;
      wire::ReleaseRequest req;
      req.set_client_id("guesser\nqadj-remote forged line");
      req.set_object_id(1);
      wire::ReleaseReply rep;
      EXPECT_EQ(none.stub().Release(&ctx, req, &rep).error_code(),
                grpc::StatusCode::UNAUTHENTICATED);
      ++raw;
    }
  }

  EXPECT_EQ(daemon->terminate(), 0) << daemon->log();
  const std::string log = daemon->log();
  const std::size_t missing = daemon->countLines({"refused: access token missing", "127.0.0.1"});
  const std::size_t wrong = daemon->countLines({"refused: access token wrong", "127.0.0.1"});
  // One refused creation without a token, three with wrong ones, and the raw calls.
  EXPECT_EQ(missing, 1u + 2u) << log;
  EXPECT_EQ(wrong, 3u + 1u) << log;
  EXPECT_EQ(daemon->countLines({"Activate", " OK "}), 1u) << log;
  // A caller's text never starts a line of its own in the log.
  EXPECT_EQ(daemon->countLines({"qadj-remote forged line"}), 0u) << log;
  EXPECT_EQ(daemon->countLines({"client=guesser?~"}), 1u) << log;
  std::cout << "refused calls in the daemon log: " << missing << " without a token, " << wrong
            << " with a wrong token (" << raw << " of them raw wire calls)\n";
}

TEST_F(TokenAccess, TheWindowShowsTheRefusalAndWorksWithAPrivateTokenFile) {
  int listed = -1;
  {
    ClientEnv env(clientPath(), "", "");
    const auto boxes = openWindow(listed);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Access is denied"), std::string::npos) << boxes[0];
    EXPECT_EQ(listed, 0);
  }
  // The client folder's token file, private to its owner: used.
  writeFile(clientPath() + "/token", std::string(kToken) + "\n", 0600);
  {
    ClientEnv env(clientPath(), "", "");
    const auto boxes = openWindow(listed);
    EXPECT_TRUE(boxes.empty()) << boxes[0];
    EXPECT_EQ(listed, 4);
  }
  // The same file readable by the group: not used, with a warning on standard error.
  writeFile(clientPath() + "/token", std::string(kToken) + "\n", 0640);
  {
    ClientEnv env(clientPath(), "", "");
    ::testing::internal::CaptureStderr();
    const auto boxes = openWindow(listed);
    const std::string warning = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("Access is denied"), std::string::npos) << boxes[0];
    EXPECT_NE(warning.find("chmod 600 " + clientPath() + "/token"), std::string::npos) << warning;
    EXPECT_EQ(listed, 0);
  }
  // The environment takes precedence over the file.
  writeFile(clientPath() + "/token", "stale-token\n", 0600);
  {
    ClientEnv env(clientPath(), kToken, "");
    EXPECT_TRUE(openWindow(listed).empty());
    EXPECT_EQ(listed, 4);
  }
  EXPECT_EQ(daemon->terminate(), 0);
  EXPECT_EQ(daemon->countLines({"refused: access token missing"}), 2u) << daemon->log();
  EXPECT_EQ(daemon->countLines({"refused: access token wrong"}), 0u) << daemon->log();
}

}  // namespace
