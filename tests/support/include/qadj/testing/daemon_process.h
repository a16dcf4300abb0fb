// The application-server daemon as a child process of a test: started on a free
// loopback port, killed without warning (SIGKILL) and started again on the same port,
// its standard error kept in a log file that the test can search.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "qadj/testing/child_process.h"

namespace qadj::testing {

class DaemonProcess {
 public:
  // args: the daemon's arguments; "--listen 127.0.0.1:PORT" is added unless they name
  // an address of their own ("--listen ADDR:PORT", used as given at every start).
  // wrapper: a program and its arguments that run the daemon (e.g. prlimit with limits
  // and "--"); empty for none. The log files go to logDir, one per start.
  DaemonProcess(std::vector<std::string> args, std::string logDir,
                std::vector<std::string> wrapper = {});
  // Kills the daemon if it still runs.
  ~DaemonProcess();
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Starts the daemon (first start: a free port; later starts: the same port) and
  // waits until it reports that it serves. Returns false, with the reason in error(),
  // when it exits or stays silent until the deadline. A port that is still taken is
  // retried until the deadline.
  bool start(std::chrono::milliseconds deadline = std::chrono::seconds(30));
  // SIGKILL, then reaps the process. No-op when not running.
  void kill();
  // SIGTERM, then waits for the exit; returns the exit status (128+signal when killed
  // by a signal), -1 when not running.
  int terminate();
  bool running() const { return child_ != nullptr; }
  pid_t pid() const { return child_ ? child_->pid() : -1; }
  int port() const { return port_; }
  // "127.0.0.1:PORT", the host text clients use.
  std::string host() const;
  // Everything the current (or last) run wrote to standard output and error so far.
  std::string log() const;
  // How many lines of log() contain every one of parts.
  std::size_t countLines(const std::vector<std::string>& parts) const {
    return linesContaining(log(), parts).size();
  }
  // Waits until the current run's log holds text (true) or the deadline passes.
  bool waitForLog(const std::string& text,
                  std::chrono::milliseconds deadline = std::chrono::seconds(30)) const;
  const std::string& error() const { return error_; }
  int starts() const { return starts_; }

 private:
  bool launch(std::chrono::steady_clock::time_point until);
  std::string logPath() const;

  std::vector<std::string> args_;
  std::string logDir_;
  std::vector<std::string> wrapper_;
  std::unique_ptr<ChildProcess> child_;  // null when not running
  int port_ = 0;
  int starts_ = 0;
  std::string error_;
};

// Path of the daemon executable (compiled in by the build).
std::string daemonExecutable();

// The tests' private PostgreSQL server has only its superuser: daemon arguments naming
// a PostgreSQL URL (or libpq's keyword form starting "host=") get --allow-superuser
// (DaemonProcess adds it itself).
void allowTestSuperuser(std::vector<std::string>& args);

}  // namespace qadj::testing
