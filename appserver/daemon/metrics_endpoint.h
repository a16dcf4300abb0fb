// The daemon's metrics for a monitoring system: GET /metrics over HTTP, answered by
// libmicrohttpd on a thread of its own (qadj-appserver --metrics ADDR:PORT).
#pragma once

#include <functional>
#include <string>

struct MHD_Daemon;

namespace qadj::appserver {

class MetricsEndpoint {
 public:
  // Listens on listen ("HOST:PORT" or "[V6]:PORT"; port 0 picks a free one) and answers
  // GET /metrics with what render() returns at that moment (the Prometheus text
  // format), any other path with 404 and any other method with 405. render is called
  // on the endpoint's thread and must be safe there until the endpoint is destroyed.
  // Throws std::runtime_error naming the address when it cannot be resolved or bound.
  MetricsEndpoint(const std::string& listen, std::function<std::string()> render);
  ~MetricsEndpoint();  // stops listening; waits for an answer being written
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // The port listened on.
  int port() const { return port_; }

 private:
  std::function<std::string()> render_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
};

}  // namespace qadj::appserver
