#include "qadj/com/client_config.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qadj::com {
namespace {

std::string envText(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

bool readWhole(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

std::string trimmedFirstLine(const std::string& text) {
  const std::string line = text.substr(0, text.find('\n'));
  const auto b = line.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  const auto e = line.find_last_not_of(" \t\r");
  return line.substr(b, e - b + 1);
}

void loadToken(const std::string& dir, ClientSecurity& s) {
  s.token = envText("QADJ_TOKEN");
  if (!s.token.empty() || dir.empty()) return;
  const std::string path = dir + "/token";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;  // no token file: calls carry no token
  // A secret that other users can read is no longer a secret: refuse it, as ssh
  // refuses a private key with loose permissions.
  if (st.st_mode & (S_IRWXG | S_IRWXO)) {
    s.warning = "the token file " + path +
                " can be read or written by other users and is not used; make it private "
                "with: chmod 600 " +
                path;
    return;
  }
  std::string text;
  if (readWhole(path, text)) s.token = trimmedFirstLine(text);
}

void loadCa(const std::string& dir, ClientSecurity& s) {
  s.caFile = envText("QADJ_TLS_CA");
  if (s.caFile.empty() && !dir.empty()) {
    struct stat st {};
    if (::stat((dir + "/ca.pem").c_str(), &st) == 0) s.caFile = dir + "/ca.pem";
  }
  if (s.caFile.empty()) return;
  if (!readWhole(s.caFile, s.caPem)) {
    s.problem = "cannot read the certificate authority file " + s.caFile;
    s.caPem.clear();
  } else if (s.caPem.find("-----BEGIN CERTIFICATE-----") == std::string::npos) {
    s.problem = "the certificate authority file " + s.caFile + " holds no PEM certificate";
    s.caPem.clear();
  }
}

}  // namespace

std::string ClientConfigDir() {
  if (auto dir = envText("QADJ_CLIENT_DIR"); !dir.empty()) return dir;
  if (auto xdg = envText("XDG_CONFIG_HOME"); !xdg.empty()) return xdg + "/qadj";
  if (auto home = envText("HOME"); !home.empty()) return home + "/.config/qadj";
  return {};
}

ClientSecurity LoadClientSecurity() {
  ClientSecurity s;
  try {
    const std::string dir = ClientConfigDir();
    loadToken(dir, s);
    loadCa(dir, s);
  } catch (const std::exception& e) {
    s.problem = e.what();
  }
  return s;
}

std::chrono::seconds ClientCallTimeout() {
  try {
    std::string text = envText("QADJ_CALL_TIMEOUT");
    const std::string dir = ClientConfigDir();
    if (text.empty() && !dir.empty() && readWhole(dir + "/call_timeout", text))
      text = trimmedFirstLine(text);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 5)
      return kDefaultCallTimeout;
    const long seconds = std::stol(text);
    return seconds >= 1 && seconds <= 86400 ? std::chrono::seconds(seconds) : kDefaultCallTimeout;
  } catch (const std::exception&) {
    return kDefaultCallTimeout;
  }
}

}  // namespace qadj::com
