// The server side of remote object calls: exports registered classes over gRPC so
// that clients on other computers (or this one) can create and call their objects.
// Linked by the application-server daemon and its tests only (libqadj_object_server.a):
// the plug-in and the host never carry it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "qadj/com/com.h"
#include "qadj/com/endpoint.h"
#include "qadj/platform/server_metrics.h"

namespace qadj::com {

struct RemoteServerOptions {
  std::string listen = "127.0.0.1:7311";     // ADDR:PORT; port 0 picks a free port
  std::chrono::milliseconds lease{30000};    // objects of a silent client are released after it
  std::string token;                         // when not empty, every call must carry it
  std::string tlsCertFile, tlsKeyFile;       // TLS when both are given
  std::size_t maxRequestBytes = 4u << 20;    // largest request accepted
  std::size_t maxMessageBytes = 256u << 20;  // largest reply sent
  // Objects one client id may hold; all clients of one host (the peer's address
  // without its port) together; and all clients together. Each object of the
  // application server holds a database session, so the last bounds the sessions.
  std::size_t maxObjectsPerClient = 64;
  std::size_t maxObjectsPerHost = 128;
  std::size_t maxObjectsTotal = 256;
  // Calls in flight, from the start of their handler until their reply is sent: of one
  // client id, and of all clients of one computer (see maxObjectsPerHost). A call over
  // either bound is refused at once (RPC_E_SERVERCALL_RETRYLATER), as is a call on an
  // object busy with another call: no caller can hold the call threads of the others.
  std::size_t maxCallsPerClient = 16;
  std::size_t maxCallsPerHost = 32;
  // Memory of replies (their results while built, the message and its bytes until
  // sent): of one client id and in all. A call that would pass either gets a reply
  // saying so instead of its result. A reply its client has not read after
  // replyTimeout is dropped (the call is cancelled).
  std::size_t maxReplyBytesPerClient = 256u << 20;
  std::size_t maxReplyBytes = 1024u << 20;
  std::chrono::milliseconds replyTimeout{60000};
  // Open connections; 0: as many as the descriptor limit leaves room for beside the
  // database sessions. One computer may hold a quarter of them, at most
  // kConnectionsPerComputer; a connection over
  // either bound is closed at once.
  std::size_t maxConnections = 0;
  // One line per request to stderr: time, client, member, provider, statement, rows and
  // bytes returned, outcome, duration. The statement shows as its shape (literal values
  // replaced by ?) unless logStatementText, which logs the text itself, data and all.
  bool logRequests = false;
  bool logStatementText = false;
  // Requests counted for a monitoring system (qadj/platform/server_metrics.h).
  bool countRequests = false;
  // The standard health service (grpc.health.v1.Health, not behind the token) answers
  // SERVING while healthy() returns true and NOT_SERVING while it returns false or
  // throws. It is asked at start() and then every healthInterval on a thread of its
  // own, never per probe; a change is logged. Empty: SERVING while the server runs.
  std::function<bool()> healthy;
  std::chrono::milliseconds healthInterval{5000};
};

// Connections and calls the server accepts: a connection that has not completed its
// handshake after kHandshakeTimeout, or has carried no call for kConnectionIdle, is
// closed; a silent peer is found by a ping every kKeepAliveTime. A connection carries
// at most kStreamsPerConnection calls at once, one computer holds at most
// kConnectionsPerComputer connections, and gRPC gives each call in flight a thread of at
// most kMaxCallThreads (a call beyond them fails RESOURCE_EXHAUSTED): one computer can
// hold at most half the threads, even for an instant, and only maxCallsPerHost of them
// for work; a call over its bounds is refused in microseconds.
inline constexpr std::chrono::milliseconds kHandshakeTimeout{10000};
inline constexpr std::chrono::milliseconds kConnectionIdle{600000};
inline constexpr std::chrono::milliseconds kKeepAliveTime{60000};
inline constexpr int kStreamsPerConnection = 8;
inline constexpr std::size_t kConnectionsPerComputer = 64;
inline constexpr int kMaxCallThreads = 1024;
static_assert(kStreamsPerConnection * kConnectionsPerComputer <= kMaxCallThreads / 2);

// Serves the classes registered with it. Each activation by a client creates a new
// object through the class factory; the object lives until the client releases it,
// disconnects, or stops renewing its lease.
class RemoteObjectServer {
 public:
  explicit RemoteObjectServer(RemoteServerOptions options);
  ~RemoteObjectServer();  // shuts down and releases every object
  RemoteObjectServer(const RemoteObjectServer&) = delete;
  RemoteObjectServer& operator=(const RemoteObjectServer&) = delete;

  // Classes must be registered before start().
  void registerClass(const Guid& clsid, const std::string& progId, ClassFactory factory);
  // Starts listening. Throws qadj::Exception when the address cannot be bound.
  void start();
  // Replaces the token calls must carry; a call that arrives from now on is checked
  // against the new one, a call already running finishes. Empty: no token, which
  // throws qadj::Exception unless the server listens on loopback only.
  void setToken(std::string token);
  // The port actually listened on (after start()).
  int port() const;
  // Stops accepting calls and releases every object. Idempotent.
  void shutdown();
  // Blocks until shutdown() is called from another thread.
  void wait();
  // Number of live objects (all clients).
  std::size_t objectCount() const;
  // The objects, open connections and health the server has now, for a monitoring
  // system; safe from any thread.
  metrics::Gauges gauges() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qadj::com
