// The servers' log: one line per event on standard error. Each line starts with its
// syslog priority as journald reads it ("<3>" an error, "<4>" a warning, "<6>"
// information), so that `journalctl -p err` shows the errors; on a terminal the
// prefix is shown as it is.
#pragma once

#include <string>

#include "qadj/platform/export.h"

namespace qadj {

enum class LogPriority : int { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// Writes "<N>" text and a line end as one write, so that lines of concurrent threads
// never mix. text must be printable already (no line end).
QADJ_PLATFORM_API void logLine(LogPriority priority, const std::string& text);

// The time of a log line: UTC, to the millisecond, as ISO 8601.
QADJ_PLATFORM_API std::string utcTimestamp();

// The object server's lines: "qadj-remote TIME what".
QADJ_PLATFORM_API void serverLog(LogPriority priority, const std::string& what);

}  // namespace qadj
