// The daemon as an operator runs it: --init-demo, serving on a free loopback port
// with one line per request, a clean stop on SIGTERM, and refusals of unsafe or
// unusable set-ups.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "qadj/appserver/daemon_options.h"
#include "qadj/appserver/dates.h"
#include "qadj/appserver/provider.h"
#include "qadj/appserver/save_record.h"
#include "qadj/com/com.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/packet.h"
#include "qadj/testing/child_process.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/store_calls.h"
#include "qadj/testing/window_save.h"

namespace qadj::appserver {
namespace {

// The daemon with its standard output and error read through a pipe.
struct Daemon : qadj::testing::ChildProcess {
  explicit Daemon(const std::vector<std::string>& args, const Options& options = {})
      : ChildProcess(QADJ_APPSERVER_EXE, args, options) {}
};

// The next datagram on a service manager's notification socket, or "" when none came
// within 30 s.
std::string nextNotification(int fd) {
  pollfd wait{fd, POLLIN, 0};
  char text[512];
  const auto n = ::poll(&wait, 1, 30000) == 1 ? ::recv(fd, text, sizeof text, 0) : 0;
  return std::string(text, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
}

int portFrom(const std::string& log) {
  const auto at = log.find("127.0.0.1:");
  return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + 10);
}

TEST(Daemon, InitDemoThenServeAndStopOnSigterm) {
  qadj::testing::ComScope comScope;
  qadj::testing::TempDir dir;
  const std::string db = "sqlite:" + dir.path() + "/demo.sqlite";
  {
    Daemon init({"--db", db, "--init-demo"});
    EXPECT_EQ(init.finish(), 0) << init.output();
    EXPECT_NE(init.output().find("Operator code to use: 0001"), std::string::npos) << init.output();
  }
  // The new database is private to the user who made it.
  struct stat made {};
  ASSERT_EQ(::stat((dir.path() + "/demo.sqlite").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0600u);
  // Under a service manager it is ready once the database answered and the port
  // listens: the line saying so is written before.
  const int manager = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un at{AF_UNIX, {}};
  (dir.path() + "/notify").copy(at.sun_path, sizeof at.sun_path - 1);
  ASSERT_EQ(::bind(manager, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  qadj::testing::ChildProcess::Options underManager;
  underManager.extraEnv = {std::string("NOTIFY_SOCKET=") + at.sun_path};
  Daemon server({"--db", db, "--listen", "127.0.0.1:0"}, underManager);
  EXPECT_EQ(nextNotification(manager).rfind("READY=1\nSTATUS=serving on port ", 0), 0u);
  ASSERT_TRUE(server.readUntil("\n")) << server.output();
  const int port = portFrom(server.output());
  ASSERT_GT(port, 0) << server.output();

  com::HRESULT hr = com::S_OK;
  auto disp = qadj::testing::createServerOn("127.0.0.1:" + std::to_string(port), &hr);
  ASSERT_EQ(hr, com::S_OK);
  ASSERT_EQ(qadj::testing::refillOn(*disp, u"0012", dates::today()), com::S_OK);
  const auto p = qadj::testing::fetchOn(*disp,
                                        u"SELECT A.SPDM00,SPMC00,XL0000,YFXSL0,KTZXL0  FROM "
                                        u"PGTQADJ0 A,GSTJYGL1 B WHERE A.SPDM00=B.SPDM00 "
                                        u"ORDER BY SPDM00");
  ASSERT_EQ(p.hr, com::S_OK) << p.description;
  EXPECT_GT(p.rows, 5u);
  EXPECT_EQ(p.recordsSent, static_cast<std::int32_t>(p.rows));
  disp.reset();

  server.signal(SIGTERM);
  EXPECT_EQ(nextNotification(manager), "STOPPING=1");
  ::close(manager);
  EXPECT_EQ(server.finish(), 0) << server.output();
  EXPECT_NE(server.output().find("SIGTERM received"), std::string::npos) << server.output();
  EXPECT_NE(server.output().find(" ms\n"), std::string::npos) << "no request log";
}

TEST(Daemon, RefusesWhatAnAdministratorGetsWrongInOneLineNamingIt) {
  qadj::testing::TempDir dir;
  const std::string emptyFile = dir.path() + "/empty.sqlite";
  std::fclose(std::fopen(emptyFile.c_str(), "w"));
  // What only the administrator can mend exits with 78, which the unit does not restart.
  Daemon empty({"--db", "sqlite:" + emptyFile, "--listen", "127.0.0.1:0"});
  EXPECT_EQ(empty.finish(), kExitConfiguration);
  EXPECT_NE(empty.output().find("<3>qadj-appserver: the database has no schema; run"),
            std::string::npos)
      << empty.output();

  // A mistyped path creates nothing, for the daemon as for the journal.
  const std::string typo = dir.path() + "/quota.sqlit";
  for (const auto& action : {std::string("--listen"), std::string("--journal")}) {
    Daemon daemon(
        action == "--journal"
            ? std::vector<std::string>{"--db", "sqlite:" + typo, "--journal"}
            : std::vector<std::string>{"--db", "sqlite:" + typo, "--listen", "127.0.0.1:0"});
    EXPECT_EQ(daemon.finish(), kExitConfiguration);
    EXPECT_NE(daemon.output().find("<3>qadj-appserver: there is no SQLite database at " + typo +
                                   ": check the path"),
              std::string::npos)
        << daemon.output();
    EXPECT_NE(::access(typo.c_str(), F_OK), 0) << action << " created " << typo;
  }

  // Option errors (status 2): one line each, the value named, no usage. On a database
  // that serves, a port another process holds (status 1: it may be freed) and a token
  // file missing or readable by others (78).
  const std::string db = "sqlite:" + dir.path() + "/quota.sqlite";
  EXPECT_EQ(Daemon({"--db", db, "--init-schema"}).finish(), 0);
  const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof at;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  ::getsockname(holder, reinterpret_cast<sockaddr*>(&at), &length);
  const std::string sharedToken = dir.path() + "/token";
  std::fclose(std::fopen(sharedToken.c_str(), "w"));
  ::chmod(sharedToken.c_str(), 0644);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const std::vector<Case> wrong = {
      {{"--db", "sqlite:" + emptyFile, "--listen", "0.0.0.0:0"}, 2, "requires --token-file"},
      {{"--db", "sqlite:" + emptyFile, "--listen", "127.attacker.example:0"},
       2,
       "requires --token-file"},
      {{"--db", "sqlite:" + emptyFile, "--listen", "127.0.0.1:99999"}, 2, "not 127.0.0.1:99999"},
      {{"--probe", "127.0.0.1:72847"}, 2, "from 1 to 65535, not 127.0.0.1:72847"},
      {{"--probe", "127.0.0.1:0"}, 2, "from 1 to 65535"},
      {{"--probe", "127.0.0.1:-1"}, 2, "from 1 to 65535"},
      {{"--db", "mysql://x", "--init-schema"}, kExitConfiguration, "not understood"},
      {{"--db", db, "--listen", "127.0.0.1:" + std::to_string(ntohs(at.sin_port))},
       1,
       "Address already in use; another process listens there"},
      {{"--db", db, "--listen", "0.0.0.0:0", "--token-file", dir.path() + "/absent"},
       kExitConfiguration,
       "there is no token file at " + dir.path() + "/absent"},
      {{"--db", db, "--listen", "0.0.0.0:0", "--token-file", sharedToken},
       kExitConfiguration,
       "can be read or written by other users; make it private with: chmod 600"}};
  for (const auto& [args, status, says] : wrong) {
    Daemon daemon(args);
    EXPECT_EQ(daemon.finish(), status) << args.back();
    EXPECT_NE(daemon.output().find("<3>qadj-appserver: "), std::string::npos) << daemon.output();
    EXPECT_NE(daemon.output().find(says), std::string::npos) << daemon.output();
    const auto lines = std::count(daemon.output().begin(), daemon.output().end(), '\n');
    if (status == 2) {
      EXPECT_EQ(lines, 1) << daemon.output();
    } else {
      EXPECT_LE(lines, 2) << daemon.output();
    }
  }
  ::close(holder);

  // A database this user may not write is named with its fix at start, not met as
  // "attempt to write a readonly database" at the first save (root plays nobody).
  ::chmod((dir.path() + "/quota.sqlite").c_str(), 0444);
  std::vector<std::string> asUser = {QADJ_APPSERVER_EXE, "--db", db, "--listen", "127.0.0.1:0"};
  if (::getuid() == 0)
    asUser.insert(asUser.begin(), {"--reuid=nobody", "--regid=nogroup", "--clear-groups"});
  qadj::testing::ChildProcess locked(::getuid() == 0 ? "/usr/bin/setpriv" : QADJ_APPSERVER_EXE,
                                     {asUser.begin() + (::getuid() == 0 ? 0 : 1), asUser.end()});
  EXPECT_EQ(locked.finish(), kExitConfiguration) << locked.output();
  EXPECT_NE(locked.output().find("cannot be read and written by this user"), std::string::npos)
      << locked.output();
}

// A database of an earlier version (no record of saves, no guards) is brought up to date
// by --init-schema, as often as it is run, without a quota row changed.
TEST(Daemon, InitSchemaUpgradesAnEarlierDatabaseAndChangesNoRow) {
  qadj::testing::TempDir dir;
  const std::string url = "sqlite:" + dir.path() + "/earlier.sqlite";
  ASSERT_EQ(Daemon({"--db", url, "--init-demo"}).finish(), 0);
  const char* quotas = "SELECT COUNT(*), SUM(XL0000) FROM XSTXLGL01";
  const char* extras =
      "SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' OR name LIKE 'QADJ%'";
  auto db = openDatabase(url, OpenMode::Existing);
  const auto rows = db->query(quotas).rows, made = db->query(extras).rows;
  std::string drop;
  for (const auto& name : db->query("SELECT type, name FROM sqlite_master WHERE type = 'trigger' "
                                    "OR (type = 'table' AND name LIKE 'QADJ%')")
                              .rows)
    drop += "DROP " + std::get<std::string>(name[0]) + " " + std::get<std::string>(name[1]) + ";";
  db->executeScript(drop);
  ASSERT_FALSE(saveRecordExists(*db));
  for (int run = 0; run < 2; ++run) {
    Daemon upgrade({"--db", url, "--init-schema"});
    EXPECT_EQ(upgrade.finish(), 0) << upgrade.output();
    EXPECT_EQ(db->query(extras).rows, made);
    EXPECT_EQ(db->query(quotas).rows, rows);
  }
}

TEST(Daemon, JournalPrintsEachReceiverOfEachSaveAsTableOrCsv) {
  qadj::testing::TempDir dir;
  const std::string url = "sqlite:" + dir.path() + "/journal.sqlite";
  {
    auto db = openDatabase(url);
    qadj::testing::seedKnownData(*db);
    const std::string block =
        qadj::testing::windowSave("D1", "10000001", "0012", {{"0013", 1.5}, {"0021", 0}});
    const SaveContext first{"0123456789abcdef0123456789abcdef", "0001", "ipv4:127.0.0.1:1"};
    const SaveContext second{"1123456789abcdef0123456789abcdef", "=HYPERLINK(1)", "a,b"};
    executeCommand(*db, block, &first);
    executeCommand(*db, block, &second);
    // A code holding the journal's separators, and a row of an earlier version whose
    // operator holds a line break: neither makes another entry or line.
    db->execute("INSERT INTO XSTXLGL01 VALUES ('D1', 'a=;%', '10000001', 1)");
    const SaveContext third{"2123456789abcdef0123456789abcdef", "0\n01", "in-process"};
    executeCommand(*db, qadj::testing::windowSave("D1", "10000001", "0012", {{"a=;%", 1}}), &third);
    EXPECT_EQ(readJournal(*db, {}).back().receivers,
              (std::vector<std::pair<std::string, double>>{{"a=;%", 1}}));
  }
  Daemon table({"--db", url, "--journal"});
  EXPECT_EQ(table.finish(), 0) << table.output();
  // A heading, then one line per receiver, oldest save first.
  const std::string& t = table.output();
  EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 6) << t;
  EXPECT_NE(t.find(" 0\\x0a01 "), std::string::npos) << t;
  EXPECT_NE(t.find(" a=;% "), std::string::npos) << t;
  EXPECT_EQ(t.find("saved at (UTC)"), 0u) << t;
  EXPECT_LT(t.find("0123456789abcdef"), t.find("1123456789abcdef")) << t;
  EXPECT_NE(t.find("D1        10000001  0012   0013         1.5    1.5  0123"), std::string::npos)
      << t;

  Daemon csv({"--db", url, "--journal", "--operator", "=HYPERLINK(1)", "--format", "csv"});
  EXPECT_EQ(csv.finish(), 0) << csv.output();
  const std::string& c = csv.output();
  EXPECT_EQ(std::count(c.begin(), c.end(), '\n'), 3) << c;
  // Nothing a spreadsheet would run; a comma quoted; numbers as numbers.
  EXPECT_NE(c.find(",'=HYPERLINK(1),\"a,b\",D1,10000001,0012,0021,0,1.5,"), std::string::npos) << c;

  Daemon none({"--db", url, "--journal", "--since", "2999-01-01", "--product", "10000001"});
  EXPECT_EQ(none.finish(), 0) << none.output();
  EXPECT_EQ(std::count(none.output().begin(), none.output().end(), '\n'), 1) << none.output();

  Daemon badDay({"--db", url, "--journal", "--since", "yesterday"});
  EXPECT_EQ(badDay.finish(), 2) << badDay.output();
  Daemon stray({"--db", url, "--operator", "0001"});
  EXPECT_EQ(stray.finish(), 2) << stray.output();
  EXPECT_NE(stray.output().find("go with --journal"), std::string::npos) << stray.output();
}

}  // namespace
}  // namespace qadj::appserver
