// Server side of remote object calls: creates objects of the registered classes for
// clients, forwards their calls, and releases a client's objects when it releases
// them or its lease runs out.
#include <grpcpp/grpcpp.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <malloc.h>
#include <sys/resource.h>

#include "call_admission.h"
#include "connection_gate.h"
#include "object_table.h"
#include "qadj/com/object_server.h"
#include "qadj/platform/error.h"
#include "qadj/platform/server_log.h"
#include "qadj/platform/text.h"
#include "qadj/proto/remote.grpc.pb.h"
#include "remote_wire.h"
#include "request_log.h"

namespace qadj::com {

namespace {

using Clock = std::chrono::steady_clock;
using detail::logField;
using detail::ObjectTable;
using detail::printable;
using detail::ServedObject;

// Idle call threads the server keeps for the next calls (see start()).
constexpr int kIdleCallThreads = 16;

// Why a call was not carried out now; the window shows a method call's text.
constexpr const char16_t* kObjectBusy =
    u"服务器上的这个对象正在执行上一个调用，本次调用未执行；请稍后重试";
constexpr const char16_t* kClientBusy =
    u"这个客户端同时进行的调用已达上限，本次调用未执行；请稍后重试";
constexpr const char16_t* kComputerBusy =
    u"这台计算机同时进行的调用已达上限，本次调用未执行；请稍后重试";
constexpr const char16_t* kReplyMemoryFull =
    u"应用服务器待发送的回复已达内存上限，本次调用的结果未发送；请稍后重试";

// Handler threads belong to gRPC; each initialises the runtime once for the objects
// it calls.
void ensureThreadInitialised() {
  thread_local bool done = false;
  if (!done) {
    CoInitialize();
    done = true;
  }
}

// Compares a presented token with the server's in time that does not depend on where
// they differ.
// secret must not be empty.
bool sameSecret(std::string_view presented, const std::string& secret) {
  unsigned char diff = presented.size() == secret.size() ? 0 : 1;
  for (std::size_t i = 0; i < presented.size(); ++i)
    diff |= static_cast<unsigned char>(presented[i] ^ secret[i % secret.size()]);
  return diff == 0;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw Exception("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The bounds of the listener: the connections the options allow, or as many as the
// descriptor limit leaves room for besides the database sessions (a few descriptors
// each) and the process's own; a computer may hold a quarter of them, at most
// kConnectionsPerComputer.
detail::GateLimits gateLimits(const RemoteServerOptions& o) {
  std::size_t connections = o.maxConnections;
  if (connections == 0) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const std::size_t reserved = 2 * o.maxObjectsTotal + 64;
    connections = limit.rlim_cur > reserved + 16 ? limit.rlim_cur - reserved : 16;
  }
  return {connections, std::clamp<std::size_t>(connections / 4, 1, kConnectionsPerComputer)};
}

}  // namespace

struct RemoteObjectServer::Impl final : wire::ObjectService::Service {
  explicit Impl(RemoteServerOptions o)
      : options(std::move(o)),
        token(options.token),
        objects({options.maxObjectsPerClient, options.maxObjectsPerHost, options.maxObjectsTotal}) {
  }

  RemoteServerOptions options;
  mutable std::mutex tokenMutex;
  std::string token;  // options.token until setToken
  std::map<Guid, ClassFactory> classes;
  // Declared before the server, so that both outlive it: its calls report to them.
  std::unique_ptr<detail::ConnectionGate> gate;  // null on a unix socket
  std::unique_ptr<detail::CallAdmission> admission;
  std::unique_ptr<grpc::Server> server;
  int port = 0;

  ObjectTable objects;
  std::mutex mutex;  // of stopping and stopped, and the loops' waits
  bool stopping = false;
  bool stopped = false;
  // Set when shutting down begins: calls still running are abandoned (CallAbandoned),
  // so that a long statement stops instead of holding up the exit.
  std::atomic<bool> draining{false};
  std::condition_variable reaperWake;  // also wakes the health checker
  std::thread reaper;
  std::thread healthChecker;
  std::atomic<bool> lastHealth{true};  // what the health service answers
  std::size_t replyBytesSeen = 0;      // by the reaper, at its last round

