// The addresses of remote object servers.
#include "qadj/com/endpoint.h"

namespace qadj::com {

std::optional<HostPort> SplitHostPort(const std::string& text) {
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return std::nullopt;
  HostPort out;
  out.host = text.substr(0, colon);
  const std::string port = text.substr(colon + 1);
  if (out.host.size() >= 2 && out.host.front() == '[' && out.host.back() == ']')
    out.host = out.host.substr(1, out.host.size() - 2);
  if (out.host.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != port.npos)
    return std::nullopt;
  out.port = std::stoi(port);
  if (out.port > 65535) return std::nullopt;
  return out;
}

bool IsLoopbackAddress(const std::string& listen) {
  if (listen.starts_with("127.")) {
    const auto colon = listen.rfind(':');
    const std::string host = listen.substr(0, colon);
    return colon != std::string::npos && host.find_first_not_of("0123456789.") == std::string::npos;
  }
  return listen.starts_with("localhost:") || listen.starts_with("[::1]:") ||
         listen.starts_with("unix:");
}

}  // namespace qadj::com
