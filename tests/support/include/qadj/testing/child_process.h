// A program run as a child process of a test: its output read through a pipe or
// written to a file, signalled, and killed and reaped at the end if it still runs.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qadj::testing {

class ChildProcess {
 public:
  enum class Output {
    Pipe,        // standard output and error into one pipe, read by readUntil
    StdoutPipe,  // standard output into the pipe; standard error stays the test's
    File,        // standard output and error into outputFile (created or truncated)
  };
  struct Options {
    std::vector<std::string> extraEnv;  // "NAME=value" entries added to the environment
    Output output = Output::Pipe;
    std::string outputFile;  // with Output::File
  };

  // Starts program (a path; it is also argv[0]) with args. Throws std::runtime_error
  // when the pipe, the output file or the fork cannot be had; a program that cannot be
  // run exits with status 127.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const Options& options);
  ChildProcess(const std::string& program, const std::vector<std::string>& args)
      : ChildProcess(program, args, Options{}) {}
  ~ChildProcess();  // SIGKILL and reap when still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads the pipe until the output holds marker (true) or the output ends (false).
  bool readUntil(const std::string& marker);
  // Reads one more piece of the pipe into output(); false at its end.
  bool readMore();
  // Reads the pipe to its end and reaps the process; returns the exit status (128 +
  // signal when a signal ended it). Returns the status already had when reaped.
  int finish();
  // Sends sig, then finish().
  int stop(int sig);
  void signal(int sig) const;
  // SIGKILL and reap; no-op when already reaped.
  void kill();
  // True, with the exit status, when the process has ended (reaped here); never waits.
  bool exited(int& status);
  bool running() const { return status_ < 0; }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return text_; }

 private:
  static int statusOf(int waitStatus);

  pid_t pid_ = -1;
  int out_ = -1;
  int status_ = -1;
  std::string text_;
};

// The lines of text (a child's output or log) that contain every one of parts.
std::vector<std::string> linesContaining(const std::string& text,
                                         const std::vector<std::string>& parts);

}  // namespace qadj::testing