  // --- bookkeeping -------------------------------------------------------------
  // Refuses a call without the server's token. Refused calls are logged (when logging)
  // with the peer's address, so that probing shows in the log.
  grpc::Status checkToken(grpc::ServerContext* ctx, const char* op,
                          const std::string& client) const {
    const std::string token = currentToken();
    if (token.empty()) return grpc::Status::OK;
    const auto& md = ctx->client_metadata();
    auto it = md.find(remote::kTokenKey);
    const char* why = nullptr;
    if (it == md.end())
      why = "missing";
    else if (!sameSecret(std::string_view(it->second.data(), it->second.size()), token))
      why = "wrong";
    if (!why) return grpc::Status::OK;
    if (options.countRequests) metrics::countRequest(op, metrics::Outcome::Refused, 0);
    if (options.logRequests)
      serverLog(LogPriority::Warning, "client=" + printable(client) + " " + op +
                                          " refused: access token " + why + ", " +
                                          logField("peer", ctx->peer(), 200));
    return grpc::Status(grpc::StatusCode::UNAUTHENTICATED, std::string("access token ") + why);
  }

  // The token calls must carry from now on (setToken replaces it).
  std::string currentToken() const {
    std::lock_guard lock(tokenMutex);
    return token;
  }

  // Counts the request (when counting) and logs its line (when logging): see
  // detail::requestLine.
  void log(const char* op, const std::string& client, std::uint64_t id, const RequestFacts& facts,
           std::size_t replyBytes, HRESULT hr, const std::u16string& error, Clock::time_point start,
           bool busy) const {
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (options.countRequests)
      metrics::countRequest(facts.method.empty() ? op : facts.method,
                            busy            ? metrics::Outcome::Busy
                            : succeeded(hr) ? metrics::Outcome::Ok
                                            : metrics::Outcome::Error,
                            ms / 1000);
    if (options.logRequests)
      serverLog(hr == S_OK ? LogPriority::Info : LogPriority::Notice,
                detail::requestLine({op, client, id, facts, replyBytes, hr, error, ms}));
  }

  void reapLoop() {
    std::unique_lock lock(mutex);
    const auto period =
        std::max(std::min(options.lease, options.replyTimeout) / 4, std::chrono::milliseconds(5));
    while (!stopping) {
      reaperWake.wait_for(lock, period, [this] { return stopping; });
      if (stopping) break;
      if (const std::size_t dropped = admission->dropUnreadReplies())
        serverLog(LogPriority::Warning, "replies not read within " +
                                            std::to_string(options.replyTimeout.count()) +
                                            " ms dropped: " + std::to_string(dropped));
      // Replies are large and short-lived: once none is held, their memory goes back to
      // the system instead of staying with the process.
      const std::size_t held = admission->replyBytes();
      if (held == 0 && replyBytesSeen > 0) malloc_trim(0);
      replyBytesSeen = held;
      // Objects are released without the server's lock: releasing one may take a
      // while (its database session closes).
      lock.unlock();
      auto expired = objects.expire(options.lease);
      const bool released = !expired.objects.empty();
      expired.objects.clear();
      // So does what the released objects' sessions held (their caches, their last
      // results), which no reply's trim may follow while other clients' calls go on.
      if (released) malloc_trim(0);
      if (options.logRequests)
        for (const auto& [client, count] : expired.clients)
          serverLog(LogPriority::Info, "lease expired client=" + printable(client) +
                                           " objects=" + std::to_string(count) + " released");
      lock.lock();
    }
  }

  // Asks options.healthy (false when it throws) and tells the health service, logging
  // a change.
  void checkHealth() {
    bool healthy = false;
    try {
      healthy = options.healthy();
    } catch (...) {
    }
    server->GetHealthCheckService()->SetServingStatus(healthy);
    if (healthy != lastHealth)
      serverLog(healthy ? LogPriority::Notice : LogPriority::Error,
                healthy ? "health SERVING: the database answers again"
                        : "health NOT_SERVING: the database does not answer");
    lastHealth = healthy;
  }

