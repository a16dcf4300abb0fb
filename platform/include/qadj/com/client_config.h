// Where a client of remote objects finds its access token and the certificate
// authority of the daemon's TLS certificate: the environment first, then files in the
// client folder, kept apart from the plug-in's own settings file.
#pragma once

#include <chrono>
#include <string>

#include "qadj/platform/export.h"

namespace qadj::com {

// The client folder: $QADJ_CLIENT_DIR when set and not empty, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/qadj. Empty when none of these is known.
QADJ_PLATFORM_API std::string ClientConfigDir();

struct ClientSecurity {
  std::string token;    // sent with every call; empty: none
  std::string caFile;   // PEM file of the trusted authority; empty: plain channel
  std::string caPem;    // its contents (read when caFile is set)
  std::string problem;  // why the configuration cannot be used; empty when it can
  std::string warning;  // something ignored on the way (a token file others can read)
};

// Reads the client's security settings:
// - token: $QADJ_TOKEN when set and not empty, else the first line (blanks trimmed) of
//   the file "token" in ClientConfigDir(). A token file that users other than its
//   owner may read or write is not used: warning says so, and the token stays empty.
// - CA: $QADJ_TLS_CA when set and not empty, else "ca.pem" in ClientConfigDir() when
//   that file exists. A CA file that is named but cannot be read, or holds no
//   certificate, sets problem: the client must not fall back to a plain channel or to
//   other authorities.
// Never throws.
QADJ_PLATFORM_API ClientSecurity LoadClientSecurity();

// How long one remote call may take before the client gives up on it
// (RPC_E_CALL_TIMEOUT): $QADJ_CALL_TIMEOUT when set, else the first line of the file
// "call_timeout" in ClientConfigDir(), in whole seconds from 1 to 86400; else (also
// for a value that is not such a number) kDefaultCallTimeout, generous for the largest
// fetch. Never throws.
inline constexpr std::chrono::seconds kDefaultCallTimeout{120};
QADJ_PLATFORM_API std::chrono::seconds ClientCallTimeout();

}  // namespace qadj::com
