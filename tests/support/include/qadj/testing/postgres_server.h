// A private PostgreSQL server for the tests: initdb into a temporary folder, pg_ctl
// on a free loopback port with the unix socket in that folder, stopped and removed
// when the test program ends. As root the server binaries run as the postgres user.
// The tests' server skips flushing to disk (fsync off); the durable one flushes every
// commit, as a production server does.
#pragma once

#include <string>

namespace qadj::testing {

class PostgresServer {
 public:
  // The one server of this test program, started at the first call. When it cannot
  // start, error() says why.
  static PostgresServer& instance();
  // A second server of this program with fsync and synchronous_commit on, for the
  // measurements that must pay for durability. Started at the first call.
  static PostgresServer& durable();

  bool running() const { return running_; }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  // A connection URL to database name on this server.
  std::string url(const std::string& name) const;
  // Creates a new empty database and returns its URL. Throws on failure.
  std::string createDatabase();
  // Stops the server (fast shutdown: open sessions are ended, committed data kept).
  // Returns false when pg_ctl fails; running() is false afterwards either way.
  bool stop();
  // Starts the stopped server again on the same port and data folder and waits until
  // it accepts connections. Returns false (reason in error()) when it does not start.
  bool start();

  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

 private:
  explicit PostgresServer(bool durable);
  bool initialise();  // initdb, then launch()
  bool launch();      // pg_ctl start on port_
  void startWatchdog();
  std::string command(const std::string& tool) const;  // binary path with user switch

  bool durable_;
  std::string bin_, dir_;
  int port_ = 0;
  bool running_ = false;
  std::string error_;
  int databases_ = 0;
};

}  // namespace qadj::testing
