// Client side of remote object calls: one session (channel, client id, keep-alive)
// per server address, and proxies that turn interface calls into wire requests.
#include "remote_client.h"

#include <grpcpp/grpcpp.h>

#include <cassert>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "qadj/com/client_config.h"
#include "qadj/platform/text.h"
#include "qadj/proto/remote.grpc.pb.h"
#include "remote_wire.h"

namespace qadj::com::remote {

namespace {

constexpr int kMaxMessageBytes = 256 << 20;
constexpr auto kReleaseDeadline = std::chrono::seconds(5);
constexpr auto kReconnectWait = std::chrono::seconds(3);

std::string randomClientId() {
  std::random_device rd;
  std::ostringstream out;
  out << std::hex;
  for (int i = 0; i < 4; ++i) out << rd();
  return out.str();
}

// What the transport said, in words for the operator; empty when the code says enough.
std::string transportDetail(const grpc::Status& status, bool tls) {
  const std::string& m = status.error_message();
  if (m.find("CERTIFICATE_VERIFY_FAILED") != std::string::npos ||
      m.find("certificate verify failed") != std::string::npos)
    return "the daemon's TLS certificate is not signed by the trusted certificate authority";
  if (m.find("handshake") != std::string::npos || m.find("Handshake") != std::string::npos ||
      m.find("SSL") != std::string::npos)
    return tls ? "the TLS handshake with the daemon failed (does the daemon use TLS?)"
               : "the TLS handshake with the daemon failed";
  if (status.error_code() == grpc::StatusCode::UNAVAILABLE && !tls &&
      (m.find("Socket closed") != std::string::npos ||
       m.find("Connection reset") != std::string::npos))
    return "the daemon closed the connection (it may require TLS: set QADJ_TLS_CA or ca.pem)";
  return {};  // "Access is denied" and the rest say enough by their code
}

// The connection of this process to one daemon. Lives while a proxy of one of its
// objects lives; renews the lease of this client's objects in the background.
class ClientSession {
 public:
  explicit ClientSession(const std::string& target)
      : clientId_(randomClientId()),
        security_(LoadClientSecurity()),
        callTimeout_(ClientCallTimeout()) {
    if (!security_.warning.empty()) std::fprintf(stderr, "qadj: %s\n", security_.warning.c_str());
    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(kMaxMessageBytes);
    args.SetMaxSendMessageSize(kMaxMessageBytes);
    // A daemon that was restarted is found again within a second, not after gRPC's
    // default backoff of up to two minutes. One connection attempt may take up to 20 s
    // (gRPC's minimum connect timeout, which the minimum backoff also sets): a busy
    // daemon or a far network answers the handshake late, not never.
    args.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 100);
    args.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, 20000);
    args.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 1000);
    args.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, remote::channelArgMs(remote::kClientPingInterval));
    args.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, remote::channelArgMs(remote::kKeepAliveTimeout));
    channel_ = grpc::CreateCustomChannel(target, remote::ClientCredentials(security_), args);
    stub_ = wire::ObjectService::NewStub(channel_);
  }

  ~ClientSession() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      // A renewal in flight to a server that does not answer must not hold up the
      // release of the last object.
      if (renewing_) renewing_->TryCancel();
    }
    wake_.notify_all();
    if (keepAlive_.joinable()) keepAlive_.join();
  }

  static std::shared_ptr<ClientSession> forTarget(const std::string& target) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<ClientSession>> sessions;
    std::lock_guard lock(mutex);
    if (auto existing = sessions[target].lock()) return existing;
    auto session = std::make_shared<ClientSession>(target);
    sessions[target] = session;
    return session;
  }

  wire::ObjectService::Stub& stub() { return *stub_; }
  // The channel's state (without starting a connection).
  grpc_connectivity_state state() const { return channel_->GetState(false); }
  const std::string& clientId() const { return clientId_; }
  // Why this client cannot call safely (an unreadable authority file); empty when it can.
  const std::string& problem() const { return security_.problem; }

  // Adds the token, and the deadline of a call (ClientCallTimeout); a caller that
  // needs a shorter one sets it afterwards.
  void prepare(grpc::ClientContext& ctx) const {
    if (!security_.token.empty()) ctx.AddMetadata(kTokenKey, security_.token);
    ctx.set_deadline(std::chrono::system_clock::now() + callTimeout_);
  }

  // The failure code of a transport failure; the thread's error information gets the
  // code's text with the transport's reason when there is one worth telling.
  HRESULT fail(const grpc::Status& status) const {
    const HRESULT hr = StatusToHresult(status);
    const std::string detail = transportDetail(status, !security_.caPem.empty());
    if (!detail.empty())
      SetErrorInfo({hr, u"", text::utf8ToUtf16(OleErrorText(hr) + ": " + detail)});
    return hr;
  }

  // The server's lease; starts renewing it at a third of its length.
  void noteLease(std::uint32_t leaseMs) {
    if (leaseMs == 0) return;
    std::lock_guard lock(mutex_);
    leaseMs_ = leaseMs;
    if (!keepAlive_.joinable()) keepAlive_ = std::thread([this] { renewLoop(); });
  }

 private:
  void renewLoop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      const auto period = std::chrono::milliseconds(std::max<std::uint32_t>(leaseMs_ / 3, 1));
      if (wake_.wait_for(lock, period, [this] { return stopping_; })) break;
      grpc::ClientContext ctx;
      prepare(ctx);
      ctx.set_deadline(std::chrono::system_clock::now() + period);
      renewing_ = &ctx;
      lock.unlock();
      wire::KeepAliveRequest req;
      req.set_client_id(clientId_);
      wire::KeepAliveReply rep;
      const bool ok = stub_->KeepAlive(&ctx, req, &rep).ok();
      lock.lock();
      renewing_ = nullptr;
      if (ok && rep.lease_ms() > 0) leaseMs_ = rep.lease_ms();
    }
  }

  std::string clientId_;
  ClientSecurity security_;
  std::chrono::seconds callTimeout_;
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<wire::ObjectService::Stub> stub_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::uint32_t leaseMs_ = 0;
  grpc::ClientContext* renewing_ = nullptr;  // the renewal in flight, under mutex_
  std::thread keepAlive_;
};

