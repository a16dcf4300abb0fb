#include "qadj/testing/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qadj::testing {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Options& options) {
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  envStore.insert(envStore.end(), options.extraEnv.begin(), options.extraEnv.end());
  std::vector<char*> argv, envp;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int fds[2] = {-1, -1};
  if (options.output == Output::File) {
    fds[1] = ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fds[1] < 0) throw std::runtime_error("cannot create " + options.outputFile);
  } else if (::pipe2(fds, O_CLOEXEC) != 0) {  // only the copies made below survive exec
    throw std::runtime_error("pipe failed");
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(fds[1], 1);
    if (options.output != Output::StdoutPipe) ::dup2(fds[1], 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  out_ = fds[0];
  if (pid_ < 0) {
    if (out_ >= 0) ::close(out_);
    throw std::runtime_error("fork failed");
  }
}

ChildProcess::~ChildProcess() {
  kill();
  if (out_ >= 0) ::close(out_);
}

bool ChildProcess::readMore() {
  if (out_ < 0) return false;
  char buf[1024];
  const auto n = ::read(out_, buf, sizeof buf);
  if (n <= 0) return false;
  text_.append(buf, static_cast<std::size_t>(n));
  return true;
}

bool ChildProcess::readUntil(const std::string& marker) {
  while (text_.find(marker) == std::string::npos)
    if (!readMore()) return false;
  return true;
}

int ChildProcess::statusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

int ChildProcess::finish() {
  while (readMore()) {
  }
  if (status_ < 0) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    status_ = statusOf(status);
  }
  return status_;
}

int ChildProcess::stop(int sig) {
  signal(sig);
  return finish();
}

void ChildProcess::signal(int sig) const {
  if (status_ < 0) ::kill(pid_, sig);
}

void ChildProcess::kill() {
  if (status_ >= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  status_ = statusOf(status);
}

bool ChildProcess::exited(int& status) {
  int s = 0;
  if (status_ < 0 && ::waitpid(pid_, &s, WNOHANG) == pid_) status_ = statusOf(s);
  status = status_;
  return status_ >= 0;
}

std::vector<std::string> linesContaining(const std::string& text,
                                         const std::vector<std::string>& parts) {
  std::vector<std::string> found;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    bool all = true;
    for (const auto& part : parts) all = all && line.find(part) != std::string::npos;
    if (all) found.push_back(line);
  }
  return found;
}

}  // namespace qadj::testing
