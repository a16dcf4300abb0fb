// Which calls the object server lets in, and what each call in flight may hold: a
// bound on calls per client and per computer (so that one caller never holds the call
// threads of the others), a bound on reply memory per client and in all, and a
// deadline for a reply its client does not read.
#pragma once

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace qadj::com::detail {

// The computer a gRPC peer ("ipv4:10.0.0.7:53122") belongs to, for the caps that
// count computers: every loopback address (127.0.0.0/8, ::1, their IPv4-mapped
// forms) and a unix socket are this computer, "local"; an IPv4 address is itself; an
// IPv6 address counts by its /64 prefix, which one host may fill at will. A text of no
// known form is itself.
std::string peerComputer(const std::string& grpcPeer);

// The bounds as RemoteServerOptions gives them (maxCallsPerClient, ...).
struct AdmissionLimits {
  std::size_t callsPerClient;    // calls of one client id in flight
  std::size_t callsPerComputer;  // calls of all clients of one computer
  std::size_t replyBytesPerClient;
  std::size_t replyBytesTotal;
  std::chrono::milliseconds replyTimeout;  // a reply not read by then is dropped
};

// The memory of one call that no bound counts (see CallAdmission::charge).
inline constexpr std::size_t kUncountedBytes = 64u << 10;

// The calls in flight of one object server, from the start of their handler until
// gRPC has sent their reply (or given it up). Thread-safe.
class CallAdmission {
 public:
  enum class Verdict { Admitted, ClientBusy, ComputerBusy };

  explicit CallAdmission(AdmissionLimits limits);
  ~CallAdmission();  // the server's calls must all have ended (its Shutdown returned)
  CallAdmission(const CallAdmission&) = delete;
  CallAdmission& operator=(const CallAdmission&) = delete;

  // Lets the call of ctx in, counted against client (empty: a call that names none,
  // counted against its computer only), or refuses it. An admitted call holds its
  // place until gRPC is done with it. Call once per call, on its handler's thread.
  Verdict admit(grpc::ServerContext* ctx, const std::string& client);
  // Charges bytes of memory the admitted call of ctx holds (a result being built, its
  // reply) until gRPC is done with it; beyond the call's first kUncountedBytes they count
  // against the bounds. False, and nothing charged, when they would pass the client's or
  // the total bound.
  bool charge(grpc::ServerContext* ctx, std::size_t bytes);
  // The handler of ctx has returned its reply: from now on the reply waits for its
  // client to read it, at most limits.replyTimeout.
  void replyBuilt(grpc::ServerContext* ctx);
  // Cancels the calls whose reply has waited past the deadline, so that gRPC drops
  // the reply and frees its thread; returns how many it cancelled now. Called
  // periodically.
  std::size_t dropUnreadReplies();
  // Bytes counted now, in all.
  std::size_t replyBytes() const;

  // Installs, once per process, gRPC's hooks that tell each admission when one of its
  // calls ends. Must run before the first server of the process is built: it runs as
  // this library loads, and again (doing nothing) before each object server starts.
  static void installHooks();

 private:
  struct InFlight {
    std::string client, computer;
    std::size_t bytes = 0;                                 // charged
    std::size_t counted = 0;                               // of them, beyond kUncountedBytes
    std::chrono::steady_clock::time_point replyBuiltAt{};  // epoch: still running
    bool dropped = false;
  };
  friend struct AdmissionHooks;
  // gRPC is done with the admitted call of ctx: its place and its bytes are free.
  void release(grpc::ServerContext* ctx);

  const AdmissionLimits limits_;
  mutable std::mutex mutex_;
  std::map<grpc::ServerContext*, InFlight> calls_;
  std::map<std::string, std::size_t> callsOfClient_, callsOfComputer_, bytesOfClient_;
  std::size_t bytesTotal_ = 0;
};

}  // namespace qadj::com::detail
