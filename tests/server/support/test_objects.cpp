#include "support/test_objects.h"

#include <condition_variable>
#include <mutex>

#include "qadj/platform/text.h"

namespace qadj::test {

const com::Guid CLSID_TestServer = *com::Guid::parse("{6A1F0C52-93B4-4E0B-8C5E-1D2F3A4B5C61}");
const com::Guid CLSID_TestDispatchOnly =
    *com::Guid::parse("{6A1F0C52-93B4-4E0B-8C5E-1D2F3A4B5C62}");
const com::Guid CLSID_TestNoDispatch = *com::Guid::parse("{6A1F0C52-93B4-4E0B-8C5E-1D2F3A4B5C63}");

namespace {

struct LiveCounter {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
};

LiveCounter& live() {
  static LiveCounter counter;
  return counter;
}

std::u16string lowered(std::u16string s) {
  for (auto& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

com::ClassFactory factoryFor(const com::Guid& clsid, std::u16string where) {
  if (clsid == CLSID_TestNoDispatch) return [] { return std::make_shared<TestNoDispatchObject>(); };
  const bool answersAppServer = clsid == CLSID_TestServer;
  return [where, answersAppServer] {
    return std::make_shared<TestServerObject>(where, answersAppServer);
  };
}

}  // namespace

TestServerObject::TestServerObject(std::u16string where, bool answersAppServer)
    : where_(std::move(where)), answersAppServer_(answersAppServer) {
  std::lock_guard lock(live().mutex);
  ++live().count;
  live().changed.notify_all();
}

TestServerObject::~TestServerObject() {
  std::lock_guard lock(live().mutex);
  --live().count;
  live().changed.notify_all();
}

int TestServerObject::liveCount() {
  std::lock_guard lock(live().mutex);
  return live().count;
}

bool TestServerObject::waitForLiveCount(int n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(live().mutex);
  return live().changed.wait_for(lock, timeout, [n] { return live().count == n; });
}

com::HRESULT TestServerObject::QueryInterface(const com::Guid& iid,
                                              std::shared_ptr<com::IUnknown>& out) {
  out.reset();
  if (iid == com::IID_IUnknown || iid == com::IID_IDispatch ||
      (iid == IID_IAppServer && answersAppServer_)) {
    out = shared_from_this();
    return com::S_OK;
  }
  return com::E_NOINTERFACE;
}

com::HRESULT TestServerObject::GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) {
  const std::u16string n = lowered(name);
  if (n == u"m_qadj")
    dispid = DISPID_m_qadj;
  else if (n == u"raise")
    dispid = DISPID_Raise;
  else if (n == u"where")
    dispid = DISPID_Where;
  else if (n == u"echo")
    dispid = DISPID_Echo;
  else
    return com::DISP_E_UNKNOWNNAME;
  return com::S_OK;
}

com::HRESULT TestServerObject::Invoke(std::int32_t dispid, std::uint16_t flags,
                                      std::vector<com::Variant>& args, com::Variant* result,
                                      com::ExcepInfo* excep) {
  if (!(flags & com::DISPATCH_METHOD)) return com::DISP_E_MEMBERNOTFOUND;
  if (dispid >= DISPID_ApplyUpdates && dispid <= DISPID_ExecuteCommand)
    return InvokeAppServer(*this, dispid, args, result, excep);
  switch (dispid) {
    case DISPID_m_qadj: {
      if (args.size() != 2) return com::DISP_E_BADPARAMCOUNT;
      com::Variant& code = args[1];
      const com::Variant& date = args[0];
      if (code.type() != com::VarType::BStr || !code.byRef() || date.type() != com::VarType::Date)
        return com::DISP_E_TYPEMISMATCH;
      const auto days = static_cast<long long>(date.asR8());
      std::u16string updated = code.asBStr() + u":";
      for (char c : std::to_string(days)) updated += static_cast<char16_t>(c);
      updated += u"调整";
      code = com::Variant::bstr(std::move(updated)).setByRef();
      return com::S_OK;
    }
    case DISPID_Raise:
      if (excep) *excep = com::ExcepInfo{com::E_FAIL, u"TestServer", kRaiseDescription};
      return com::DISP_E_EXCEPTION;
    case DISPID_Where:
      if (result) *result = com::Variant::bstr(where_);
      return com::S_OK;
    case DISPID_Echo:
      if (args.size() != 1) return com::DISP_E_BADPARAMCOUNT;
      if (result) *result = com::Variant(args[0]).setByRef(false);
      return com::S_OK;
    default:
      return com::DISP_E_MEMBERNOTFOUND;
  }
}

com::HRESULT TestServerObject::fail(const char16_t* description) {
  com::SetErrorInfo(com::ExcepInfo{com::E_FAIL, u"TestServer", description});
  return com::E_FAIL;
}

com::HRESULT TestServerObject::FetchRecords(const std::u16string&, std::int32_t,
                                            std::int32_t& recsOut, std::int32_t,
                                            const std::u16string& commandText, com::Variant&,
                                            com::Variant& ownerData, com::Variant& result) {
  if (commandText == kFailCommand) return fail(kFailDescription);
  std::vector<std::uint8_t> packet;
  for (char16_t c : commandText) {
    packet.push_back(static_cast<std::uint8_t>(c & 0xFF));
    packet.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  result = com::Variant::bytes(std::move(packet));
  recsOut = 2;
  ownerData = com::Variant::i4(7);
  return com::S_OK;
}

com::HRESULT TestServerObject::GetProviderNames(com::Variant& result) {
  result = com::Variant::bstr(u"PUBLIC_DSP");
  return com::S_OK;
}

com::HRESULT TestServerObject::ExecuteCommand(const std::u16string&,
                                              const std::u16string& commandText, com::Variant&,
                                              com::Variant& ownerData) {
  if (commandText == kFailCommand) return fail(kFailDescription);
  ownerData = com::Variant::bstr(u"done");
  return com::S_OK;
}

com::HRESULT TestNoDispatchObject::QueryInterface(const com::Guid& iid,
                                                  std::shared_ptr<com::IUnknown>& out) {
  out.reset();
  if (iid != com::IID_IUnknown) return com::E_NOINTERFACE;
  out = shared_from_this();
  return com::S_OK;
}

namespace {

struct TestClass {
  const com::Guid* clsid;
  const char* progId;
};
constexpr TestClass kTestClasses[] = {{&CLSID_TestServer, kTestServerProgId},
                                      {&CLSID_TestDispatchOnly, "Qadj.TestDispatchOnly"},
                                      {&CLSID_TestNoDispatch, "Qadj.TestNoDispatch"}};

}  // namespace

void serveTestClasses(testing::ServerUnderTest& server) {
  const char16_t* where =
      server.transport() == testing::Transport::InProcess ? u"inproc" : u"daemon";
  for (const TestClass& c : kTestClasses)
    server.registerClass(*c.clsid, c.progId, factoryFor(*c.clsid, where));
}

void RegisterTestClassesInProcess() {
  for (const TestClass& c : kTestClasses)
    com::CoRegisterClass(*c.clsid, c.progId, factoryFor(*c.clsid, u"inproc"));
}

void RevokeTestClassesInProcess() {
  for (const TestClass& c : kTestClasses) com::CoRevokeClass(*c.clsid);
}

namespace {

com::RemoteServerOptions leaseAndToken(std::chrono::milliseconds lease, std::string token) {
  com::RemoteServerOptions options;
  options.lease = lease;
  options.token = std::move(token);
  return options;
}

}  // namespace

TestServerFixture::TestServerFixture(std::chrono::milliseconds lease, std::string token)
    : ServerUnderTest(testing::Transport::Grpc, leaseAndToken(lease, std::move(token))) {
  serveTestClasses(*this);
  start();
}

}  // namespace qadj::test