// Proxy of one server object. Answers IUnknown and IDispatch itself; other
// interfaces through the registered proxy factories. Releases the server object
// when the last reference goes.
class RemoteObject : public IDispatch {
 public:
  RemoteObject(std::shared_ptr<ClientSession> session, std::uint64_t id)
      : session_(std::move(session)), id_(id) {}

  ~RemoteObject() override {
    wire::ReleaseRequest req;
    wire::ReleaseReply rep;
    // Nothing to do when this fails: the server releases it after the lease.
    (void)call(&wire::ObjectService::Stub::Release, req, rep, kReleaseDeadline);
  }

  HRESULT QueryInterface(const Guid& iid, std::shared_ptr<IUnknown>& out) override {
    out.reset();
    if (!IsInitialized()) return CO_E_NOTINITIALIZED;
    if (iid == IID_IUnknown) {
      out = shared_from_this();
      return S_OK;
    }
    wire::QueryInterfaceRequest req;
    req.set_iid(GuidToBytes(iid));
    wire::QueryInterfaceReply rep;
    const grpc::Status status = call(&wire::ObjectService::Stub::QueryInterface, req, rep);
    if (!status.ok()) return StatusToHresult(status);
    if (failed(rep.hr())) return rep.hr();
    if (iid == IID_IDispatch) {
      out = shared_from_this();
      return S_OK;
    }
    auto factory = CoGetInterfaceProxy(iid);
    if (!factory) return E_NOINTERFACE;
    out = factory(channelFor(iid));
    return out ? S_OK : E_NOINTERFACE;
  }

