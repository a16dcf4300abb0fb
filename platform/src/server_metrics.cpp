#include "qadj/platform/server_metrics.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

namespace qadj::metrics {
namespace {

// The upper bounds of the duration buckets, in seconds: a fetch of the window takes a
// few milliseconds, a statement is cancelled after its time limit (30 s by default).
constexpr std::array<double, 10> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025,
                                             0.05,  0.1,    0.5,   2.5,  30};

struct Series {
  std::uint64_t count = 0;
  double sum = 0;
  std::array<std::uint64_t, kBuckets.size()> atMost{};  // cumulative, as exposed
};

// The labels of Outcome and SaveOutcome, in the enumerations' order.
constexpr const char* kOutcomes[] = {"ok", "error", "busy", "refused"};
constexpr const char* kSaveOutcomes[] = {"applied", "replayed", "refused"};

struct Registry {
  std::mutex mutex;
  std::map<std::pair<std::string, std::string>, Series> requests;  // by method, outcome
  std::array<std::uint64_t, 3> saves{};
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: counted until the process ends
  return *r;
}

// A number as Prometheus reads it ("+Inf" aside): the shortest text that reads back.
std::string number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

void family(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

void countRequest(std::string_view method, Outcome outcome, double seconds) {
  // Method names are the server's own literals; a label never holds a caller's value.
  method = method.substr(0, method.find(' '));
  for (const char c : method)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') method = "other";
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  Series& s = r.requests[{std::string(method), kOutcomes[static_cast<std::size_t>(outcome)]}];
  ++s.count;
  s.sum += seconds;
  for (std::size_t i = 0; i < kBuckets.size(); ++i)
    if (seconds <= kBuckets[i]) ++s.atMost[i];
}

void countSave(SaveOutcome outcome) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  ++r.saves[static_cast<std::size_t>(outcome)];
}

std::string exposition(const Gauges& gauges) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::string out;
  family(out, "qadj_requests_total", "counter", "Requests carried out, by method and outcome.");
  for (const auto& [key, s] : r.requests)
    out += "qadj_requests_total{method=\"" + key.first + "\",outcome=\"" + key.second + "\"} " +
           std::to_string(s.count) + "\n";
  family(out, "qadj_request_duration_seconds", "histogram",
         "Time from a request's arrival to its reply, by method and outcome.");
  for (const auto& [key, s] : r.requests) {
    const std::string labels = "method=\"" + key.first + "\",outcome=\"" + key.second + "\"";
    for (std::size_t i = 0; i < kBuckets.size(); ++i)
      out += "qadj_request_duration_seconds_bucket{" + labels + ",le=\"" + number(kBuckets[i]) +
             "\"} " + std::to_string(s.atMost[i]) + "\n";
    out += "qadj_request_duration_seconds_bucket{" + labels + ",le=\"+Inf\"} " +
           std::to_string(s.count) + "\n";
    out += "qadj_request_duration_seconds_sum{" + labels + "} " + number(s.sum) + "\n";
    out += "qadj_request_duration_seconds_count{" + labels + "} " + std::to_string(s.count) + "\n";
  }
  family(out, "qadj_saves_total", "counter", "Saves by outcome.");
  for (std::size_t o = 0; o < r.saves.size(); ++o)
    out += std::string("qadj_saves_total{outcome=\"") + kSaveOutcomes[o] + "\"} " +
           std::to_string(r.saves[o]) + "\n";
  family(out, "qadj_open_objects", "gauge", "Server objects, each with its database session.");
  out += "qadj_open_objects " + std::to_string(gauges.objects) + "\n";
  family(out, "qadj_open_connections", "gauge", "Open client connections.");
  out += "qadj_open_connections " + std::to_string(gauges.connections) + "\n";
  family(out, "qadj_database_up", "gauge", "1 while the database answers, else 0.");
  out += std::string("qadj_database_up ") + (gauges.databaseUp ? "1" : "0") + "\n";
  return out;
}

}  // namespace qadj::metrics
