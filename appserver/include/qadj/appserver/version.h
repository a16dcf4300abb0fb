// What a program of the project says to --version.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qadj::appserver {

// Two lines: "PROGRAM VERSION" and the libraries it runs with, as they report
// themselves at run time ("gRPC 1.51.1, SQLite 3.40.1, libpq 15.8"), followed by the
// caller's own (e.g. "Qt 6.4.2").
std::string versionReport(std::string_view program, const std::vector<std::string>& more = {});

}  // namespace qadj::appserver
