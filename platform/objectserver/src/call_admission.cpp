#include "call_admission.h"

#include <arpa/inet.h>

#include <cassert>
#include <cstring>
#include <vector>

namespace qadj::com::detail {

std::string peerComputer(const std::string& grpcPeer) {
  if (grpcPeer.starts_with("unix:")) return "local";
  const bool v4 = grpcPeer.starts_with("ipv4:");
  const bool v6 = grpcPeer.starts_with("ipv6:[");
  const auto end = v6 ? grpcPeer.find(']') : grpcPeer.rfind(':');
  if ((!v4 && !v6) || end == std::string::npos || end <= 5) return grpcPeer;
  const std::string address = v6 ? grpcPeer.substr(6, end - 6) : grpcPeer.substr(5, end - 5);
  unsigned char bytes[16] = {};
  if (v4) {
    if (inet_pton(AF_INET, address.c_str(), bytes) != 1) return grpcPeer;
    return bytes[0] == 127 ? "local" : address;
  }
  if (inet_pton(AF_INET6, address.c_str(), bytes) != 1) return grpcPeer;
  static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(bytes, kLoopback, 16) == 0) return "local";
  if (std::memcmp(bytes, kMapped, 12) == 0) {
    if (bytes[12] == 127) return "local";
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, bytes + 12, text, sizeof text);
    return text;
  }
  std::memset(bytes + 8, 0, 8);
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(AF_INET6, bytes, text, sizeof text);
  return std::string(text) + "/64";
}

// The process's one set of gRPC hooks: gRPC allows one set per process, so the calls
// of every server pass here and are told to the admission that let them in.
struct AdmissionHooks final : grpc::Server::GlobalCallbacks {
  std::mutex mutex;
  std::map<grpc::ServerContext*, CallAdmission*> owners;

  static AdmissionHooks& instance() {
    static auto* hooks = new AdmissionHooks;  // gRPC keeps a reference for the process
    return *hooks;
  }

  void PreSynchronousRequest(grpc::ServerContext*) override {}
  void PostSynchronousRequest(grpc::ServerContext* ctx) override {
    std::lock_guard lock(mutex);
    const auto owner = owners.find(ctx);
    if (owner == owners.end()) return;  // refused before it was admitted
    owner->second->release(ctx);
    owners.erase(owner);
  }
};

void CallAdmission::installHooks() {
  static std::once_flag once;
  std::call_once(once, [] { grpc::Server::SetGlobalCallbacks(&AdmissionHooks::instance()); });
}

namespace {

// gRPC gives a process's first server the hooks set by then (its own if none) and
// aborts when hooks are set after that: they are set as this library loads, before
// any server another part of the process may build.
[[maybe_unused]] const bool kHooksInstalled = [] {
  CallAdmission::installHooks();
  return true;
}();

}  // namespace

CallAdmission::CallAdmission(AdmissionLimits limits) : limits_(limits) {}

CallAdmission::~CallAdmission() {
  auto& hooks = AdmissionHooks::instance();
  std::lock_guard lock(hooks.mutex);
  std::erase_if(hooks.owners, [this](const auto& entry) { return entry.second == this; });
}

CallAdmission::Verdict CallAdmission::admit(grpc::ServerContext* ctx, const std::string& client) {
  InFlight call{client, peerComputer(ctx->peer())};
  {
    std::lock_guard lock(mutex_);
    assert(!calls_.count(ctx));
    if (callsOfComputer_[call.computer] >= limits_.callsPerComputer) {
      if (callsOfComputer_[call.computer] == 0) callsOfComputer_.erase(call.computer);
      return Verdict::ComputerBusy;
    }
    if (!client.empty() && callsOfClient_[client] >= limits_.callsPerClient) {
      if (callsOfClient_[client] == 0) callsOfClient_.erase(client);
      return Verdict::ClientBusy;
    }
    ++callsOfComputer_[call.computer];
    if (!client.empty()) ++callsOfClient_[client];
    calls_.emplace(ctx, std::move(call));
  }
  auto& hooks = AdmissionHooks::instance();
  std::lock_guard lock(hooks.mutex);
  hooks.owners[ctx] = this;
  return Verdict::Admitted;
}

bool CallAdmission::charge(grpc::ServerContext* ctx, std::size_t bytes) {
  std::lock_guard lock(mutex_);
  const auto call = calls_.find(ctx);
  assert(call != calls_.end());
  if (call == calls_.end()) return false;
  // A call's first kUncountedBytes are not counted: bounded by the calls in flight, they
  // let the small replies of every window through while large ones wait.
  const auto counted = [](std::size_t total) {
    return total > kUncountedBytes ? total - kUncountedBytes : 0;
  };
  const std::size_t more = counted(call->second.bytes + bytes) - counted(call->second.bytes);
  const auto held = bytesOfClient_.find(call->second.client);
  const std::size_t ofClient = held == bytesOfClient_.end() ? 0 : held->second;
  if (more > limits_.replyBytesTotal - bytesTotal_ ||
      more > limits_.replyBytesPerClient - std::min(ofClient, limits_.replyBytesPerClient))
    return false;
  call->second.bytes += bytes;
  call->second.counted += more;
  if (more > 0) bytesOfClient_[call->second.client] += more;
  bytesTotal_ += more;
  return true;
}

void CallAdmission::replyBuilt(grpc::ServerContext* ctx) {
  std::lock_guard lock(mutex_);
  if (const auto call = calls_.find(ctx); call != calls_.end())
    call->second.replyBuiltAt = std::chrono::steady_clock::now();
}

std::size_t CallAdmission::dropUnreadReplies() {
  const auto now = std::chrono::steady_clock::now();
  std::size_t dropped = 0;
  std::lock_guard lock(mutex_);
  // The context lives until its call's release, which waits for this lock.
  for (auto& [ctx, call] : calls_) {
    const bool waiting = call.replyBuiltAt != std::chrono::steady_clock::time_point{};
    if (waiting && !call.dropped && now - call.replyBuiltAt > limits_.replyTimeout) {
      ctx->TryCancel();
      call.dropped = true;
      ++dropped;
    }
  }
  return dropped;
}

std::size_t CallAdmission::replyBytes() const {
  std::lock_guard lock(mutex_);
  return bytesTotal_;
}

void CallAdmission::release(grpc::ServerContext* ctx) {
  std::lock_guard lock(mutex_);
  const auto call = calls_.find(ctx);
  if (call == calls_.end()) return;
  const auto drop = [](std::map<std::string, std::size_t>& counts, const std::string& key,
                       std::size_t n) {
    const auto it = counts.find(key);
    if (it != counts.end() && (it->second -= n) == 0) counts.erase(it);
  };
  drop(callsOfComputer_, call->second.computer, 1);
  if (!call->second.client.empty()) drop(callsOfClient_, call->second.client, 1);
  if (call->second.counted > 0) drop(bytesOfClient_, call->second.client, call->second.counted);
  bytesTotal_ -= call->second.counted;
  calls_.erase(call);
}

}  // namespace qadj::com::detail
