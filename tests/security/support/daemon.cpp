#include "support/daemon.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace qadj::testing {

ListeningDaemon::~ListeningDaemon() {
  if (drain_.joinable()) {
    kill();  // ends the output, and so the draining thread
    drain_.join();
  }
}

int ListeningDaemon::waitReady(bool drain) {
  if (!readUntil("serving ")) return 0;
  const std::string& text = output();
  const auto line = text.find("serving ");
  // The whole ready line: "... serving CLASS on ADDR:PORT, database URL[, ...]\n".
  while (text.find('\n', line) == std::string::npos)
    if (!readMore()) return 0;
  const auto end = text.find(", database", line);
  const auto colon = text.rfind(':', end);
  const int port = end == std::string::npos || colon == std::string::npos || colon < line
                       ? 0
                       : std::atoi(text.c_str() + colon + 1);
  if (drain && port > 0) {
    drained_ = output();
    drain_ = std::thread([this] {
      // output() grows on this thread only; the others read the copy.
      while (readMore()) {
        std::lock_guard lock(mutex_);
        drained_.append(output(), drained_.size());
      }
    });
  }
  return port;
}

int ListeningDaemon::stop() {
  if (!drain_.joinable()) return ChildProcess::stop(SIGTERM);
  signal(SIGTERM);
  drain_.join();
  return finish();
}

std::size_t ListeningDaemon::countLines(const std::vector<std::string>& parts) const {
  if (drain_.joinable()) {
    std::lock_guard lock(mutex_);
    return linesContaining(drained_, parts).size();
  }
  return linesContaining(output(), parts).size();
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
