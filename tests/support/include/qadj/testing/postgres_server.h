// A private PostgreSQL server for the tests: initdb into a temporary folder, pg_ctl
// on a free loopback port with the unix socket in that folder, stopped and removed
// when the test program ends. As root the server binaries run as the postgres user.
// The tests' server skips flushing to disk (fsync off); the durable one flushes every
// commit, as a production server does.
#pragma once

#include <memory>
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
  // A server of its own whose commits wait for a synchronous streaming standby (any
  // standby that connects counts), for the tests of failing over; a promoted standby
  // waits for one as well.
  static std::unique_ptr<PostgresServer> primary();
  // A streaming standby of primary, made with pg_basebackup, on port (0: a free one).
  static std::unique_ptr<PostgresServer> standbyOf(const PostgresServer& primary, int port = 0);

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
  // Promotes this standby and waits until it accepts writes. Returns false when pg_ctl
  // fails.
  bool promote();
  // Stops the server as a crash would (immediate shutdown: nothing flushed, sessions
  // cut).
  void crash();

  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

 private:
  enum class Kind { Tests, Durable, Replicated };
  // standbyOf: the primary to copy (pg_basebackup) instead of initdb.
  PostgresServer(Kind kind, const PostgresServer* standbyOf = nullptr, int port = 0);
  bool initialise(const PostgresServer* standbyOf);  // initdb or pg_basebackup, then launch()
  bool launch();                                     // pg_ctl start on port_
  void startWatchdog();
  std::string command(const std::string& tool) const;  // binary path with user switch

  Kind kind_;
  std::string bin_, dir_;
  int port_ = 0;
  bool running_ = false;
  std::string error_;
  int databases_ = 0;
};

}  // namespace qadj::testing
