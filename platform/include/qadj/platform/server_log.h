// The object server's log: one line per event on standard error, each starting with
// "qadj-remote" and the time.
#pragma once

#include <string>

namespace qadj::com::detail {

// The time of a log line: UTC, to the millisecond, as ISO 8601.
std::string utcTimestamp();

// Writes "qadj-remote TIME what" and a line end as one write, so that lines of
// concurrent calls never mix. what must be printable already (no line end).
void serverLog(const std::string& what);

}  // namespace qadj::com::detail
