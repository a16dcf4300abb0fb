#include "qadj/testing/daemon_process.h"

#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace qadj::testing {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollPeriod = std::chrono::milliseconds(5);

// The port of the ready line "... serving <progid> on ADDR:PORT, database ..."; 0 until
// the line is written as far as ", database".
int portOfReadyLine(const std::string& log) {
  const auto serving = log.find("serving ");
  const auto end = log.find(", database", serving);
  const auto colon = log.rfind(':', end);
  if (serving == std::string::npos || end == std::string::npos || colon == std::string::npos ||
      colon < serving)
    return 0;
  return std::atoi(log.c_str() + colon + 1);
}

}  // namespace

std::string daemonExecutable() {
  return QADJ_APPSERVER_EXE;
}

void allowTestSuperuser(std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a.rfind("postgres", 0) == 0 || a.rfind("host=", 0) == 0) {
      args.push_back("--allow-superuser");
      return;
    }
}

DaemonProcess::DaemonProcess(std::vector<std::string> args, std::string logDir,
                             std::vector<std::string> wrapper)
    : args_(std::move(args)), logDir_(std::move(logDir)), wrapper_(std::move(wrapper)) {}

DaemonProcess::~DaemonProcess() {
  kill();
}

std::string DaemonProcess::host() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string DaemonProcess::logPath() const {
  return logDir_ + "/daemon-" + std::to_string(starts_) + ".log";
}

std::string DaemonProcess::log() const {
  std::ifstream in(logPath());
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool DaemonProcess::waitForLog(const std::string& text, std::chrono::milliseconds deadline) const {
  const auto until = Clock::now() + deadline;
  for (;;) {
    if (log().find(text) != std::string::npos) return true;
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(kPollPeriod);
  }
}

bool DaemonProcess::start(std::chrono::milliseconds deadline) {
  if (running()) return true;
  const auto until = Clock::now() + deadline;
  // A restart right after a kill may find the port not yet free: try again.
  while (!launch(until)) {
    if (Clock::now() >= until || port_ == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool DaemonProcess::launch(Clock::time_point until) {
  ++starts_;
  std::vector<std::string> args = args_;
  allowTestSuperuser(args);
  if (std::find(args.begin(), args.end(), "--listen") == args.end())
    args.insert(args.end(), {"--listen", "127.0.0.1:" + std::to_string(port_)});
  std::string program = daemonExecutable();
  if (!wrapper_.empty()) {
    args.insert(args.begin(), program);
    args.insert(args.begin(), wrapper_.begin() + 1, wrapper_.end());
    program = wrapper_.front();
  }
  try {
    child_ = std::make_unique<ChildProcess>(
        program, args, ChildProcess::Options{{}, ChildProcess::Output::File, logPath()});
  } catch (const std::exception& e) {
    error_ = e.what();
    return false;
  }
  for (;;) {
    const std::string text = log();
    if (const int port = portOfReadyLine(text); port > 0) {
      port_ = port;
      return true;
    }
    int status = 0;
    if (child_->exited(status)) {
      child_.reset();
      error_ = "the daemon exited before serving: " + text;
      return false;
    }
    if (Clock::now() >= until) {
      kill();
      error_ = "the daemon did not report serving in time: " + text;
      return false;
    }
    std::this_thread::sleep_for(kPollPeriod);
  }
}

void DaemonProcess::kill() {
  child_.reset();  // SIGKILL and reap
}

int DaemonProcess::terminate() {
  if (!child_) return -1;
  const int status = child_->stop(SIGTERM);
  child_.reset();
  return status;
}

}  // namespace qadj::testing
