// The object server's own listening sockets. It accepts each connection itself and
// hands it to gRPC, so that the open connections stay below a bound (a connection over
// it is closed at once), the listener outlives a shortage of descriptors, and a
// connection that abuses HTTP/2 can be closed from outside gRPC.
#pragma once

#include <grpcpp/grpcpp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qadj::com::detail {

struct GateLimits {
  std::size_t connections = 1024;            // open connections in all
  std::size_t connectionsPerComputer = 256;  // of one computer (peerComputer)
  // A connection more than this many of whose streams failed (reset by the client, or
  // refused), and more than succeeded, is closed: HTTP/2 streams opened and reset at
  // once cost the server work without ever making a call ("rapid reset").
  std::size_t failedStreamsBeforeClose = 64;
};

class ConnectionGate {
 public:
  // Binds every address of listen ("HOST:PORT", "[V6]:PORT"; port 0 picks a free one)
  // and listens. Throws qadj::Exception when the text is no such address or an address
  // cannot be bound (in use, not this computer's, a port that needs privileges).
  ConnectionGate(const std::string& listen, GateLimits limits);
  ~ConnectionGate();  // stop()s
  // Stops accepting and closes the listening sockets; connections already handed over
  // stay gRPC's. Idempotent.
  void stop();
  ConnectionGate(const ConnectionGate&) = delete;
  ConnectionGate& operator=(const ConnectionGate&) = delete;

  // The port listened on.
  int port() const { return port_; }
  // Hands every connection accepted from now on to acceptor, on a thread of the gate's
  // own. Call once, after the server that made acceptor has started.
  void start(std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor);
  // Closes and logs the connections whose streams fail faster than they succeed (see
  // GateLimits), as gRPC's channelz counts them. The accepting thread calls it four times
  // a second.
  void closeAbusive();
  // Connections accepted and not yet closed.
  std::size_t openConnections();

 private:
  struct Connection {
    int fd;
    unsigned long inode;  // tells the socket from a later one given the same descriptor
    std::string computer;
  };
  void acceptLoop();
  // Accepts every connection waiting on listener and hands on those admitted.
  void acceptFrom(int listener);
  // Turns a connection of listener away when no descriptor is left (accept failed with
  // EMFILE or ENFILE). Returns whether accepting may go on: a spare descriptor is kept.
  bool takeWithoutDescriptor(int listener);
  // Records the connection fd from address unless the gate's bounds are reached; false
  // when it is turned away (counted; the caller closes fd).
  bool admit(int fd, const sockaddr_storage& address);
  // Forgets one connection, or those gRPC has closed. Called with mutex_ held.
  void forget(std::map<std::string, Connection>::iterator it);
  void forgetClosed();
  bool isOpen(const Connection& c) const;
  // Closes the connection of peer, if the gate handed it over, when its channelz socket
  // socketId counts it abusive.
  void closeIfAbusive(const std::string& peer, intptr_t socketId);
  // Counts a connection closed at once and logs the count now and then (mutex_ held).
  void turnAway(const std::string& why);

  const GateLimits limits_;
  std::vector<int> listeners_;
  int port_ = 0;
  int wake_[2] = {-1, -1};  // a pipe that wakes the accepting thread to stop
  int spare_ = -1;          // a descriptor kept to turn away a connection when none is left
  std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor_;
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::string, Connection> connections_;  // by gRPC's peer text
  std::map<std::string, std::size_t> ofComputer_;  // connections_ per computer
  std::chrono::steady_clock::time_point lastForget_{}, lastTurnedAwayLog_{};
  std::size_t turnedAway_ = 0;  // since the last log line about it
};

// The peer text gRPC gives a connection from address ("ipv4:127.0.0.1:53122",
// "ipv6:[::1]:53122"; an IPv4-mapped IPv6 address as IPv4).
std::string grpcPeerText(const sockaddr* address);

}  // namespace qadj::com::detail
