#include "support/tls_material.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace qadj::testing {

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
