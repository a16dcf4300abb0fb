#include "qadj/testing/postgres_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "qadj/appserver/database.h"

namespace qadj::testing {
namespace fs = std::filesystem;
namespace {

std::string findBinDir() {
  if (const char* env = std::getenv("QADJ_PG_BIN"); env && *env) return env;
  std::string best;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const auto candidate = entry.path() / "bin";
    if (fs::exists(candidate / "initdb") && candidate.string() > best) best = candidate.string();
  }
  return best;
}

// A port that was free a moment ago (the kernel's pick for port 0).
int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(s);
  return port;
}

}  // namespace

PostgresServer& PostgresServer::instance() {
  static PostgresServer server(Kind::Tests);
  return server;
}

PostgresServer& PostgresServer::durable() {
  static PostgresServer server(Kind::Durable);
  return server;
}

std::unique_ptr<PostgresServer> PostgresServer::primary() {
  return std::unique_ptr<PostgresServer>(new PostgresServer(Kind::Replicated));
}

std::unique_ptr<PostgresServer> PostgresServer::standbyOf(const PostgresServer& primary, int port) {
  return std::unique_ptr<PostgresServer>(new PostgresServer(Kind::Replicated, &primary, port));
}

PostgresServer::PostgresServer(Kind kind, const PostgresServer* standbyOf, int port)
    : kind_(kind), port_(port) {
  bin_ = findBinDir();
  if (bin_.empty()) {
    error_ = "no PostgreSQL server binaries (initdb) under /usr/lib/postgresql; set QADJ_PG_BIN";
    return;
  }
  char templ[] = "/tmp/qadj-pg-XXXXXX";
  if (!::mkdtemp(templ)) {
    error_ = "cannot create a temporary folder";
    return;
  }
  dir_ = templ;
  running_ = initialise(standbyOf);
  if (running_) startWatchdog();
}

std::string PostgresServer::command(const std::string& tool) const {
  const std::string path = bin_ + "/" + tool;
  return ::geteuid() == 0 ? "runuser -u postgres -- " + path : path;
}

bool PostgresServer::initialise(const PostgresServer* standbyOf) {
  if (::geteuid() == 0) {
    const passwd* pw = ::getpwnam("postgres");
    if (!pw) {
      error_ = "running as root but there is no postgres user to run the server as";
      return false;
    }
    if (::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      error_ = "cannot hand the temporary folder to the postgres user";
      return false;
    }
  }
  const std::string data = dir_ + "/data";
  // initdb's trust rules let the standby's copy and stream come from loopback.
  const std::string init =
      (standbyOf
           ? command("pg_basebackup") + " -h 127.0.0.1 -p " + std::to_string(standbyOf->port_) +
                 " -U postgres -R -X stream -c fast --no-sync -D "
           : command("initdb") + " -U postgres -A trust -E UTF8 --locale=C --no-sync -D ") +
      data + " > " + dir_ + "/initdb.log 2>&1";
  if (std::system(init.c_str()) != 0) {
    error_ = "making the data folder failed, see " + dir_ + "/initdb.log";
    return false;
  }
  if (port_ != 0 && launch()) return true;
  // A port can be taken between the probe and the server's bind: try a few.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = freePort();
    if (launch()) return true;
  }
  error_ = "pg_ctl could not start the server, see " + dir_ + "/server.log";
  return false;
}

bool PostgresServer::launch() {
  const std::string flushing = kind_ == Kind::Durable      ? " -c fsync=on -c synchronous_commit=on"
                               : kind_ == Kind::Replicated ? " -F -c synchronous_standby_names=*"
                                                           : " -F";
  const std::string start = command("pg_ctl") + " -D " + dir_ + "/data -l " + dir_ +
                            "/server.log -w -t 60 -o \"-p " + std::to_string(port_) + " -k " +
                            dir_ + " -c listen_addresses=127.0.0.1" + flushing +
                            "\" start > /dev/null 2>&1";
  return std::system(start.c_str()) == 0;
}

bool PostgresServer::stop() {
  if (!running_) return true;
  running_ = false;
  const std::string stop =
      command("pg_ctl") + " -D " + dir_ + "/data -m fast -w -t 60 stop > /dev/null 2>&1";
  return std::system(stop.c_str()) == 0;
}

bool PostgresServer::promote() {
  return std::system((command("pg_ctl") + " -D " + dir_ + "/data -w -t 60 promote > /dev/null 2>&1")
                         .c_str()) == 0;
}

void PostgresServer::crash() {
  if (!running_) return;
  running_ = false;
  [[maybe_unused]] const int rc = std::system(
      (command("pg_ctl") + " -D " + dir_ + "/data -m immediate -w stop > /dev/null 2>&1").c_str());
}

bool PostgresServer::start() {
  if (running_) return true;
  if (dir_.empty() || port_ == 0) return false;
  running_ = launch();
  if (!running_) error_ = "pg_ctl could not start the server again, see " + dir_ + "/server.log";
  return running_;
}

// A child process that stops the server and removes the folder when this process ends
// in any way, a kill included: it waits for the end of a pipe that only this process
// holds open (close-on-exec, so the server does not inherit it).
void PostgresServer::startWatchdog() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  const std::string cleanup = command("pg_ctl") + " -D " + dir_ +
                              "/data -m immediate -w stop > /dev/null 2>&1; rm -rf " + dir_;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[1]);
    char byte;
    while (::read(fds[0], &byte, 1) > 0) {
    }
    ::execl("/bin/sh", "sh", "-c", cleanup.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[0]);
  if (pid < 0) ::close(fds[1]);
}

PostgresServer::~PostgresServer() {
  crash();
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

std::string PostgresServer::url(const std::string& name) const {
  return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/" + name;
}

std::string PostgresServer::createDatabase() {
  if (!running_) throw std::runtime_error("PostgreSQL test server not running: " + error_);
  const std::string name = "qadj_test_" + std::to_string(++databases_);
  auto admin = appserver::openDatabase(url("postgres"));
  admin->execute("CREATE DATABASE " + name);
  return url(name);
}

}  // namespace qadj::testing
