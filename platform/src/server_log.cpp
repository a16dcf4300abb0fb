#include "qadj/platform/server_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace qadj {

void logLine(LogPriority priority, const std::string& text) {
  const std::string line = "<" + std::to_string(static_cast<int>(priority)) + ">" + text + "\n";
  std::fputs(line.c_str(), stderr);
}

std::string utcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char out[80];  // room for any int the fields could hold
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms.count()));
  return out;
}

void serverLog(LogPriority priority, const std::string& what) {
  logLine(priority, "qadj-remote " + utcTimestamp() + " " + what);
}

}  // namespace qadj