  void healthLoop() {
    std::unique_lock lock(mutex);
    while (!reaperWake.wait_for(lock, options.healthInterval, [this] { return stopping; })) {
      lock.unlock();
      checkHealth();
      lock.lock();
    }
  }

  // The one catch list around an object's code (its factory, QueryInterface, its
  // methods): whatever it throws, the daemon stays up. Returns what body returns, or
  // on a throw `failure`; with excep given, DISP_E_EXCEPTION and the description.
  template <class F>
  static HRESULT objectCode(F&& body, HRESULT failure = E_FAIL, ExcepInfo* excep = nullptr) {
    std::u16string what;
    try {
      return body();
    } catch (const std::exception& e) {
      what = text::utf8ToUtf16(text::gbkToUtf8Lossy(e.what()));
    } catch (...) {
      what = u"unexpected failure in the served object";
    }
    if (!excep) return failure;
    *excep = ExcepInfo{E_FAIL, u"", std::move(what)};
    return DISP_E_EXCEPTION;
  }

  // The steps every request of the service shares: the token check, the thread's
  // object runtime, the lookup of the caller's object and the log line with the time
  // taken from construction to done(), with the facts the object's code noted.
  class Call {
   public:
    Call(Impl& server, grpc::ServerContext* ctx, const char* op, const std::string& client,
         std::uint64_t objectId = 0)
        : server_(server),
          ctx_(ctx),
          op_(op),
          client_(client),
          objectId_(objectId),
          start_(Clock::now()),
          status_(server.checkToken(ctx, op, client)) {
      facts_.wantsText = server.options.logStatementText;
      if (!status_.ok()) return;
      switch (server.admission->admit(ctx, client)) {
        case detail::CallAdmission::Verdict::Admitted:
          admitted_ = true;
          ensureThreadInitialised();
          break;
        case detail::CallAdmission::Verdict::ClientBusy:
          busy_ = kClientBusy;
          break;
        case detail::CallAdmission::Verdict::ComputerBusy:
          busy_ = kComputerBusy;
          break;
      }
    }
    // Whether the call was refused (its token, or too many calls in flight); answer
    // it with refuse().
    bool refused() const { return !admitted_; }
    // Answers a refused call: the token's refusal as the call's status, or the reply
    // saying the server is busy.
    template <class Reply>
    grpc::Status refuse(Reply& reply) {
      if (!status_.ok()) return status_;
      busy(reply, busy_);
      return grpc::Status::OK;
    }
    // Answers the call with the reply saying why the server did not carry it out now
    // (one of the k... texts): RPC_E_SERVERCALL_RETRYLATER, and a method call's
    // description.
    template <class Reply>
    void busy(Reply& reply, const char16_t* why) {
      reply.Clear();
      HRESULT hr = RPC_E_SERVERCALL_RETRYLATER;
      if constexpr (std::is_same_v<Reply, wire::InvokeReply>) {
        remote::ToWire(ExcepInfo{hr, u"", why}, *reply.mutable_excep());
        hr = DISP_E_EXCEPTION;
      }
      reply.set_hr(hr);
      answeredBusy_ = true;
      log(reply, hr, why);
    }
    // The caller's object (renewing its lease), or null when it was released.
    std::shared_ptr<ServedObject> object() const {
      return server_.objects.find(client_, objectId_);
    }
    void setObjectId(std::uint64_t id) { objectId_ = id; }
    // What the object's code notes for the log line and the request counters (see
    // CallerScope), or null when the server neither logs nor counts requests.
    RequestFacts* facts() {
      return server_.options.logRequests || server_.options.countRequests ? &facts_ : nullptr;
    }
    // Charges memory the call holds until its reply is sent (see CallAdmission).
    bool charge(std::size_t bytes) {
      const bool room = server_.admission->charge(ctx_, bytes);
      charged_ += room ? bytes : 0;
      return room;
    }
    // Sets the reply's result and logs the request's outcome with the reply's size and
    // the error's description. A reply that does not fit the bounds of reply memory
    // (counted twice: the message and its bytes on the way out) is replaced by one
    // saying so.
    template <class Reply>
    void done(Reply& reply, HRESULT hr, const std::u16string& error = {}) {
      reply.set_hr(hr);
      const std::size_t bytes = reply.ByteSizeLong();
      if (admitted_ && 2 * bytes > charged_ && !charge(2 * bytes - charged_))
        busy(reply, kReplyMemoryFull);
      else
        log(reply, hr, error);
    }