  // A name the object knew is answered from here afterwards: an object's dispatch ids
  // do not change while it lives, and a late-bound call then costs one call, not two.
  HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) override {
    if (!IsInitialized()) return CO_E_NOTINITIALIZED;
    {
      std::lock_guard lock(namesMutex_);
      if (const auto known = names_.find(name); known != names_.end()) {
        dispid = known->second;
        return S_OK;
      }
    }
    wire::GetIDsOfNamesRequest req;
    req.set_name(Utf16ToBytes(name));
    wire::GetIDsOfNamesReply rep;
    const grpc::Status status = call(&wire::ObjectService::Stub::GetIDsOfNames, req, rep);
    if (!status.ok()) return StatusToHresult(status);
    if (succeeded(rep.hr())) {
      dispid = rep.dispid();
      std::lock_guard lock(namesMutex_);
      names_.emplace(name, dispid);
    }
    return rep.hr();
  }

  HRESULT Invoke(std::int32_t dispid, std::uint16_t flags, std::vector<Variant>& args,
                 Variant* result, ExcepInfo* excep) override {
    return invokeOn(nullptr, dispid, flags, args, result, excep);
  }

  // One invocation on interface iid (null: IDispatch).
  HRESULT invokeOn(const Guid* iid, std::int32_t dispid, std::uint16_t flags,
                   std::vector<Variant>& args, Variant* result, ExcepInfo* excep) {
    if (!IsInitialized()) return CO_E_NOTINITIALIZED;
    wire::InvokeRequest req;
    if (iid) req.set_iid(GuidToBytes(*iid));
    req.set_dispid(dispid);
    req.set_flags(flags);
    req.set_want_result(result != nullptr);
    for (const auto& a : args)
      if (!ToWire(a, *req.add_args())) return DISP_E_TYPEMISMATCH;
    wire::InvokeReply rep;
    const grpc::Status status = call(&wire::ObjectService::Stub::Invoke, req, rep);
    if (!status.ok()) return session_->fail(status);
    if (rep.hr() == DISP_E_EXCEPTION && excep) *excep = FromWire(rep.excep());
    if (failed(rep.hr())) return rep.hr();
    const int n = std::min(rep.args_size(), static_cast<int>(args.size()));
    for (int i = 0; i < n; ++i) {
      Variant& arg = args[static_cast<std::size_t>(i)];
      if (arg.byRef()) {
        arg = FromWire(std::move(*rep.mutable_args(i)));
        arg.setByRef();
      }
    }
    if (result) *result = FromWire(std::move(*rep.mutable_result()));  // takes the packet over
    return rep.hr();
  }

 private:
  std::shared_ptr<IDispatch> channelFor(const Guid& iid);

  // Sends req, made to name this client and object, by method with the token and the
  // call's deadline (or deadline, when given); rep gets the answer.
  template <class Request, class Reply>
  grpc::Status call(grpc::Status (wire::ObjectService::Stub::*method)(grpc::ClientContext*,
                                                                      const Request&, Reply*),
                    Request& req, Reply& rep, std::chrono::milliseconds deadline = {}) {
    grpc::ClientContext ctx;
    session_->prepare(ctx);
    if (deadline.count() > 0) ctx.set_deadline(std::chrono::system_clock::now() + deadline);
    req.set_client_id(session_->clientId());
    req.set_object_id(id_);
    return (session_->stub().*method)(&ctx, req, &rep);
  }

  std::shared_ptr<ClientSession> session_;
  std::uint64_t id_;
  std::mutex namesMutex_;
  std::map<std::u16string, std::int32_t> names_;  // the names the object knew, under namesMutex_
};

// The calls of one custom interface of a remote object, as Invoke with that
// interface's dispatch ids. Keeps the object alive.
class InterfaceChannel : public IDispatch {
 public:
  InterfaceChannel(std::shared_ptr<RemoteObject> object, const Guid& iid)
      : object_(std::move(object)), iid_(iid) {}

  HRESULT QueryInterface(const Guid& iid, std::shared_ptr<IUnknown>& out) override {
    return object_->QueryInterface(iid, out);
  }
  HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) override {
    return object_->GetIDsOfNames(name, dispid);
  }
  HRESULT Invoke(std::int32_t dispid, std::uint16_t flags, std::vector<Variant>& args,
                 Variant* result, ExcepInfo* excep) override {
    return object_->invokeOn(&iid_, dispid, flags, args, result, excep);
  }

 private:
  std::shared_ptr<RemoteObject> object_;
  Guid iid_;
};

std::shared_ptr<IDispatch> RemoteObject::channelFor(const Guid& iid) {
  auto self = std::dynamic_pointer_cast<RemoteObject>(shared_from_this());
  return std::make_shared<InterfaceChannel>(std::move(self), iid);
}

// How long an activation waits for a daemon that cannot be reached now.
enum class Patience {
  Quick,    // one connection attempt (at most kReconnectWait): a daemon that is down
            // is passed over for the next one
  Patient,  // a moment (kReconnectWait), for a daemon that went away and may be back
};

