// Files a test writes for the daemon and its clients, and throwaway TLS material made
// with the openssl tool.
#pragma once

#include <string>

namespace qadj::testing {

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
