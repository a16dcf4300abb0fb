// Remote object calls over gRPC: activation, invocation, interface marshaling,
// leases, access token and limits of the object server.
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "qadj/com/object_server.h"
#include "qadj/platform/error.h"
#include "qadj/proto/remote.grpc.pb.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/scoped_env.h"

namespace qadj::com {
namespace {

using namespace std::chrono_literals;

const Guid kEchoClass = *Guid::parse("{A0000000-0000-4000-8000-000000000001}");
const Guid IID_ICounter = *Guid::parse("{A0000000-0000-4000-8000-0000000000C1}");
const Guid IID_IUnproxied = *Guid::parse("{A0000000-0000-4000-8000-0000000000C2}");

// Counts live objects so that tests can wait for releases.
struct Live {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
  void add(int d) {
    std::lock_guard lock(mutex);
    count += d;
    changed.notify_all();
  }
  bool waitFor(int n, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return count == n; });
  }
} live;

// A custom interface carried by a stub and a proxy.
class ICounter : public virtual IUnknown {
 public:
  // Adds n to total (in/out).
  virtual HRESULT Add(std::int32_t n, std::int32_t& total) = 0;
};

// Echo(value) = dispid 1 returns its argument; dispid 2 doubles a by-reference
// integer. Also answers ICounter and (without a proxy) IID_IUnproxied.
class EchoObject : public IDispatch, public ICounter {
 public:
  static inline std::atomic<int> namesAsked{0};  // look-ups that reached an object
  EchoObject() { live.add(1); }
  ~EchoObject() override { live.add(-1); }
  HRESULT QueryInterface(const Guid& iid, std::shared_ptr<IUnknown>& out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_ICounter ||
        iid == IID_IUnproxied) {
      out = shared_from_this();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) override {
    ++namesAsked;
    if (name == u"Echo")
      dispid = 1;
    else if (name == u"Double")
      dispid = 2;
    else if (name == u"Throw")
      throw 42;  // not even a std::exception
    else
      return DISP_E_UNKNOWNNAME;
    return S_OK;
  }
  HRESULT Invoke(std::int32_t dispid, std::uint16_t, std::vector<Variant>& args, Variant* result,
                 ExcepInfo* excep) override {
    if (dispid == 1 && args.size() == 1) {
      if (result) *result = Variant(args[0]).setByRef(false);
      return S_OK;
    }
    if (dispid == 2 && args.size() == 1 && args[0].type() == VarType::I4) {
      args[0] = Variant::i4(args[0].asI4() * 2).setByRef();
      return S_OK;
    }
    if (dispid == 3) throw std::runtime_error("object fault");
    if (dispid == 4) throw 42;
    if (excep) *excep = ExcepInfo{E_FAIL, u"", u"no such call"};
    return DISP_E_EXCEPTION;
  }
  HRESULT Add(std::int32_t n, std::int32_t& total) override {
    total += n;
    return S_OK;
  }
};

class CounterProxy : public ICounter {
 public:
  explicit CounterProxy(std::shared_ptr<IDispatch> channel) : channel_(std::move(channel)) {}
  HRESULT QueryInterface(const Guid& iid, std::shared_ptr<IUnknown>& out) override {
    return channel_->QueryInterface(iid, out);
  }
  HRESULT Add(std::int32_t n, std::int32_t& total) override {
    std::vector<Variant> args{Variant::i4(total).setByRef(), Variant::i4(n)};
    const HRESULT hr = channel_->Invoke(1, DISPATCH_METHOD, args, nullptr, nullptr);
    if (succeeded(hr)) total = args[0].asI4();
    return hr;
  }

 private:
  std::shared_ptr<IDispatch> channel_;
};

void registerCounterMarshaling() {
  CoRegisterInterfaceStub(IID_ICounter,
                          [](const std::shared_ptr<IUnknown>& itf, std::int32_t dispid,
                             std::vector<Variant>& args, Variant*, ExcepInfo*) {
                            auto counter = interface_cast<ICounter>(itf);
                            if (!counter || dispid != 1 || args.size() != 2)
                              return DISP_E_MEMBERNOTFOUND;
                            std::int32_t total = args[0].asI4();
                            const HRESULT hr = counter->Add(args[1].asI4(), total);
                            args[0] = Variant::i4(total).setByRef();
                            return hr;
                          });
  CoRegisterInterfaceProxy(IID_ICounter, [](std::shared_ptr<IDispatch> channel) {
    return std::static_pointer_cast<IUnknown>(std::make_shared<CounterProxy>(std::move(channel)));
  });
}

