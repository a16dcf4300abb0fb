// The real qadj-appserver as a child process, its standard output and error read
// through a pipe; and throwaway TLS material made with the openssl tool.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qadj::testing {

class ListeningDaemon {
 public:
  // Starts program (by default the daemon) with args; extraEnv entries ("NAME=value")
  // are added to the environment of the child.
  explicit ListeningDaemon(const std::vector<std::string>& args,
                           const std::vector<std::string>& extraEnv = {},
                           const std::string& program = QADJ_APPSERVER_EXE);
  ~ListeningDaemon();  // kills a daemon still running
  ListeningDaemon(const ListeningDaemon&) = delete;
  ListeningDaemon& operator=(const ListeningDaemon&) = delete;

  // Reads output until it holds marker (true) or the output ends (false).
  bool readUntil(const std::string& marker);
  // Waits for the ready line and returns the port it names; 0 when the daemon ended.
  int waitReady();
  // SIGTERM, then reads to the end of output; returns the exit status.
  int stop();
  // Reads to the end of output and returns the exit status.
  int finish();
  const std::string& output() const { return text_; }
  pid_t pid() const { return pid_; }
  // Lines of the output that contain every one of the parts.
  std::size_t countLines(const std::vector<std::string>& parts) const;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string text_;
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
