#include "connection_gate.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <grpc/grpc.h>
#include <grpc/support/alloc.h>

#include "call_admission.h"
#include "qadj/com/object_server.h"
#include "qadj/platform/error.h"
#include "qadj/platform/server_log.h"

namespace qadj::com::detail {

namespace {

// How often the table of connections is checked for ones gRPC has closed, at most;
// and how often for abusive ones.
constexpr std::chrono::milliseconds kForgetEvery{500};
constexpr std::chrono::milliseconds kForgetAtBoundEvery{10};
constexpr std::chrono::milliseconds kCheckEvery{250};
// At most one log line per this long about connections turned away.
constexpr std::chrono::seconds kTurnedAwayLogEvery{10};

void closeQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

std::string grpcPeerText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    return std::string("ipv4:") + text + ":" + std::to_string(ntohs(in->sin_port));
  }
  const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
  if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
    inet_ntop(AF_INET, in6->sin6_addr.s6_addr + 12, text, sizeof text);
    return std::string("ipv4:") + text + ":" + std::to_string(ntohs(in6->sin6_port));
  }
  inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
  return std::string("ipv6:[") + text + "]:" + std::to_string(ntohs(in6->sin6_port));
}

ConnectionGate::ConnectionGate(const std::string& listen, GateLimits limits) : limits_(limits) {
  const auto parts = com::SplitHostPort(listen);
  if (!parts)
    throw Exception("cannot listen on " + listen + ": give HOST:PORT with a port from 0 to 65535");
  const std::string host = parts->host, port = std::to_string(parts->port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int e = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); e != 0)
    throw Exception("cannot listen on " + listen + ": " + gai_strerror(e));
  std::string failure;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage address{};
    std::memcpy(&address, a->ai_addr, a->ai_addrlen);
    if (a->ai_family == AF_INET6) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      // "[::]" takes IPv4 too, as gRPC's own listener does; any other address only itself.
      const int v6only = IN6_IS_ADDR_UNSPECIFIED(&in6->sin6_addr) ? 0 : 1;
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
      if (port_ != 0) in6->sin6_port = htons(static_cast<std::uint16_t>(port_));
    } else if (port_ != 0) {
      reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<std::uint16_t>(port_));
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), a->ai_addrlen) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
      failure = std::strerror(errno);
      if (errno == EADDRINUSE)
        failure += "; another process listens there (ss -ltnp shows which)";
      else if (errno == EACCES)
        failure += "; a port below 1024 needs the capability CAP_NET_BIND_SERVICE";
      ::close(fd);
      continue;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ =
        ntohs(address.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                           : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    listeners_.push_back(fd);
  }
  freeaddrinfo(found);
  if (listeners_.empty()) throw Exception("cannot listen on " + listen + ": " + failure);
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    for (const int fd : listeners_) ::close(fd);
    throw Exception("cannot listen on " + listen + ": " + std::strerror(errno));
  }
  spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

ConnectionGate::~ConnectionGate() {
  stop();
  closeQuietly(wake_[0]);
  closeQuietly(wake_[1]);
  closeQuietly(spare_);
}

void ConnectionGate::stop() {
  if (thread_.joinable()) {
    const char byte = 0;
    [[maybe_unused]] const auto n = ::write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (const int fd : listeners_) ::close(fd);
  listeners_.clear();
}

void ConnectionGate::start(
    std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor) {
  assert(acceptor && !thread_.joinable());
  acceptor_ = std::move(acceptor);
  thread_ = std::thread([this] { acceptLoop(); });
}

void ConnectionGate::acceptLoop() {
  std::vector<pollfd> polled;
  for (const int fd : listeners_) polled.push_back({fd, POLLIN, 0});
  polled.push_back({wake_[0], POLLIN, 0});
  auto nextCheck = std::chrono::steady_clock::now();
  for (;;) {
    for (auto& p : polled) p.revents = 0;
    if (::poll(polled.data(), polled.size(), static_cast<int>(kCheckEvery.count())) < 0 &&
        errno != EINTR)
      return;
    if (polled.back().revents) return;
    for (std::size_t i = 0; i + 1 < polled.size(); ++i)
      if (polled[i].revents) acceptFrom(polled[i].fd);
    if (const auto now = std::chrono::steady_clock::now(); now >= nextCheck) {
      closeAbusive();
      nextCheck = now + kCheckEvery;
    }
  }
}

bool ConnectionGate::takeWithoutDescriptor(int listener) {
  // The connection is taken with the spare descriptor and closed at once, so that it
  // does not wake this loop again and again, and the listener goes on as soon as
  // descriptors are free. Without a spare, wait a little.
  if (spare_ < 0) {
    ::poll(nullptr, 0, 100);
  } else {
    ::close(spare_);
    closeQuietly(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  }
  spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::lock_guard lock(mutex_);
  turnAway("no descriptor left");
  return spare_ >= 0;
}

bool ConnectionGate::admit(int fd, const sockaddr_storage& address) {
  const std::string peer = grpcPeerText(reinterpret_cast<const sockaddr*>(&address));
  Connection connection{fd, 0, peerComputer(peer)};
  struct stat st {};
  ::fstat(fd, &st);
  connection.inode = st.st_ino;
  std::lock_guard lock(mutex_);
  // Closed connections are forgotten at most every kForgetEvery, or every
  // kForgetAtBoundEvery when a bound is reached: a flood at the bound costs little per
  // connection turned away, and a place freed is found soon.
  const auto ofThisComputer = [&] {
    const auto known = ofComputer_.find(connection.computer);
    return known == ofComputer_.end() ? std::size_t{0} : known->second;
  };
  const auto atBound = [&] {
    return connections_.size() >= limits_.connections ||
           ofThisComputer() >= limits_.connectionsPerComputer;
  };
  const auto now = std::chrono::steady_clock::now();
  if (now - lastForget_ > kForgetEvery || (atBound() && now - lastForget_ > kForgetAtBoundEvery)) {
    forgetClosed();
    lastForget_ = now;
  }
  if (atBound()) {
    turnAway("open " + std::to_string(connections_.size()) + ", " +
             std::to_string(ofThisComputer()) + " of the computer of " + peer);
    return false;
  }
  // An entry of the same peer is a closed connection whose port was used again.
  if (const auto old = connections_.find(peer); old != connections_.end()) forget(old);
  ++ofComputer_[connection.computer];
  connections_[peer] = connection;
  return true;
}

void ConnectionGate::acceptFrom(int listener) {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&address), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if ((errno == EMFILE || errno == ENFILE) && takeWithoutDescriptor(listener)) continue;
      return;  // EAGAIN: nothing more to accept now; or no descriptor, nor a spare
    }
    if (!admit(fd, address)) {
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    grpc::experimental::ExternalConnectionAcceptor::NewConnectionParameters params;
    params.listener_fd = listener;
    params.fd = fd;  // gRPC's from now on
    acceptor_->HandleNewConnection(&params);
  }
}

