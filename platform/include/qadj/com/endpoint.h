// Where a remote object server listens or is called, and asking one whether it serves:
// what the server, the daemon's options and the clients share.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "qadj/platform/export.h"

namespace qadj::com {

// An address to listen on or to call: "HOST:PORT" or "[V6]:PORT" (the brackets
// removed from host).
struct HostPort {
  std::string host;
  int port = 0;
};
// The parts of text; nullopt when it is neither form or the port is not a decimal
// number from 0 to 65535 (0: any free port, for listening only).
QADJ_PLATFORM_API std::optional<HostPort> SplitHostPort(const std::string& text);

// True when an address to listen on ("HOST:PORT") is reached from this computer only:
// a numeric 127.x.y.z, localhost, [::1], or a unix socket ("unix:PATH"). A host name
// that starts with "127." is not: it may resolve anywhere. A server listening anywhere
// else requires a token.
QADJ_PLATFORM_API bool IsLoopbackAddress(const std::string& listen);

// What the health service of a server answered.
struct HealthAnswer {
  bool serving = false;  // SERVING
  std::string status;    // "SERVING", "NOT_SERVING", ... or why no answer came
};

// Asks the health service of the server at target ("host:port") once, waiting at most
// timeout; over TLS when the client's settings name an authority (LoadClientSecurity).
// Never throws.
QADJ_PLATFORM_API HealthAnswer ProbeHealth(const std::string& target,
                                           std::chrono::milliseconds timeout);

}  // namespace qadj::com
