// Command line of the daemon qadj-appserver.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace qadj::appserver {

// Exit status of the daemon when its set-up is wrong in a way that starting again
// cannot mend (sysexits' EX_CONFIG): the unit does not restart it. Option errors exit
// with 2; a database or port that may come back, with 1.
inline constexpr int kExitConfiguration = 78;

// A file or setting of the daemon's set-up that the administrator must mend; what()
// names it and the fix.
class ConfigurationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct DaemonOptions {
  enum class Action { Serve, InitSchema, InitDemo, Journal, Help, Version, Probe };
  Action action = Action::Serve;
  std::string dbUrl;
  std::string listen = "127.0.0.1:7311";
  std::string tokenFile;
  std::string tlsCert, tlsKey;
  int leaseSeconds = 30;  // objects of a silent client are released after it
  int maxObjectsPerClient = 64;
  int maxObjectsPerHost = 128;       // objects of all clients on one computer
  int maxObjectsTotal = 256;         // objects (database sessions) of all clients
  int maxRequestMiB = 4;             // largest request on the wire
  int maxMessageMiB = 256;           // largest reply on the wire
  int maxResultMiB = 64;             // largest record set one query may build
  int statementTimeoutSeconds = 30;  // a statement running longer is cancelled
  int maxCallsPerHost = 32;          // calls in flight of all clients on one computer
  int maxRepliesMiB = 1024;          // memory of replies in all; a client a quarter
  int replyTimeoutSeconds = 60;      // a reply not read by then is dropped
  int maxConnections = 0;            // open connections; 0: from the descriptor limit
  // Serve through a PostgreSQL role with more than the window's privileges.
  bool allowSuperuser = false;
  // The request log: one line per request (--log-requests on|off), statements as their
  // shape or their text (--log-sql shape|full).
  bool logRequests = true;
  bool logStatementText = false;
  int healthIntervalSeconds = 5;  // the database is asked at most this often
  // --metrics ADDR:PORT: where GET /metrics answers; empty: no metrics endpoint.
  std::string metricsListen;
  // --probe HOST:PORT: asks that daemon's health service.
  std::string probeTarget;
  // --journal: which transfers to print, and how.
  std::string journalSince, journalOperator, journalProduct;
  bool journalCsv = false;
};

// Usage text printed by --help and after a command-line error.
std::string daemonUsage();

// Reads the arguments (without the program name). environmentDbUrl (QADJ_DB_URL of
// the environment, where a password is not shown to other users as a command line is)
// stands for a missing --db. Throws std::invalid_argument with a message for the
// operator: unknown option, missing value, no database (but for --help, --version and
// --probe), a --listen or --probe address without a valid port, a non-loopback
// --listen address without --token-file, only one of --tls-cert and --tls-key, a
// limit that is not a whole number from 1 to 65536.
DaemonOptions parseDaemonOptions(const std::vector<std::string>& args,
                                 const std::string& environmentDbUrl = "");

// Throws ConfigurationError, naming the file as what ("token file", "TLS key file"),
// when a file holding a secret can be read or written by other users (any "other"
// permission bit, or group write: root:qadj 0640 is the daemon's own group). A file
// that cannot be examined passes: reading it will fail and say so.
void requirePrivateFile(const std::string& path, const std::string& what);

// Throws ConfigurationError, naming the file as what and the reason, when this user
// cannot read the file.
void requireReadableFile(const std::string& path, const std::string& what);

// The access token: the first line of the file, blanks trimmed. Throws
// ConfigurationError when the file cannot be read, holds no token, or is not private
// (requirePrivateFile).
std::string readTokenFile(const std::string& path);

}  // namespace qadj::appserver