   private:
    Impl& server_;
    grpc::ServerContext* ctx_;
    const char* op_;
    const std::string& client_;
    std::uint64_t objectId_;
    Clock::time_point start_;
    grpc::Status status_;
    bool admitted_ = false;
    const char16_t* busy_ = nullptr;
    bool answeredBusy_ = false;  // the reply says the server is busy
    std::size_t charged_ = 0;
    RequestFacts facts_;

    template <class Reply>
    void log(const Reply& reply, HRESULT hr, const std::u16string& error) const {
      server_.log(op_, client_, objectId_, facts_, reply.ByteSizeLong(), hr, error, start_,
                  answeredBusy_);
      if (admitted_) server_.admission->replyBuilt(ctx_);
    }
  };

  static grpc::Status objectReleased() {
    return grpc::Status(grpc::StatusCode::NOT_FOUND, "object released");
  }
  static grpc::Status malformedIdentifier() {
    return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "malformed identifier");
  }

  // --- the service ---------------------------------------------------------------
  grpc::Status Activate(grpc::ServerContext* ctx, const wire::ActivateRequest* req,
                        wire::ActivateReply* rep) override {
    Call call(*this, ctx, "Activate", req->client_id());
    if (call.refused()) return call.refuse(*rep);
    Guid clsid, iid;
    if (!remote::GuidFromBytes(req->clsid(), clsid) || !remote::GuidFromBytes(req->iid(), iid))
      return malformedIdentifier();
    rep->set_lease_ms(static_cast<std::uint32_t>(options.lease.count()));
    HRESULT hr = S_OK;
    std::uint64_t id = 0;
    const std::string host = detail::peerComputer(ctx->peer());
    if (!objects.roomFor(req->client_id(), host)) hr = E_OUTOFMEMORY;
    auto cls = classes.find(clsid);
    if (succeeded(hr) && cls == classes.end()) hr = REGDB_E_CLASSNOTREG;
    std::shared_ptr<IUnknown> itf;
    if (succeeded(hr)) {
      hr = objectCode(
          [&] {
            auto object = cls->second();
            return object ? object->QueryInterface(iid, itf) : CO_E_SERVER_EXEC_FAILURE;
          },
          CO_E_SERVER_EXEC_FAILURE);
    }
    if (succeeded(hr)) {
      auto served = std::make_shared<ServedObject>();
      served->object = std::move(itf);
      // The caps are checked again: other activations may have taken the room meanwhile.
      switch (objects.add(req->client_id(), host, std::move(served), id)) {
        case ObjectTable::Added::Yes:
          break;
        case ObjectTable::Added::Full:
          hr = E_OUTOFMEMORY;
          break;
        case ObjectTable::Added::Closed:
          return grpc::Status(grpc::StatusCode::UNAVAILABLE, "shutting down");
      }
    }
    call.setObjectId(id);
    rep->set_object_id(id);
    call.done(*rep, hr);
    return grpc::Status::OK;
  }

  grpc::Status QueryInterface(grpc::ServerContext* ctx, const wire::QueryInterfaceRequest* req,
                              wire::QueryInterfaceReply* rep) override {
    Call call(*this, ctx, "QueryInterface", req->client_id(), req->object_id());
    if (call.refused()) return call.refuse(*rep);
    auto served = call.object();
    if (!served) return objectReleased();
    Guid iid;
    if (!remote::GuidFromBytes(req->iid(), iid)) return malformedIdentifier();
    std::unique_lock calls(served->calls, std::try_to_lock);
    if (!calls) {
      call.busy(*rep, kObjectBusy);
      return grpc::Status::OK;
    }
    std::shared_ptr<IUnknown> itf;
    call.done(*rep, objectCode([&] { return served->object->QueryInterface(iid, itf); }));
    return grpc::Status::OK;
  }

