#include "metrics_endpoint.h"

#include <microhttpd.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "qadj/com/endpoint.h"

namespace qadj::appserver {
namespace {

// A scraper reads one page now and then: a few connections, none held long.
constexpr unsigned kMostConnections = 16;
constexpr unsigned kMostConnectionsPerAddress = 4;
constexpr unsigned kIdleSeconds = 10;

MHD_Result answer(MHD_Connection* connection, unsigned status, const std::string& body) {
  MHD_Response* response = MHD_create_response_from_buffer(
      body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                          status == MHD_HTTP_OK ? "text/plain; version=0.0.4; charset=utf-8"
                                                : "text/plain; charset=utf-8");
  const MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                     const char*, const char*, std::size_t* uploadSize, void**) {
  if (*uploadSize != 0) {  // a body is read and ignored
    *uploadSize = 0;
    return MHD_YES;
  }
  const bool get = std::strcmp(method, MHD_HTTP_METHOD_GET) == 0 ||
                   std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
  if (!get) return answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "GET /metrics only\n");
  if (std::strcmp(url, "/metrics") != 0)
    return answer(connection, MHD_HTTP_NOT_FOUND, "the metrics are at /metrics\n");
  const auto& render = *static_cast<const std::function<std::string()>*>(cls);
  return answer(connection, MHD_HTTP_OK, render());
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(const std::string& listen, std::function<std::string()> render)
    : render_(std::move(render)) {
  const auto at = com::SplitHostPort(listen);
  if (!at) throw std::runtime_error("--metrics needs ADDR:PORT, not " + listen);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(at->port);
  if (const int rc = ::getaddrinfo(at->host.c_str(), port.c_str(), &hints, &found); rc != 0)
    throw std::runtime_error("cannot listen for metrics on " + listen + ": " + gai_strerror(rc));
  const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, ::freeaddrinfo);
  const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO |
                         (found->ai_family == AF_INET6 ? MHD_USE_IPv6 : 0);
  daemon_ = MHD_start_daemon(flags, static_cast<std::uint16_t>(at->port), nullptr, nullptr,
                             &onRequest, &render_, MHD_OPTION_SOCK_ADDR, found->ai_addr,
                             MHD_OPTION_CONNECTION_LIMIT, kMostConnections,
                             MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMostConnectionsPerAddress,
                             MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_END);
  if (!daemon_)
    throw std::runtime_error("cannot listen for metrics on " + listen +
                             ": the address is in use or not this computer's");
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info ? info->port : at->port;
}

MetricsEndpoint::~MetricsEndpoint() {
  MHD_stop_daemon(daemon_);
}

}  // namespace qadj::appserver
