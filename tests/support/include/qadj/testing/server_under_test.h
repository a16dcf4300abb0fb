// Where a test's client finds its application-server objects: made in this process,
// served over gRPC by an object server in this process, or served by the daemon
// qadj-appserver running as a child process. Paired with a database dialect, a Setup
// names one case of a suite that runs over every transport and both databases.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qadj/com/com.h"
#include "qadj/com/object_server.h"
#include "qadj/testing/daemon_process.h"

namespace qadj::testing {

enum class Transport { InProcess, Grpc, Daemon };

struct Setup {
  Transport transport;
  const char* dialect;  // "sqlite" or "postgresql"
};

// "InProcess_sqlite", "Grpc_postgresql", "Daemon_sqlite", ...: a case name for gtest.
std::string setupName(const ::testing::TestParamInfo<Setup>& info);
// Every pair of the given transports and the two dialects, SQLite first.
std::vector<Setup> setupsOver(std::vector<Transport> transports);

class ServerUnderTest {
 public:
  // options: those of the object server (Grpc only; it always listens on 127.0.0.1
  // and a free port). No class is served until registerClass; nothing runs until start.
  explicit ServerUnderTest(Transport transport, com::RemoteServerOptions options = {});
  // Stops the object server or the daemon and revokes the in-process registrations.
  ~ServerUnderTest();
  ServerUnderTest(const ServerUnderTest&) = delete;
  ServerUnderTest& operator=(const ServerUnderTest&) = delete;

  Transport transport() const { return transport_; }

  // Objects of clsid come from factory: registered in this process (InProcess) or with
  // the object server (Grpc). The daemon makes its own objects: not for Daemon.
  void registerClass(const com::Guid& clsid, const std::string& progId, com::ClassFactory factory);

  // Grpc: starts the object server. Daemon: starts qadj-appserver with daemonArgs (its
  // arguments without --listen, e.g. {"--db", url}), its log files in logDir; false
  // with the reason in error() when it does not come up. InProcess: nothing to start.
  bool start(const std::vector<std::string>& daemonArgs = {}, const std::string& logDir = {});

  // The host text a client connects to: "" in process, "127.0.0.1:PORT" otherwise.
  std::string host() const;
  int port() const;
  // The object server (Grpc, after construction) and the daemon (Daemon, after start).
  com::RemoteObjectServer& remote();
  DaemonProcess& daemon();
  const std::string& error() const { return error_; }

 private:
  Transport transport_;
  std::unique_ptr<com::RemoteObjectServer> remote_;
  std::unique_ptr<DaemonProcess> daemon_;
  std::vector<com::Guid> inProcess_;
  std::string error_;
};

}  // namespace qadj::testing
