#include "qadj/appserver/daemon_options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "qadj/appserver/dates.h"
#include "qadj/com/endpoint.h"

namespace qadj::appserver {

std::string daemonUsage() {
  return "usage: qadj-appserver --db URL [--listen ADDR:PORT] [--token-file FILE]\n"
         "                      [--tls-cert FILE --tls-key FILE] [--lease SECONDS]\n"
         "                      [--max-objects N] [--max-objects-per-host N]\n"
         "                      [--max-objects-total N]\n"
         "                      [--max-request-mib N] [--max-message-mib N] [--max-result-mib N]\n"
         "                      [--statement-timeout SECONDS] [--allow-superuser]\n"
         "                      [--max-calls-per-host N] [--max-replies-mib N]\n"
         "                      [--reply-timeout SECONDS] [--max-connections N]\n"
         "                      [--log-requests on|off]\n"
         "                      [--log-sql shape|full] [--health-interval SECONDS]\n"
         "                      [--metrics ADDR:PORT]\n"
         "       qadj-appserver --db URL --init-schema\n"
         "       qadj-appserver --db URL --init-demo\n"
         "       qadj-appserver --db URL --journal [--since YYYY-MM-DD] [--operator CODE]\n"
         "                      [--product CODE] [--format table|csv]\n"
         "       qadj-appserver --probe HOST:PORT\n"
         "       qadj-appserver --version\n"
         "  URL: sqlite:PATH or postgresql://USER@HOST:PORT/DBNAME; several PostgreSQL\n"
         "      servers as postgresql://USER@A:PORT,B:PORT/DBNAME?target_session_attrs=\n"
         "      read-write or \"host=A,B port=P dbname=D target_session_attrs=read-write\";\n"
         "      without --db, the environment's QADJ_DB_URL. Give a PostgreSQL password\n"
         "      in a passfile (PGPASSFILE), never in the URL: a command line is shown to\n"
         "      every user\n"
         "  --listen defaults to 127.0.0.1:7311; other than loopback needs --token-file\n"
         "  --lease: a client not heard for this long loses its objects (default 30)\n"
         "  --max-objects: objects one client may hold at once (default 64)\n"
         "  --max-objects-per-host: objects of all clients on one computer (default 128)\n"
         "  --max-objects-total: objects, and so database sessions, of all clients\n"
         "      together (default 256)\n"
         "  --max-request-mib: largest request (default 4)\n"
         "  --max-message-mib: largest reply (default 256)\n"
         "  --max-result-mib: largest record set one query may build (default 64)\n"
         "  --statement-timeout: a statement running longer is cancelled (default 30)\n"
         "  --max-calls-per-host: calls in flight of all clients on one computer\n"
         "      (default 32; one client: 16)\n"
         "  --max-replies-mib: memory of replies not yet sent, in all (default 1024; one\n"
         "      client: a quarter)\n"
         "  --reply-timeout: a reply its client has not read by then is dropped (default 60)\n"
         "  --max-connections: open connections (default: what the descriptor limit\n"
         "      leaves beside the database sessions; one computer: a quarter)\n"
         "  --allow-superuser: serve through a PostgreSQL role that is a superuser, may\n"
         "      create roles or databases, may become such a role, or owns the tables\n"
         "      (refused without it; for a private test server only)\n"
         "  --log-requests: one line per request to standard error (default on)\n"
         "  --log-sql: statements in the request log as their shape, every literal value\n"
         "      replaced by ? (default), or in full, with the data they carry\n"
         "  --health-interval: how often the health service asks the database (default 5)\n"
         "  --metrics: serves GET /metrics (Prometheus) on ADDR:PORT (default: none)\n"
         "  --probe: asks the health service of a daemon; exit status 0 when it serves\n"
         "  --journal: prints the transfers saved (one line per receiver), oldest first;\n"
         "      --since keeps those saved on or after the day (UTC)\n";
}

namespace {

// A limit option's value: a whole number from 1 to 65536.
int positive(const std::string& option, const std::string& text) {
  std::size_t used = 0;
  long v = 0;
  try {
    v = std::stol(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || v < 1 || v > 65536)
    throw std::invalid_argument("option " + option + " needs a whole number from 1 to 65536");
  return static_cast<int>(v);
}

// An option that takes one of two words: true for the first, false for the second.
bool choice(const std::string& option, const std::string& text, const char* first,
            const char* second) {
  if (text != first && text != second)
    throw std::invalid_argument("option " + option + " is " + first + " or " + second);
  return text == first;
}

// The options that set a whole number of the daemon's (checked by positive()).
constexpr std::pair<const char*, int DaemonOptions::*> kNumberOptions[] = {
    {"--health-interval", &DaemonOptions::healthIntervalSeconds},
    {"--lease", &DaemonOptions::leaseSeconds},
    {"--max-objects", &DaemonOptions::maxObjectsPerClient},
    {"--max-objects-per-host", &DaemonOptions::maxObjectsPerHost},
    {"--max-objects-total", &DaemonOptions::maxObjectsTotal},
    {"--max-request-mib", &DaemonOptions::maxRequestMiB},
    {"--statement-timeout", &DaemonOptions::statementTimeoutSeconds},
    {"--max-message-mib", &DaemonOptions::maxMessageMiB},
    {"--max-result-mib", &DaemonOptions::maxResultMiB},
    {"--max-calls-per-host", &DaemonOptions::maxCallsPerHost},
    {"--max-replies-mib", &DaemonOptions::maxRepliesMiB},
    {"--reply-timeout", &DaemonOptions::replyTimeoutSeconds},
    {"--max-connections", &DaemonOptions::maxConnections}};

// The options that set a text as given: files, addresses, the database's URL.
constexpr std::pair<const char*, std::string DaemonOptions::*> kTextOptions[] = {
    {"--db", &DaemonOptions::dbUrl},
    {"--listen", &DaemonOptions::listen},
    {"--token-file", &DaemonOptions::tokenFile},
    {"--tls-cert", &DaemonOptions::tlsCert},
    {"--tls-key", &DaemonOptions::tlsKey}};
// The journal's filters that take their text as given.
constexpr std::pair<const char*, std::string DaemonOptions::*> kJournalTextOptions[] = {
    {"--operator", &DaemonOptions::journalOperator}, {"--product", &DaemonOptions::journalProduct}};

// Throws std::invalid_argument when the address, TLS and token options cannot serve
// together: a listening address that is not one, half of TLS, a token missing
// where one is required.
void checkServing(const DaemonOptions& o) {
  if (!com::SplitHostPort(o.listen))
    throw std::invalid_argument(
        "--listen needs ADDR:PORT with a port from 0 (any free port) to "
        "65535, not " +
        o.listen);
  if (o.tlsCert.empty() != o.tlsKey.empty())
    throw std::invalid_argument("--tls-cert and --tls-key go together");
  if (o.action == DaemonOptions::Action::Serve && !com::IsLoopbackAddress(o.listen) &&
      o.tokenFile.empty())
    throw std::invalid_argument("listening on " + o.listen +
                                " (not loopback) requires --token-file");
}

// The field of the table that option names, or null.
template <class Field, std::size_t N>
Field findOption(const std::pair<const char*, Field> (&table)[N], const std::string& option) {
  for (const auto& [name, field] : table)
    if (option == name) return field;
  return nullptr;
}

// Reads the journal's filter a (--since, --operator, --product, --format), taking its
// text from value(); false when a is none of them. Throws std::invalid_argument for a
// value the filter cannot take.
template <class Value>
bool journalFilter(DaemonOptions& o, const std::string& a, Value&& value) {
  if (a == "--since") {
    o.journalSince = value();
    if (!dates::parseTimestamp(o.journalSince) || o.journalSince.size() != 10)
      throw std::invalid_argument("option --since needs a day as YYYY-MM-DD");
  } else if (const auto filter = findOption(kJournalTextOptions, a)) {
    o.*filter = value();
  } else if (a == "--format") {
    const std::string& f = value();
    if (f != "table" && f != "csv") throw std::invalid_argument("option --format is table or csv");
    o.journalCsv = f == "csv";
  } else {
    return false;
  }
  return true;
}

}  // namespace

DaemonOptions parseDaemonOptions(const std::vector<std::string>& args,
                                 const std::string& environmentDbUrl) {
  DaemonOptions o;
  o.dbUrl = environmentDbUrl;
  bool schema = false, demo = false, journal = false, filters = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size() || args[i + 1].empty())
        throw std::invalid_argument("option " + a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.action = DaemonOptions::Action::Help;
      return o;
    } else if (a == "--version") {
      o.action = DaemonOptions::Action::Version;
      return o;
    } else if (a == "--probe") {
      o.probeTarget = value();
      if (const auto at = com::SplitHostPort(o.probeTarget); !at || at->port == 0)
        throw std::invalid_argument("--probe needs HOST:PORT with a port from 1 to 65535, not " +
                                    o.probeTarget);
      o.action = DaemonOptions::Action::Probe;
      return o;
    } else if (a == "--log-requests") {
      o.logRequests = choice(a, value(), "on", "off");
    } else if (a == "--log-sql") {
      o.logStatementText = !choice(a, value(), "shape", "full");
    } else if (const auto number = findOption(kNumberOptions, a)) {
      o.*number = positive(a, value());
    } else if (const auto text = findOption(kTextOptions, a)) {
      o.*text = value();
    } else if (a == "--metrics") {
      o.metricsListen = value();
      if (!com::SplitHostPort(o.metricsListen))
        throw std::invalid_argument(
            "--metrics needs ADDR:PORT with a port from 0 (any free port) to 65535, not " +
            o.metricsListen);
    } else if (a == "--allow-superuser") {
      o.allowSuperuser = true;
    } else if (a == "--init-schema") {
      schema = true;
    } else if (a == "--init-demo") {
      demo = true;
    } else if (a == "--journal") {
      journal = true;
    } else if (journalFilter(o, a, value)) {
      filters = true;
    } else {
      throw std::invalid_argument("unknown argument " + a);
    }
  }
  if (o.dbUrl.empty())
    throw std::invalid_argument("--db URL (or QADJ_DB_URL in the environment) is required");
  if (schema + demo + journal > 1)
    throw std::invalid_argument("give one of --init-schema, --init-demo and --journal");
  if (filters && !journal)
    throw std::invalid_argument("--since, --operator, --product and --format go with --journal");
  if (schema) o.action = DaemonOptions::Action::InitSchema;
  if (demo) o.action = DaemonOptions::Action::InitDemo;
  if (journal) o.action = DaemonOptions::Action::Journal;
  checkServing(o);
  return o;
}

