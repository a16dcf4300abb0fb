// Client side of remote object calls: one session (channel, client id, keep-alive)
// per server address, and proxies that turn interface calls into wire requests.
#include "remote_client.h"

#include <grpcpp/grpcpp.h>

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "qadj/proto/remote.grpc.pb.h"
#include "remote_wire.h"

namespace qadj::com::remote {

namespace {

constexpr int kMaxMessageBytes = 256 << 20;
constexpr auto kReleaseDeadline = std::chrono::seconds(5);

std::string randomClientId() {
  std::random_device rd;
  std::ostringstream out;
  out << std::hex;
  for (int i = 0; i < 4; ++i) out << rd();
  return out.str();
}

std::string envText(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::shared_ptr<grpc::ChannelCredentials> clientCredentials() {
  // QADJ_TLS_CA names the PEM file of the certificate authority that signed the
  // daemon's certificate; without it the channel is plain.
  const std::string caFile = envText("QADJ_TLS_CA");
  if (caFile.empty()) return grpc::InsecureChannelCredentials();
  std::ifstream in(caFile);
  std::stringstream pem;
  pem << in.rdbuf();
  grpc::SslCredentialsOptions options;
  options.pem_root_certs = pem.str();
  return grpc::SslCredentials(options);
}

// The connection of this process to one daemon. Lives while a proxy of one of its
// objects lives; renews the lease of this client's objects in the background.
class ClientSession {
 public:
  explicit ClientSession(const std::string& target)
      : clientId_(randomClientId()), token_(envText("QADJ_TOKEN")) {
    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(kMaxMessageBytes);
    args.SetMaxSendMessageSize(kMaxMessageBytes);
    channel_ = grpc::CreateCustomChannel(target, clientCredentials(), args);
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
  const std::string& clientId() const { return clientId_; }

  void prepare(grpc::ClientContext& ctx) const {
    if (!token_.empty()) ctx.AddMetadata(kTokenKey, token_);
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
  std::string token_;
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
    grpc::ClientContext ctx;
    session_->prepare(ctx);
    ctx.set_deadline(std::chrono::system_clock::now() + kReleaseDeadline);
    wire::ReleaseRequest req;
    req.set_client_id(session_->clientId());
    req.set_object_id(id_);
    wire::ReleaseReply rep;
    // Nothing to do when this fails: the server releases it after the lease.
    (void)session_->stub().Release(&ctx, req, &rep);
  }

  HRESULT QueryInterface(const Guid& iid, std::shared_ptr<IUnknown>& out) override {
    out.reset();
    if (!IsInitialized()) return CO_E_NOTINITIALIZED;
    if (iid == IID_IUnknown) {
      out = shared_from_this();
      return S_OK;
    }
    grpc::ClientContext ctx;
    session_->prepare(ctx);
    wire::QueryInterfaceRequest req;
    req.set_client_id(session_->clientId());
    req.set_object_id(id_);
    req.set_iid(GuidToBytes(iid));
    wire::QueryInterfaceReply rep;
    const grpc::Status status = session_->stub().QueryInterface(&ctx, req, &rep);
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

  HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) override {
    if (!IsInitialized()) return CO_E_NOTINITIALIZED;
    grpc::ClientContext ctx;
    session_->prepare(ctx);
    wire::GetIDsOfNamesRequest req;
    req.set_client_id(session_->clientId());
    req.set_object_id(id_);
    req.set_name(Utf16ToBytes(name));
    wire::GetIDsOfNamesReply rep;
    const grpc::Status status = session_->stub().GetIDsOfNames(&ctx, req, &rep);
    if (!status.ok()) return StatusToHresult(status);
    if (succeeded(rep.hr())) dispid = rep.dispid();
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
    req.set_client_id(session_->clientId());
    req.set_object_id(id_);
    if (iid) req.set_iid(GuidToBytes(*iid));
    req.set_dispid(dispid);
    req.set_flags(flags);
    req.set_want_result(result != nullptr);
    for (const auto& a : args)
      if (!ToWire(a, *req.add_args())) return DISP_E_TYPEMISMATCH;
    grpc::ClientContext ctx;
    session_->prepare(ctx);
    wire::InvokeReply rep;
    const grpc::Status status = session_->stub().Invoke(&ctx, req, &rep);
    if (!status.ok()) return StatusToHresult(status);
    if (rep.hr() == DISP_E_EXCEPTION && excep) *excep = FromWire(rep.excep());
    if (failed(rep.hr())) return rep.hr();
    const int n = std::min(rep.args_size(), static_cast<int>(args.size()));
    for (int i = 0; i < n; ++i) {
      if (args[static_cast<std::size_t>(i)].byRef())
        args[static_cast<std::size_t>(i)] = FromWire(rep.args(i)).setByRef();
    }
    if (result) *result = FromWire(rep.result());
    return rep.hr();
  }

 private:
  std::shared_ptr<IDispatch> channelFor(const Guid& iid);

  std::shared_ptr<ClientSession> session_;
  std::uint64_t id_;
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

}  // namespace

HRESULT CreateInstance(const std::string& target, const Guid& clsid, const Guid& iid,
                       std::shared_ptr<IUnknown>& out) {
  out.reset();
  auto session = ClientSession::forTarget(target);
  grpc::ClientContext ctx;
  session->prepare(ctx);
  wire::ActivateRequest req;
  req.set_client_id(session->clientId());
  req.set_clsid(GuidToBytes(clsid));
  req.set_iid(GuidToBytes(IID_IUnknown));
  wire::ActivateReply rep;
  const grpc::Status status = session->stub().Activate(&ctx, req, &rep);
  if (!status.ok()) return StatusToHresult(status);
  if (failed(rep.hr())) return rep.hr();
  session->noteLease(rep.lease_ms());
  auto object = std::make_shared<RemoteObject>(session, rep.object_id());
  if (iid == IID_IUnknown) {
    out = object;
    return S_OK;
  }
  return object->QueryInterface(iid, out);
}

}  // namespace qadj::com::remote