  grpc::Status GetIDsOfNames(grpc::ServerContext* ctx, const wire::GetIDsOfNamesRequest* req,
                             wire::GetIDsOfNamesReply* rep) override {
    Call call(*this, ctx, "GetIDsOfNames", req->client_id(), req->object_id());
    if (call.refused()) return call.refuse(*rep);
    auto served = call.object();
    if (!served) return objectReleased();
    std::int32_t dispid = 0;
    std::unique_lock calls(served->calls, std::try_to_lock);
    if (!calls) {
      call.busy(*rep, kObjectBusy);
      return grpc::Status::OK;
    }
    const HRESULT hr = objectCode([&] {
      std::shared_ptr<IUnknown> itf;
      HRESULT r = served->object->QueryInterface(IID_IDispatch, itf);
      auto disp = interface_cast<IDispatch>(itf);
      if (succeeded(r) && !disp) r = E_NOINTERFACE;
      if (succeeded(r)) r = disp->GetIDsOfNames(remote::Utf16FromBytes(req->name()), dispid);
      return r;
    });
    rep->set_dispid(dispid);
    call.done(*rep, hr);
    return grpc::Status::OK;
  }

  // The call on its interface: through the interface's stub when one is registered
  // and the object answers the interface, else through the object's IDispatch.
  static HRESULT dispatchCall(IUnknown& object, const std::string& iidBytes, std::int32_t dispid,
                              std::uint16_t flags, std::vector<Variant>& args, Variant* result,
                              ExcepInfo& excep) {
    Guid iid;
    if (!iidBytes.empty() && remote::GuidFromBytes(iidBytes, iid) && iid != IID_IDispatch) {
      if (auto stub = CoGetInterfaceStub(iid)) {
        std::shared_ptr<IUnknown> itf;
        if (succeeded(object.QueryInterface(iid, itf)) && itf)
          return stub(itf, dispid, args, result, &excep);
      }
    }
    std::shared_ptr<IUnknown> itf;
    const HRESULT hr = object.QueryInterface(IID_IDispatch, itf);
    auto disp = interface_cast<IDispatch>(itf);
    if (failed(hr) || !disp) return failed(hr) ? hr : E_NOINTERFACE;
    return disp->Invoke(dispid, flags, args, result, &excep);
  }

  grpc::Status Invoke(grpc::ServerContext* ctx, const wire::InvokeRequest* req,
                      wire::InvokeReply* rep) override {
    Call call(*this, ctx, "Invoke", req->client_id(), req->object_id());
    if (call.refused()) return call.refuse(*rep);
    auto served = call.object();
    if (!served) return objectReleased();
    std::vector<Variant> args;
    args.reserve(static_cast<std::size_t>(req->args_size()));
    for (const auto& a : req->args()) args.push_back(remote::FromWire(a));
    Variant result;
    ExcepInfo excep;
    HRESULT hr;
    {
      std::unique_lock calls(served->calls, std::try_to_lock);
      if (!calls) {
        call.busy(*rep, kObjectBusy);
        return grpc::Status::OK;
      }
      const CallerScope caller(
          ctx->peer(),
          [this, ctx] { return draining.load(std::memory_order_relaxed) || ctx->IsCancelled(); },
          call.facts(), [&call](std::size_t bytes) { return call.charge(bytes); });
      ExcepInfo stale;
      GetErrorInfo(stale);  // a description left by an earlier call is not this one's
      hr = objectCode(
          [&] {
            return dispatchCall(*served->object, req->iid(), req->dispid(),
                                static_cast<std::uint16_t>(req->flags()), args,
                                req->want_result() ? &result : nullptr, excep);
          },
          E_FAIL, &excep);
    }
    if (RequestFacts* facts = call.facts(); facts && facts->method.empty())
      facts->method = "Invoke dispid=" + std::to_string(req->dispid());
    if (hr == DISP_E_EXCEPTION) remote::ToWire(excep, *rep->mutable_excep());
    if (succeeded(hr)) {
      for (std::size_t i = 0; i < args.size(); ++i) {
        auto* out = rep->add_args();
        if (req->args(static_cast<int>(i)).by_ref() && !remote::ToWire(std::move(args[i]), *out))
          hr = DISP_E_TYPEMISMATCH;
      }
      // The packet of a fetch moves into the reply.
      if (req->want_result() && !remote::ToWire(std::move(result), *rep->mutable_result()))
        hr = DISP_E_TYPEMISMATCH;
    }
    call.done(*rep, hr, hr == DISP_E_EXCEPTION ? excep.description : std::u16string());
    return grpc::Status::OK;
  }

