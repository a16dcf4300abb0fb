// The real qadj-appserver as a child process, its standard output and error read
// through a pipe; and throwaway TLS material made with the openssl tool.
#pragma once

#include <signal.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qadj/testing/child_process.h"

namespace qadj::testing {

class ListeningDaemon : public ChildProcess {
 public:
  // Starts program (by default the daemon) with args; extraEnv entries ("NAME=value")
  // are added to the environment of the child.
  explicit ListeningDaemon(const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv = {},
                           const std::string& program = QADJ_APPSERVER_EXE)
      : ChildProcess(program, args, {extraEnv, Output::Pipe, {}}) {}

  ~ListeningDaemon();

  // Waits for the ready line and returns the port it names; 0 when the daemon ended.
  // With drain, the output is read on from then on a thread of its own, so that a
  // daemon that logs much never blocks on a full pipe.
  int waitReady(bool drain = false);
  // SIGTERM, then reads to the end of output; returns the exit status.
  int stop();
  // Lines of the output so far that contain every one of the parts.
  std::size_t countLines(const std::vector<std::string>& parts) const;

 private:
  std::thread drain_;
  mutable std::mutex mutex_;
  std::string drained_;  // the output as the draining thread has read it
};

// The whole contents of a file; empty when it cannot be read.
std::string readText(const std::string& path);

// A file holding text, with the given permission bits.
void writeFile(const std::string& path, const std::string& text, unsigned mode = 0600);

// A certificate authority and a server certificate it signed for localhost and
// 127.0.0.1, made in dir by the openssl tool. Throws std::runtime_error when the tool
// fails.
struct TlsMaterial {
  std::string caCert, caKey;          // the authority
  std::string serverCert, serverKey;  // the daemon's
};
TlsMaterial makeTlsMaterial(const std::string& dir, const std::string& name);

}  // namespace qadj::testing