HRESULT activateOn(const std::string& target, Patience patience, const Guid& clsid, const Guid& iid,
                   std::shared_ptr<IUnknown>& out) {
  out.reset();
  auto session = ClientSession::forTarget(target);
  if (!session->problem().empty()) {
    // Never fall back to a plain channel or to other authorities.
    SetErrorInfo(
        {RPC_E_SERVER_UNAVAILABLE, u"",
         text::utf8ToUtf16(OleErrorText(RPC_E_SERVER_UNAVAILABLE) + ": " + session->problem())});
    return RPC_E_SERVER_UNAVAILABLE;
  }
  wire::ActivateRequest req;
  req.set_client_id(session->clientId());
  req.set_clsid(GuidToBytes(clsid));
  req.set_iid(GuidToBytes(IID_IUnknown));
  wire::ActivateReply rep;
  // A daemon that went away (and may be back) is noticed by a channel that had a
  // connection only when the next call runs into the dead connection, or the channel
  // waits for its next attempt: a new object then waits a moment for a new connection
  // instead of failing on the old one. Activation is asked again only after such a
  // failure, when the request went to a daemon that is no longer there.
  const auto activate = [&](bool waitForConnection) {
    grpc::ClientContext ctx;
    session->prepare(ctx);
    if (waitForConnection) ctx.set_wait_for_ready(true);
    // A quick attempt waits for one connection attempt at most as long (and neither
    // waits longer than a call may).
    if (waitForConnection || patience == Patience::Quick)
      ctx.set_deadline(std::min(ctx.deadline(), std::chrono::system_clock::now() + kReconnectWait));
    grpc::Status status = session->stub().Activate(&ctx, req, &rep);
    // No daemon came back in time: that is an unreachable server, not a slow call.
    if (waitForConnection && status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED)
      status = grpc::Status(grpc::StatusCode::UNAVAILABLE, "no daemon answered");
    return status;
  };
  const auto before = session->state();
  grpc::Status status;
  if (patience == Patience::Quick) {
    status = before == GRPC_CHANNEL_TRANSIENT_FAILURE
                 ? grpc::Status(grpc::StatusCode::UNAVAILABLE, "the daemon cannot be reached")
                 : activate(false);
  } else {
    status = activate(before == GRPC_CHANNEL_TRANSIENT_FAILURE);
    if (status.error_code() == grpc::StatusCode::UNAVAILABLE && before == GRPC_CHANNEL_READY)
      status = activate(true);
  }
  if (!status.ok()) return session->fail(status);
  if (failed(rep.hr())) return rep.hr();
  session->noteLease(rep.lease_ms());
  auto object = std::make_shared<RemoteObject>(session, rep.object_id());
  if (iid == IID_IUnknown) {
    out = object;
    return S_OK;
  }
  return object->QueryInterface(iid, out);
}

// The daemon of a list that served this process last; at first a random one.
class DaemonChoice {
 public:
  std::size_t first(const std::vector<std::string>& targets) {
    std::lock_guard lock(mutex_);
    const auto [at, added] = chosen_.try_emplace(key(targets), 0);
    if (added) at->second = std::random_device{}() % targets.size();
    return at->second;
  }
  void served(const std::vector<std::string>& targets, std::size_t index) {
    std::lock_guard lock(mutex_);
    chosen_[key(targets)] = index;
  }

 private:
  static std::string key(const std::vector<std::string>& targets) {
    std::string k;
    for (const auto& t : targets) k += t + ",";
    return k;
  }
  std::mutex mutex_;
  std::map<std::string, std::size_t> chosen_;
};

bool unreachable(HRESULT hr) {
  return hr == RPC_E_SERVER_UNAVAILABLE || hr == RPC_E_CALL_TIMEOUT;
}

}  // namespace

HRESULT CreateInstance(const std::vector<std::string>& targets, const Guid& clsid, const Guid& iid,
                       std::shared_ptr<IUnknown>& out) {
  assert(!targets.empty());
  if (targets.size() == 1) return activateOn(targets.front(), Patience::Patient, clsid, iid, out);
  static DaemonChoice choice;
  const std::size_t first = choice.first(targets);
  HRESULT hr = RPC_E_SERVER_UNAVAILABLE;
  // First a daemon that answers now; only when none does, each again with the patience
  // a single daemon gets.
  for (const Patience patience : {Patience::Quick, Patience::Patient}) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const std::size_t at = (first + i) % targets.size();
      hr = activateOn(targets[at], patience, clsid, iid, out);
      if (unreachable(hr)) continue;
      if (succeeded(hr)) choice.served(targets, at);
      return hr;
    }
  }
  return hr;
}

}  // namespace qadj::com::remote