  grpc::Status Release(grpc::ServerContext* ctx, const wire::ReleaseRequest* req,
                       wire::ReleaseReply* rep) override {
    Call call(*this, ctx, "Release", req->client_id(), req->object_id());
    if (call.refused()) return call.refuse(*rep);
    auto released = objects.remove(req->client_id(), req->object_id());
    const HRESULT hr = released ? S_OK : S_FALSE;
    released.reset();  // the object's last reference: its session closes here
    call.done(*rep, hr);
    return grpc::Status::OK;
  }

  // Not logged: clients send one every quarter lease.
  grpc::Status KeepAlive(grpc::ServerContext* ctx, const wire::KeepAliveRequest* req,
                         wire::KeepAliveReply* rep) override {
    if (auto s = checkToken(ctx, "KeepAlive", req->client_id()); !s.ok()) return s;
    // Counted against the computer only: a client busy with its own calls still keeps
    // its lease.
    if (admission->admit(ctx, "") != detail::CallAdmission::Verdict::Admitted)
      return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, "too many calls in flight");
    rep->set_lease_ms(static_cast<std::uint32_t>(options.lease.count()));
    if (const std::size_t held = objects.renew(req->client_id()))
      rep->set_objects(static_cast<std::uint32_t>(held));
    return grpc::Status::OK;
  }
};

RemoteObjectServer::RemoteObjectServer(RemoteServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

RemoteObjectServer::~RemoteObjectServer() {
  shutdown();
}

void RemoteObjectServer::registerClass(const Guid& clsid, const std::string& /*progId*/,
                                       ClassFactory factory) {
  impl_->classes[clsid] = std::move(factory);
}

namespace {

// TLS with the options' key and certificate when both are given, else none. Throws
// Exception when a file cannot be read.
std::shared_ptr<grpc::ServerCredentials> serverCredentials(const RemoteServerOptions& o) {
  if (o.tlsCertFile.empty() || o.tlsKeyFile.empty()) return grpc::InsecureServerCredentials();
  grpc::SslServerCredentialsOptions ssl;
  ssl.pem_key_cert_pairs.push_back({readFile(o.tlsKeyFile), readFile(o.tlsCertFile)});
  return grpc::SslServerCredentials(ssl);
}

// The transport's bounds: message sizes, handshake, idle and keep-alive times, streams
// per connection, call threads and the memory of the requests in flight.
void setTransportLimits(grpc::ServerBuilder& builder, const RemoteServerOptions& o) {
  const auto wireLimit = [](std::size_t bytes) {
    return static_cast<int>(std::min<std::size_t>(bytes, INT32_MAX));
  };
  builder.SetMaxReceiveMessageSize(wireLimit(o.maxRequestBytes));
  builder.SetMaxSendMessageSize(wireLimit(o.maxMessageBytes));
  using remote::channelArgMs;
  builder.AddChannelArgument(GRPC_ARG_SERVER_HANDSHAKE_TIMEOUT_MS, channelArgMs(kHandshakeTimeout));
  builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS, channelArgMs(kConnectionIdle));
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, channelArgMs(kKeepAliveTime));
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS,
                             channelArgMs(remote::kKeepAliveTimeout));
  builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
  builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS,
                             channelArgMs(remote::kMinPingInterval));
  builder.AddChannelArgument(GRPC_ARG_MAX_CONCURRENT_STREAMS, kStreamsPerConnection);
  grpc::ResourceQuota quota("qadj-remote");
  quota.SetMaxThreads(kMaxCallThreads);
  quota.Resize(std::max<std::size_t>(o.maxRequestBytes * 4, std::size_t{16} << 20));
  builder.SetResourceQuota(quota);
  // gRPC's default keeps two idle call threads and ends the others after their call:
  // under concurrent clients it then starts a thread every few calls. Keep more.
  builder.SetSyncServerOption(grpc::ServerBuilder::SyncServerOption::MAX_POLLERS, kIdleCallThreads);
}

}  // namespace