class Remote : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override { baseline_ = live.count; }
  void TearDown() override { server_.reset(); }
  void serve(RemoteServerOptions options = {}) {
    options.listen =
        options.listen == RemoteServerOptions{}.listen ? "127.0.0.1:0" : options.listen;
    server_ = std::make_unique<RemoteObjectServer>(options);
    server_->registerClass(kEchoClass, "Test.Echo", [] { return std::make_shared<EchoObject>(); });
    server_->start();
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(server_->port()); }
  std::shared_ptr<IDispatch> create() {
    std::shared_ptr<IUnknown> out;
    EXPECT_EQ(CoCreateInstanceEx(kEchoClass, CLSCTX_REMOTE_SERVER, host(), IID_IDispatch, out),
              S_OK);
    return interface_cast<IDispatch>(out);
  }

  std::unique_ptr<RemoteObjectServer> server_;
  int baseline_ = 0;
};

TEST_F(Remote, CreatesCallsAndReleasesAnObject) {
  serve();
  auto obj = create();
  ASSERT_TRUE(obj);
  EXPECT_EQ(server_->objectCount(), 1u);
  std::int32_t id = 0;
  EXPECT_EQ(obj->GetIDsOfNames(u"Double", id), S_OK);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(obj->GetIDsOfNames(u"Triple", id), DISP_E_UNKNOWNNAME);
  // A known name is answered by the proxy the second time; an unknown one is asked again.
  const int asked = EchoObject::namesAsked;
  id = 0;
  EXPECT_EQ(obj->GetIDsOfNames(u"Double", id), S_OK);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(EchoObject::namesAsked, asked);
  EXPECT_EQ(obj->GetIDsOfNames(u"Triple", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(EchoObject::namesAsked, asked + 1);
  std::vector<Variant> args{Variant::i4(21).setByRef()};
  EXPECT_EQ(obj->Invoke(2, DISPATCH_METHOD, args, nullptr, nullptr), S_OK);
  EXPECT_TRUE(args[0] == Variant::i4(42).setByRef());
  // A by-value argument is not written back.
  std::vector<Variant> byValue{Variant::i4(21)};
  EXPECT_EQ(obj->Invoke(2, DISPATCH_METHOD, byValue, nullptr, nullptr), S_OK);
  EXPECT_EQ(byValue[0].asI4(), 21);
  ExcepInfo excep;
  std::vector<Variant> none;
  EXPECT_EQ(obj->Invoke(9, DISPATCH_METHOD, none, nullptr, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.description, u"no such call");
  obj.reset();
  EXPECT_EQ(server_->objectCount(), 0u);
  EXPECT_EQ(live.count, baseline_);
}

TEST_F(Remote, AnObjectThatThrowsReportsAnExceptionAndTheServerGoesOn) {
  serve();
  auto obj = create();
  ExcepInfo excep;
  std::vector<Variant> none;
  EXPECT_EQ(obj->Invoke(3, DISPATCH_METHOD, none, nullptr, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.description, u"object fault");
  // Whatever an object throws, the call fails and the daemon goes on.
  ExcepInfo other;
  EXPECT_EQ(obj->Invoke(4, DISPATCH_METHOD, none, nullptr, &other), DISP_E_EXCEPTION);
  EXPECT_FALSE(other.description.empty());
  std::int32_t id = 0;
  EXPECT_EQ(obj->GetIDsOfNames(u"Throw", id), E_FAIL);
  std::vector<Variant> args{Variant::i4(1).setByRef()};
  EXPECT_EQ(obj->Invoke(2, DISPATCH_METHOD, args, nullptr, nullptr), S_OK);
}

TEST_F(Remote, UnknownClassAndRefusedInterface) {
  serve();
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstanceEx(*Guid::parse("{A0000000-0000-4000-8000-0000000000FF}"),
                               CLSCTX_REMOTE_SERVER, host(), IID_IUnknown, out),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(CoCreateInstanceEx(kEchoClass, CLSCTX_REMOTE_SERVER, host(), IID_IUnknown, out), S_OK);
  std::shared_ptr<IUnknown> itf;
  EXPECT_EQ(out->QueryInterface(*Guid::parse("{A0000000-0000-4000-8000-0000000000EE}"), itf),
            E_NOINTERFACE);
  // Answered by the object but with no proxy in this process.
  EXPECT_EQ(out->QueryInterface(IID_IUnproxied, itf), E_NOINTERFACE);
}

TEST_F(Remote, CustomInterfaceTravelsThroughStubAndProxy) {
  registerCounterMarshaling();
  serve();
  auto obj = create();
  std::shared_ptr<IUnknown> itf;
  ASSERT_EQ(obj->QueryInterface(IID_ICounter, itf), S_OK);
  auto counter = interface_cast<ICounter>(itf);
  ASSERT_TRUE(counter);
  std::int32_t total = 5;
  EXPECT_EQ(counter->Add(7, total), S_OK);
  EXPECT_EQ(total, 12);
  // The interface keeps the object alive after the first reference goes.
  obj.reset();
  EXPECT_EQ(server_->objectCount(), 1u);
  EXPECT_EQ(counter->Add(1, total), S_OK);
  EXPECT_EQ(total, 13);
  counter.reset();
  itf.reset();
  EXPECT_EQ(server_->objectCount(), 0u);
}

TEST_F(Remote, TensOfMegabytesPassBothWays) {
  RemoteServerOptions options;
  options.maxRequestBytes = 64u << 20;  // requests are capped at 4 MiB by default
  serve(options);
  auto obj = create();
  std::vector<std::uint8_t> big(40u << 20);
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<std::uint8_t>(i >> 12);
  // By reference, so that the bytes also come back as the argument.
  std::vector<Variant> args{Variant::bytes(big).setByRef()};
  Variant result;
  ASSERT_EQ(obj->Invoke(1, DISPATCH_METHOD, args, &result, nullptr), S_OK);
  ASSERT_EQ(result.type(), VarType::Bytes);
  EXPECT_TRUE(result.asBytes() == big);
  ASSERT_EQ(args[0].type(), VarType::Bytes);
  EXPECT_TRUE(args[0].byRef());
  EXPECT_TRUE(args[0].asBytes() == big);
}

TEST_F(Remote, MessagesOverTheServersLimitAreRefused) {
  RemoteServerOptions options;
  options.maxMessageBytes = 1 << 20;
  serve(options);
  auto obj = create();
  std::vector<Variant> args{Variant::bytes(std::vector<std::uint8_t>(2 << 20))};
  Variant result;
  EXPECT_EQ(obj->Invoke(1, DISPATCH_METHOD, args, &result, nullptr), E_OUTOFMEMORY);
}

TEST_F(Remote, ObjectsPerClientAreLimited) {
  RemoteServerOptions options;
  options.maxObjectsPerClient = 2;
  serve(options);
  auto a = create();
  auto b = create();
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstanceEx(kEchoClass, CLSCTX_REMOTE_SERVER, host(), IID_IUnknown, out),
            E_OUTOFMEMORY);
  a.reset();
  EXPECT_TRUE(create());
}

TEST_F(Remote, SilentClientsObjectsAreReleasedAfterTheLease) {
  RemoteServerOptions options;
  options.lease = 600ms;
  serve(options);
  // A well-behaved client renews its lease in the background.
  auto kept = create();
  ASSERT_TRUE(kept);

  // A client that activates and then disappears without releasing.
  {
    auto channel = grpc::CreateChannel(host(), grpc::InsecureChannelCredentials());
    auto stub = wire::ObjectService::NewStub(channel);
    grpc::ClientContext ctx;
    wire::ActivateRequest req;
    req.set_client_id("vanished-client");
    req.set_clsid(std::string(reinterpret_cast<const char*>(kEchoClass.bytes.data()), 16));
    req.set_iid(std::string(reinterpret_cast<const char*>(IID_IUnknown.bytes.data()), 16));
    wire::ActivateReply rep;
    ASSERT_TRUE(stub->Activate(&ctx, req, &rep).ok());
    ASSERT_EQ(rep.hr(), S_OK);
    EXPECT_EQ(rep.lease_ms(), 600u);
  }
  EXPECT_EQ(server_->objectCount(), 2u);
  EXPECT_EQ(live.count, baseline_ + 2);
  ASSERT_TRUE(live.waitFor(baseline_ + 1, 10s)) << "the silent client's object was not released";
  EXPECT_EQ(server_->objectCount(), 1u);

  // The vanished client's object is gone for good.
  auto channel = grpc::CreateChannel(host(), grpc::InsecureChannelCredentials());
  auto stub = wire::ObjectService::NewStub(channel);
  grpc::ClientContext ctx;
  wire::InvokeRequest req;
  req.set_client_id("vanished-client");
  req.set_object_id(2);
  wire::InvokeReply rep;
  EXPECT_EQ(stub->Invoke(&ctx, req, &rep).error_code(), grpc::StatusCode::NOT_FOUND);

  // The renewing client's object outlived the lease of the other.
  std::vector<Variant> args{Variant::i4(2).setByRef()};
  EXPECT_EQ(kept->Invoke(2, DISPATCH_METHOD, args, nullptr, nullptr), S_OK);
  EXPECT_EQ(args[0].asI4(), 4);
}

TEST_F(Remote, ShutdownReleasesEverythingAndCallsFailAsUnavailable) {
  serve();
  auto obj = create();
  EXPECT_EQ(live.count, baseline_ + 1);
  server_->shutdown();
  server_->shutdown();
  EXPECT_EQ(live.count, baseline_);
  std::vector<Variant> args{Variant::i4(1).setByRef()};
  EXPECT_EQ(obj->Invoke(2, DISPATCH_METHOD, args, nullptr, nullptr), RPC_E_SERVER_UNAVAILABLE);
  server_->wait();  // returns at once after shutdown
}

TEST_F(Remote, CallsFromAThreadWithoutInitialisationFail) {
  serve();
  auto obj = create();
  HRESULT hr = S_OK;
  std::thread([&] {
    std::int32_t id;
    hr = obj->GetIDsOfNames(u"Echo", id);
  }).join();
  EXPECT_EQ(hr, CO_E_NOTINITIALIZED);
}

TEST_F(Remote, TokenIsCheckedAndRequiredOffLoopback) {
  RemoteServerOptions open;
  open.listen = "0.0.0.0:0";
  EXPECT_THROW(RemoteObjectServer(open).start(), qadj::Exception);
  open.token = "t0k3n";
  RemoteObjectServer everywhere(open);
  EXPECT_NO_THROW(everywhere.start());
  everywhere.shutdown();

  RemoteServerOptions options;
  options.token = "t0k3n";
  serve(options);
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstanceEx(kEchoClass, CLSCTX_REMOTE_SERVER, host(), IID_IUnknown, out),
            E_ACCESSDENIED);
  qadj::testing::ScopedEnv token("QADJ_TOKEN", "wrong");
  EXPECT_EQ(CoCreateInstanceEx(kEchoClass, CLSCTX_REMOTE_SERVER, host(), IID_IUnknown, out),
            E_ACCESSDENIED);
  token.set("t0k3n");
  EXPECT_EQ(CoCreateInstanceEx(kEchoClass, CLSCTX_REMOTE_SERVER, host(), IID_IUnknown, out), S_OK);
}

TEST_F(Remote, BindingAnAddressInUseThrows) {
  serve();
  RemoteServerOptions options;
  options.listen = host();
  RemoteObjectServer second(options);
  EXPECT_THROW(second.start(), qadj::Exception);
}

TEST_F(Remote, EachRequestIsLoggedWhenAsked) {
  RemoteServerOptions options;
  options.logRequests = true;
  serve(options);
  ::testing::internal::CaptureStderr();
  auto obj = create();
  obj.reset();
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find(" Activate bytes="), std::string::npos) << log;
  EXPECT_NE(log.find(" Release bytes="), std::string::npos) << log;
  EXPECT_NE(log.find(" OK "), std::string::npos) << log;
}

// gRPC takes a process's server hooks only before its first server: a process that
// built a server of its own first still serves objects (in a process of its own, as
// the hooks are set once per process).
TEST(RemoteHooks, AServerBuiltEarlierInTheProcessLeavesTheObjectServerWorking) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        qadj::testing::ComScope comScope;
        int port = 0;
        wire::ObjectService::Service unimplemented;  // a service, every call unimplemented
        grpc::ServerBuilder builder;
        builder.RegisterService(&unimplemented);
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        const auto other = builder.BuildAndStart();
        RemoteServerOptions options;
        options.listen = "127.0.0.1:0";
        RemoteObjectServer server(options);
        server.registerClass(kEchoClass, "Test.Echo",
                             [] { return std::make_shared<EchoObject>(); });
        server.start();
        std::shared_ptr<IUnknown> out;
        const HRESULT hr =
            CoCreateInstanceEx(kEchoClass, CLSCTX_REMOTE_SERVER,
                               "127.0.0.1:" + std::to_string(server.port()), IID_IDispatch, out);
        std::exit(other && port > 0 && hr == S_OK ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qadj::com