bool ConnectionGate::isOpen(const Connection& c) const {
  struct stat st {};
  return ::fstat(c.fd, &st) == 0 && st.st_ino == c.inode && S_ISSOCK(st.st_mode);
}

void ConnectionGate::forget(std::map<std::string, Connection>::iterator it) {
  const auto counted = ofComputer_.find(it->second.computer);
  if (counted != ofComputer_.end() && --counted->second == 0) ofComputer_.erase(counted);
  connections_.erase(it);
}

void ConnectionGate::forgetClosed() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    const auto next = std::next(it);
    if (!isOpen(it->second)) forget(it);
    it = next;
  }
}

namespace {

// The whole-number value of "key" in JSON text from position from (channelz writes
// 64-bit numbers as strings); 0 when absent.
long long jsonNumber(const std::string& json, const std::string& key, std::size_t from = 0) {
  const auto at = json.find("\"" + key + "\":", from);
  if (at == std::string::npos) return 0;
  std::size_t p = at + key.size() + 3;
  if (p < json.size() && json[p] == '"') ++p;
  return std::strtoll(json.c_str() + p, nullptr, 10);
}

// A text channelz returns, freed.
std::string channelz(char* json) {
  std::string text = json ? json : "";
  gpr_free(json);
  return text;
}

}  // namespace

void ConnectionGate::closeAbusive() {
  // Every server of the process, every socket of each: ours are those whose name ends
  // in the peer of a connection the gate handed over.
  const std::string servers = channelz(grpc_channelz_get_servers(0));
  for (auto at = servers.find("\"serverId\":"); at != std::string::npos;
       at = servers.find("\"serverId\":", at + 1)) {
    const auto server = static_cast<intptr_t>(jsonNumber(servers, "serverId", at));
    // A page of socket references at a time, each {"name":"chttp2 PEER","socketId":"7"}.
    std::string sockets;
    for (intptr_t from = 0; sockets.find("\"end\":true") == std::string::npos;) {
      sockets = channelz(grpc_channelz_get_server_sockets(server, from, 0));
      if (sockets.find("\"name\":\"") == std::string::npos) break;
      for (auto nameAt = sockets.find("\"name\":\""); nameAt != std::string::npos;
           nameAt = sockets.find("\"name\":\"", nameAt + 1)) {
        const auto nameEnd = sockets.find('"', nameAt + 8);
        std::string peer = sockets.substr(nameAt + 8, nameEnd - nameAt - 8);
        peer.erase(0, peer.rfind(' ') + 1);
        const auto id = static_cast<intptr_t>(jsonNumber(sockets, "socketId", nameEnd));
        from = id + 1;
        closeIfAbusive(peer, id);
      }
    }
  }
}

void ConnectionGate::closeIfAbusive(const std::string& peer, intptr_t socketId) {
  std::lock_guard lock(mutex_);
  const auto it = connections_.find(peer);
  if (it == connections_.end()) return;
  const std::string socket = channelz(grpc_channelz_get_socket(socketId));
  const long long failed = jsonNumber(socket, "streamsFailed");
  const long long succeeded = jsonNumber(socket, "streamsSucceeded");
  if (failed <= static_cast<long long>(limits_.failedStreamsBeforeClose) || failed <= succeeded)
    return;
  // The descriptor is still this connection's while its socket is: gRPC closes it only
  // after the transport ends, which shutting it down starts.
  if (isOpen(it->second)) {
    ::shutdown(it->second.fd, SHUT_RDWR);
    serverLog(LogPriority::Warning, "connection closed: peer=" + peer + " reset or failed " +
                                        std::to_string(failed) + " streams and completed " +
                                        std::to_string(succeeded));
  }
  forget(it);
}

std::size_t ConnectionGate::openConnections() {
  std::lock_guard lock(mutex_);
  forgetClosed();
  return connections_.size();
}

void ConnectionGate::turnAway(const std::string& why) {
  ++turnedAway_;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastTurnedAwayLog_ < kTurnedAwayLogEvery) return;
  lastTurnedAwayLog_ = now;
  serverLog(LogPriority::Warning,
            "connections closed at once: " + std::to_string(turnedAway_) + " (" + why + ")");
  turnedAway_ = 0;
}

}  // namespace qadj::com::detail
