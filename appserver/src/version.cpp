#include "qadj/appserver/version.h"

#include <grpcpp/grpcpp.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include "qadj/platform/version.h"

namespace qadj::appserver {

std::string versionReport(std::string_view program, const std::vector<std::string>& more) {
  // Since PostgreSQL 10 the number is major * 10000 + minor.
  const int pq = PQlibVersion();
  std::string out = std::string(program) + " " + kVersion + "\n" + "gRPC " + grpc::Version() +
                    ", SQLite " + sqlite3_libversion() + ", libpq " + std::to_string(pq / 10000) +
                    "." + std::to_string(pq % 100);
  for (const auto& library : more) out += ", " + library;
  return out + "\n";
}

}  // namespace qadj::appserver
