// A small application-server stand-in for the connection tests, served in this process
// or over gRPC on a free loopback port.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "qadj/com/com.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/app_server_stub.h"
#include "qadj/testing/server_under_test.h"

namespace qadj::test {

// Answers IDispatch and IAppServer.
extern const com::Guid CLSID_TestServer;
// Answers IDispatch only; its record-set operations are reached by dispatch id.
extern const com::Guid CLSID_TestDispatchOnly;
// Answers IUnknown only.
extern const com::Guid CLSID_TestNoDispatch;
inline constexpr const char* kTestServerProgId = "Qadj.TestServer";

// Methods of the test object, looked up by name without regard to case.
enum TestDispId : std::int32_t {
  // m_qadj(code text by reference, date): appends ":" + whole days + "调整" to code.
  DISPID_m_qadj = 1,
  // Raise(): fails with DISP_E_EXCEPTION and kRaiseDescription.
  DISPID_Raise = 2,
  // Where(): returns where the object was made ("inproc" or "daemon").
  DISPID_Where = 3,
  // Echo(value): returns its argument.
  DISPID_Echo = 4,
};
// A description with the trailing junk a server may leave.
inline constexpr const char16_t* kRaiseDescription = u"库存不足 (ORA-20001).. \r\n\t";
// Record-set operations fail for this command text, with kFailDescription.
inline constexpr const char16_t* kFailCommand = u"fail";
inline constexpr const char16_t* kFailDescription = u"Table or view does not exist. \n";

class TestServerObject : public com::IDispatch, public testing::AppServerStub {
 public:
  TestServerObject(std::u16string where, bool answersAppServer);
  ~TestServerObject() override;

  com::HRESULT QueryInterface(const com::Guid& iid, std::shared_ptr<com::IUnknown>& out) override;
  com::HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) override;
  com::HRESULT Invoke(std::int32_t dispid, std::uint16_t flags, std::vector<com::Variant>& args,
                      com::Variant* result, com::ExcepInfo* excep) override;

  // Result: the command text's UTF-16 bytes; recsOut = 2; ownerData = 7.
  com::HRESULT FetchRecords(const std::u16string& provider, std::int32_t count,
                            std::int32_t& recsOut, std::int32_t options,
                            const std::u16string& commandText, com::Variant& params,
                            com::Variant& ownerData, com::Variant& result) override;
  com::HRESULT GetProviderNames(com::Variant& result) override;
  // ownerData = "done".
  com::HRESULT ExecuteCommand(const std::u16string& provider, const std::u16string& commandText,
                              com::Variant& params, com::Variant& ownerData) override;

  // Objects alive in this process (in-process and served ones together).
  static int liveCount();
  // Waits until liveCount() == n or the timeout passes; returns whether it got there.
  static bool waitForLiveCount(int n, std::chrono::milliseconds timeout);

 private:
  com::HRESULT fail(const char16_t* description);

  std::u16string where_;
  bool answersAppServer_;
};

// An object that answers IUnknown only.
class TestNoDispatchObject : public com::IUnknown {
 public:
  com::HRESULT QueryInterface(const com::Guid& iid, std::shared_ptr<com::IUnknown>& out) override;
};

// Registers the three test classes with server (objects say "inproc" when made in this
// process, "daemon" when served). Not for Transport::Daemon.
void serveTestClasses(testing::ServerUnderTest& server);
// Registers the three test classes in this process, outside any ServerUnderTest.
void RegisterTestClassesInProcess();
void RevokeTestClassesInProcess();

// Serves the three test classes over gRPC on 127.0.0.1 and a free port, started.
class TestServerFixture : public testing::ServerUnderTest {
 public:
  explicit TestServerFixture(std::chrono::milliseconds lease = std::chrono::seconds(30),
                             std::string token = {});
};

}  // namespace qadj::test