void RemoteObjectServer::start() {
  auto& o = impl_->options;
  if (impl_->server) throw Exception("remote object server already started");
  if (!IsLoopbackAddress(o.listen) && o.token.empty())
    throw Exception("listening on " + o.listen + " requires an access token");
  if (o.lease.count() <= 0) throw Exception("the lease must be positive");
  const auto creds = serverCredentials(o);
  // Every server of the process answers grpc.health.v1.Health.
  grpc::EnableDefaultHealthCheckService(true);
  detail::CallAdmission::installHooks();
  grpc::ServerBuilder builder;
  std::unique_ptr<grpc::experimental::ExternalConnectionAcceptor> acceptor;
  if (o.listen.starts_with("unix:")) {
    builder.AddListeningPort(o.listen, creds, &impl_->port);
  } else {
    // The gate binds without SO_REUSEPORT: a second daemon on the port fails to start.
    impl_->gate = std::make_unique<detail::ConnectionGate>(o.listen, gateLimits(o));
    impl_->port = impl_->gate->port();
    acceptor = builder.experimental().AddExternalConnectionAcceptor(
        grpc::ServerBuilder::experimental_type::ExternalConnectionType::FROM_FD, creds);
  }
  impl_->admission = std::make_unique<detail::CallAdmission>(
      detail::AdmissionLimits{o.maxCallsPerClient, o.maxCallsPerHost, o.maxReplyBytesPerClient,
                              o.maxReplyBytes, o.replyTimeout});
  setTransportLimits(builder, o);
  builder.RegisterService(impl_.get());
  impl_->server = builder.BuildAndStart();
  if (!impl_->server || impl_->port == 0) {
    impl_->server.reset();
    impl_->gate.reset();
    throw Exception("cannot listen on " + o.listen);
  }
  if (impl_->gate) impl_->gate->start(std::move(acceptor));
  impl_->reaper = std::thread([impl = impl_.get()] { impl->reapLoop(); });
  if (o.healthy) {
    impl_->checkHealth();
    impl_->healthChecker = std::thread([impl = impl_.get()] { impl->healthLoop(); });
  }
}

void RemoteObjectServer::setToken(std::string token) {
  if (token.empty() && !IsLoopbackAddress(impl_->options.listen))
    throw Exception("listening on " + impl_->options.listen + " requires an access token");
  std::lock_guard lock(impl_->tokenMutex);
  impl_->token = std::move(token);
}

int RemoteObjectServer::port() const {
  return impl_->port;
}

void RemoteObjectServer::shutdown() {
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->stopped || !impl_->server) return;
    impl_->stopping = true;
    impl_->draining = true;
  }
  impl_->objects.close();
  impl_->reaperWake.notify_all();
  if (impl_->gate) impl_->gate->stop();  // no more connections
  impl_->server->Shutdown(std::chrono::system_clock::now() + std::chrono::seconds(5));
  if (impl_->reaper.joinable()) impl_->reaper.join();
  if (impl_->healthChecker.joinable()) impl_->healthChecker.join();
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopped = true;
  }
  impl_->objects.takeAll().clear();
}

void RemoteObjectServer::wait() {
  if (impl_->server) impl_->server->Wait();
}

metrics::Gauges RemoteObjectServer::gauges() const {
  metrics::Gauges g;
  g.objects = objectCount();
  g.connections = impl_->gate ? impl_->gate->openConnections() : 0;
  g.databaseUp = impl_->lastHealth.load();
  return g;
}

std::size_t RemoteObjectServer::objectCount() const {
  return impl_->objects.count();
}

}  // namespace qadj::com