void requirePrivateFile(const std::string& path, const std::string& what) {
  // A secret every user can read is none. The group may read, not write.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IRWXO | S_IWGRP)))
    throw ConfigurationError("the " + what + " " + path +
                             " can be read or written by other users; make it private with: "
                             "chmod 600 " +
                             path + " (or 640 with the daemon's group)");
}

namespace {

// Why this user cannot read the file, worded for the administrator who mends it: a
// missing file and one kept from this user are two different mistakes.
ConfigurationError unreadableFile(const std::string& path, const std::string& what, int error,
                                  const std::string& orCreate = "") {
  if (error == ENOENT)
    return ConfigurationError("there is no " + what + " at " + path + ": check the path" +
                              orCreate);
  return ConfigurationError("the " + what + " " + path + " cannot be read by this user (" +
                            std::strerror(error) +
                            "): make the daemon's user its owner, e.g. chown qadj " + path);
}

}  // namespace

void requireReadableFile(const std::string& path, const std::string& what) {
  if (::access(path.c_str(), R_OK) != 0) throw unreadableFile(path, what, errno);
}

std::string readTokenFile(const std::string& path) {
  std::ifstream in(path);
  if (!in)
    throw unreadableFile(path, "token file", errno, ", or create it (docs/access-control.md)");
  requirePrivateFile(path, "token file");
  std::string line;
  std::getline(in, line);
  const auto b = line.find_first_not_of(" \t\r\n");
  const auto e = line.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) throw ConfigurationError("the token file " + path + " is empty");
  return line.substr(b, e - b + 1);
}

}  // namespace qadj::appserver
