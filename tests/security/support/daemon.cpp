#include "support/daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qadj::testing {

ListeningDaemon::ListeningDaemon(const std::vector<std::string>& args,
                                 const std::vector<std::string>& extraEnv,
                                 const std::string& program) {
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> argv, envp;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(fds[1], 2);
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  out_ = fds[0];
}

ListeningDaemon::~ListeningDaemon() {
  if (pid_ > 0 && status_ < 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

bool ListeningDaemon::readUntil(const std::string& marker) {
  while (text_.find(marker) == std::string::npos) {
    char buf[1024];
    const auto n = ::read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    text_.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

int ListeningDaemon::waitReady() {
  if (!readUntil("serving ")) return 0;
  const auto line = text_.find("serving ");
  // The whole ready line: "... serving CLASS on ADDR:PORT, database URL[, ...]\n".
  while (text_.find('\n', line) == std::string::npos) {
    char buf[1024];
    const auto n = ::read(out_, buf, sizeof buf);
    if (n <= 0) return 0;
    text_.append(buf, static_cast<std::size_t>(n));
  }
  const auto end = text_.find(", database", line);
  const auto colon = text_.rfind(':', end);
  return end == std::string::npos || colon == std::string::npos || colon < line
             ? 0
             : std::atoi(text_.c_str() + colon + 1);
}

int ListeningDaemon::stop() {
  if (status_ < 0 && pid_ > 0) ::kill(pid_, SIGTERM);
  return finish();
}

int ListeningDaemon::finish() {
  if (status_ >= 0) return status_;
  readUntil("\x01never");
  int status = 0;
  ::waitpid(pid_, &status, 0);
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

std::size_t ListeningDaemon::countLines(const std::vector<std::string>& parts) const {
  std::istringstream in(text_);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) {
    bool all = true;
    for (const auto& p : parts) all = all && line.find(p) != std::string::npos;
    if (all) ++n;
  }
  return n;
}

std::string readText(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

void writeFile(const std::string& path, const std::string& text, unsigned mode) {
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
  }
  ::chmod(path.c_str(), static_cast<mode_t>(mode));
}

namespace {

void run(const std::string& command) {
  const std::string quiet = command + " >/dev/null 2>&1";
  if (std::system(quiet.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

}  // namespace

TlsMaterial makeTlsMaterial(const std::string& dir, const std::string& name) {
  TlsMaterial m;
  const std::string base = dir + "/" + name;
  m.caCert = base + "-ca.pem";
  m.caKey = base + "-ca.key";
  m.serverCert = base + "-server.pem";
  m.serverKey = base + "-server.key";
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  run("openssl req -x509" + ec + " -keyout " + m.caKey + " -out " + m.caCert +
      " -days 2 -subj /CN=" + name + "-test-ca -addext basicConstraints=critical,CA:TRUE" +
      " -addext keyUsage=critical,keyCertSign,cRLSign");
  run("openssl req" + ec + " -keyout " + m.serverKey + " -out " + base + "-server.csr" +
      " -subj /CN=localhost");
  writeFile(base + "-ext.cnf",
            "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n");
  run("openssl x509 -req -in " + base + "-server.csr -CA " + m.caCert + " -CAkey " + m.caKey +
      " -CAcreateserial -out " + m.serverCert + " -days 2 -extfile " + base + "-ext.cnf");
  return m;
}

}  // namespace qadj::testing
