// What the servers count for a monitoring system: requests by method and outcome with
// their durations, and saves by outcome; rendered with the server's gauges in the
// Prometheus text format. One set of counters per process, kept from its start.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qadj/platform/export.h"

namespace qadj::metrics {

// How a request ended: carried out (ok), failed (error), turned away because the
// server or the caller was busy (busy), or refused for its token (refused).
enum class Outcome { Ok, Error, Busy, Refused };

// How a save (a command that changes quota) ended: applied, found already applied
// under its save id and not applied again (replayed), or refused with nothing changed.
enum class SaveOutcome { Applied, Replayed, Refused };

// Counts one request of method (the member's name; only what precedes a blank is
// kept, so that a label can never carry a caller's value) that took seconds.
QADJ_PLATFORM_API void countRequest(std::string_view method, Outcome outcome, double seconds);

QADJ_PLATFORM_API void countSave(SaveOutcome outcome);

// What the server holds at the moment of a scrape.
struct Gauges {
  std::size_t objects = 0;      // server objects, each with its database session
  std::size_t connections = 0;  // open client connections
  bool databaseUp = false;      // the health service answers SERVING
};

// Every counter and gauge in the Prometheus text exposition format (version 0.0.4),
// each family with its HELP and TYPE lines; the request durations as a histogram.
QADJ_PLATFORM_API std::string exposition(const Gauges& gauges);

}  // namespace qadj::metrics
