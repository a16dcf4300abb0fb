// The object runtime in one process: identifiers, values, texts, initialisation,
// class registration and creation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "qadj/com/com.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/scoped_env.h"

namespace qadj::com {
namespace {

const Guid kClass = *Guid::parse("{0B1C2D3E-4F50-6172-8394-A5B6C7D8E9F0}");
const Guid kOtherIid = *Guid::parse("{11111111-2222-3333-4444-555555555555}");

class Plain : public IUnknown {
 public:
  HRESULT QueryInterface(const Guid& iid, std::shared_ptr<IUnknown>& out) override {
    if (iid != IID_IUnknown) return E_NOINTERFACE;
    out = shared_from_this();
    return S_OK;
  }
};

TEST(Guid, ParsesBracedTextInEitherCase) {
  auto g = Guid::parse("{15f46fc4-4736-4AAF-9087-8a67c59e42f4}");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->toString(), "{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");
  EXPECT_EQ(g->bytes[0], 0x15);
  EXPECT_EQ(g->bytes[15], 0xF4);
  EXPECT_FALSE(g->isNull());
  EXPECT_TRUE(Guid{}.isNull());
  EXPECT_EQ(Guid{}.toString(), "{00000000-0000-0000-0000-000000000000}");
  EXPECT_EQ(IID_IDispatch.toString(), "{00020400-0000-0000-C000-000000000046}");
}

TEST(Guid, RejectsAnythingElse) {
  for (const char* bad :
       {"", "15F46FC4-4736-4AAF-9087-8A67C59E42F4", "{15F46FC4-4736-4AAF-9087-8A67C59E42F}",
        "{15F46FC4-4736-4AAF-9087+8A67C59E42F4}", "{15F46FC4-4736-4AAF-9087-8A67C59E42G4}",
        "{15F46FC44736-4AAF-9087-8A67C59E42F4A}", "(15F46FC4-4736-4AAF-9087-8A67C59E42F4)"})
    EXPECT_FALSE(Guid::parse(bad)) << bad;
}

// A packet is taken over from a reply and handed to the next one: the same buffer
// throughout, never a copy.
TEST(Variant, ByteArraysMoveTheirBytesInAndOutWithoutCopying) {
  std::string bytes(1 << 20, 'x');
  const char* at = bytes.data();
  Variant v = Variant::bytes(ByteArray(std::move(bytes)));
  EXPECT_EQ(reinterpret_cast<const char*>(v.asBytes().data()), at);
  const std::string out = std::move(v.asBytes()).release();
  EXPECT_EQ(out.data(), at);
  EXPECT_TRUE(v.asBytes().empty());
  EXPECT_TRUE(ByteArray({1, 2}) == std::vector<std::uint8_t>({1, 2}));
  EXPECT_FALSE(ByteArray({1, 2}) == std::vector<std::uint8_t>({1, 3}));
  EXPECT_FALSE(ByteArray({1, 2}) == std::vector<std::uint8_t>({1}));
}

TEST(Variant, HoldsEachTypeAndRefusesOtherAccess) {
  EXPECT_TRUE(Variant().isEmpty());
  EXPECT_TRUE(Variant::null().isNull());
  EXPECT_EQ(Variant::i4(-3).asI4(), -3);
  EXPECT_EQ(Variant::r8(2.5).asR8(), 2.5);
  EXPECT_EQ(Variant::date(45000.25).type(), VarType::Date);
  EXPECT_EQ(Variant::date(45000.25).asR8(), 45000.25);
  EXPECT_EQ(Variant::bstr(u"调整").asBStr(), u"调整");
  EXPECT_EQ(Variant::bytes({1, 2}).asBytes().size(), 2u);
  EXPECT_TRUE(Variant::boolean(true).asBool());
  EXPECT_THROW(Variant::i4(1).asBStr(), std::bad_variant_access);
  EXPECT_THROW(Variant().asI4(), std::bad_variant_access);
  EXPECT_THROW(Variant::bstr(u"1").asR8(), std::bad_variant_access);
}

TEST(Variant, EqualityCountsTypeAndReference) {
  EXPECT_TRUE(Variant::r8(1) == Variant::r8(1));
  EXPECT_FALSE(Variant::r8(1) == Variant::date(1));
  EXPECT_FALSE(Variant() == Variant::null());
  EXPECT_FALSE(Variant::bstr(u"a") == Variant::bstr(u"a").setByRef());
  Variant v = Variant::i4(4);
  v.setByRef();
  EXPECT_TRUE(v.byRef());
  EXPECT_FALSE(v.setByRef(false).byRef());
}

TEST(ErrorTexts, SystemTextOrOleErrorWithEightHexDigits) {
  EXPECT_EQ(SystemErrorText(RPC_E_SERVER_UNAVAILABLE), "The RPC server is unavailable");
  EXPECT_EQ(SystemErrorText(REGDB_E_CLASSNOTREG), "Class not registered");
  EXPECT_EQ(SystemErrorText(E_ACCESSDENIED), "Access is denied");
  EXPECT_EQ(SystemErrorText(CO_E_NOTINITIALIZED), "CoInitialize has not been called");
  EXPECT_EQ(SystemErrorText(hresult(0x8004abcd)), "");
  EXPECT_EQ(OleErrorText(hresult(0x8004abcd)), "OLE error 8004abcd");
  EXPECT_EQ(OleErrorText(hresult(0x00000017)), "OLE error 00000017");
  EXPECT_EQ(OleErrorText(DISP_E_UNKNOWNNAME), "Unknown name");
}

TEST(ErrorTexts, DescriptionLosesTrailingBlanksControlsAndPeriods) {
  EXPECT_EQ(ErrorDescriptionText(u"Table locked.  \r\n"), "Table locked");
  EXPECT_EQ(ErrorDescriptionText(u"a.b. .\t.."), "a.b");
  EXPECT_EQ(ErrorDescriptionText(u" lead stays"), " lead stays");
  EXPECT_EQ(ErrorDescriptionText(u". .\n"), "");
  EXPECT_EQ(ErrorDescriptionText(u"Refused.\x7F\x7F"), "Refused");  // DEL is a control character
  EXPECT_EQ(ErrorDescriptionText(u"库存不足。."), text::utf8ToGbk("库存不足。"));
  // Characters outside GBK do not swallow the message.
  EXPECT_EQ(ErrorDescriptionText(u"x\U0001F600y."), "x?y");
}

TEST(ErrorTexts, OleCheckUsesTheThreadsDescription) {
  EXPECT_NO_THROW(OleCheck(S_OK));
  SetErrorInfo({E_FAIL, u"src", u"ORA-00001: unique constraint violated.\n"});
  try {
    OleCheck(E_FAIL);
    FAIL();
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "ORA-00001: unique constraint violated");
    EXPECT_EQ(e.code(), E_FAIL);
  }
  // The description was consumed: the next failure has none.
  try {
    OleCheck(hresult(0x80041234));
    FAIL();
  } catch (const EOleException&) {
    FAIL() << "stale description reused";
  } catch (const EOleError& e) {
    EXPECT_STREQ(e.what(), "OLE error 80041234");
  }
  // A success clears a description left behind.
  SetErrorInfo({E_FAIL, u"", u"old"});
  OleCheck(S_OK);
  ExcepInfo info;
  EXPECT_FALSE(GetErrorInfo(info));
}

TEST(ErrorInfo, BelongsToItsThread) {
  SetErrorInfo({E_FAIL, u"", u"here"});
  bool seenElsewhere = true;
  std::thread([&] {
    ExcepInfo other;
    seenElsewhere = GetErrorInfo(other);
  }).join();
  EXPECT_FALSE(seenElsewhere);
  ExcepInfo info;
  ASSERT_TRUE(GetErrorInfo(info));
  EXPECT_EQ(info.description, u"here");
  EXPECT_FALSE(GetErrorInfo(info));
}

TEST(Initialisation, IsPerThreadAndCounted) {
  std::thread([] {
    EXPECT_FALSE(IsInitialized());
    std::shared_ptr<IUnknown> out;
    EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER, IID_IUnknown, out),
              CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoCreateInstanceEx(kClass, CLSCTX_REMOTE_SERVER, "h", IID_IUnknown, out),
              CO_E_NOTINITIALIZED);
    Guid g;
    EXPECT_EQ(CLSIDFromProgID("x", g), CO_E_NOTINITIALIZED);
    EXPECT_EQ(CoInitialize(), S_OK);
    EXPECT_EQ(CoInitialize(), S_FALSE);
    CoUninitialize();
    EXPECT_TRUE(IsInitialized());
    CoUninitialize();
    EXPECT_FALSE(IsInitialized());
    CoUninitialize();  // unbalanced: harmless
    EXPECT_FALSE(IsInitialized());
  }).join();
}

class Runtime : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void TearDown() override { CoRevokeClass(kClass); }
};

TEST_F(Runtime, RegisteredClassIsCreatedInProcessAndFoundByName) {
  int made = 0;
  ASSERT_EQ(CoRegisterClass(kClass, "Test.Plain",
                            [&] {
                              ++made;
                              return std::make_shared<Plain>();
                            }),
            S_OK);
  Guid found;
  EXPECT_EQ(CLSIDFromProgID("TEST.plain", found), S_OK);
  EXPECT_EQ(found, kClass);
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown, out),
            S_OK);
  EXPECT_TRUE(std::dynamic_pointer_cast<Plain>(out));
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER, kOtherIid, out), E_NOINTERFACE);
  EXPECT_FALSE(out);
  EXPECT_EQ(made, 2);
  EXPECT_EQ(CoRegisterClass(Guid{}, "x", [] { return std::make_shared<Plain>(); }), E_INVALIDARG);
}

TEST_F(Runtime, RevokedOrNameOnlyClassIsNotInProcess) {
  Guid found;
  EXPECT_EQ(CLSIDFromProgID("Test.Plain", found), CO_E_CLASSSTRING);
  CoRegisterClass(kClass, "Test.Plain", nullptr);
  EXPECT_EQ(CLSIDFromProgID("Test.Plain", found), S_OK);
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER, IID_IUnknown, out), REGDB_E_CLASSNOTREG);
  CoRegisterClass(kClass, "Test.Plain", [] { return std::make_shared<Plain>(); });
  CoRevokeClass(kClass);
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER, IID_IUnknown, out), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CLSIDFromProgID("Test.Plain", found), CO_E_CLASSSTRING);
}

TEST_F(Runtime, FailingFactoryIsAServerExecutionFailure) {
  CoRegisterClass(kClass, "", []() -> std::shared_ptr<IUnknown> { throw std::runtime_error("x"); });
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER, IID_IUnknown, out),
            CO_E_SERVER_EXEC_FAILURE);
  CoRegisterClass(kClass, "", [] { return std::shared_ptr<IUnknown>(); });
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER, IID_IUnknown, out),
            CO_E_SERVER_EXEC_FAILURE);
}

TEST_F(Runtime, LocalServerThatIsNotRunningIsUnavailable) {
  qadj::testing::ScopedEnv local("QADJ_LOCAL_SERVER", "127.0.0.1:1");
  EXPECT_EQ(LocalServerAddress(), "127.0.0.1:1");
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown, out),
            RPC_E_SERVER_UNAVAILABLE);
  // In-process only never leaves the process.
  EXPECT_EQ(CoCreateInstance(kClass, CLSCTX_INPROC_SERVER, IID_IUnknown, out), REGDB_E_CLASSNOTREG);
  local.set(std::nullopt);
  EXPECT_EQ(LocalServerAddress(), "127.0.0.1:7311");
}

TEST_F(Runtime, RemoteContextWithAnUnreachableHost) {
  CoRegisterClass(kClass, "", [] { return std::make_shared<Plain>(); });
  std::shared_ptr<IUnknown> out;
  EXPECT_EQ(CoCreateInstanceEx(kClass, CLSCTX_REMOTE_SERVER, "127.0.0.1:1", IID_IUnknown, out),
            RPC_E_SERVER_UNAVAILABLE);
  for (const char* bad : {"bad host", "127.0.0.1:1,bad host"})
    EXPECT_EQ(CoCreateInstanceEx(kClass, CLSCTX_REMOTE_SERVER, bad, IID_IUnknown, out),
              RPC_E_SERVER_UNAVAILABLE)
        << bad;
  // With in-process allowed, the registered class wins over the host.
  EXPECT_EQ(CoCreateInstanceEx(kClass, CLSCTX_SERVER, "127.0.0.1:1", IID_IUnknown, out), S_OK);
}

TEST(HostText, NameAndOptionalPort) {
  EXPECT_EQ(HostTextToTarget("appsrv"), "appsrv:7311");
  EXPECT_EQ(HostTextToTarget("appsrv.example.com:8001"), "appsrv.example.com:8001");
  EXPECT_EQ(HostTextToTarget("10.0.0.5"), "10.0.0.5:7311");
  EXPECT_EQ(HostTextToTarget("[::1]"), "[::1]:7311");
  EXPECT_EQ(HostTextToTarget("[::1]:9000"), "[::1]:9000");
  for (const char* bad : {"", ":80", "srv:", "srv:0", "srv:65536", "srv:8a", "a b", "[::1", "[]",
                          "[::1]x", "srv:80:90", "srv/x"})
    EXPECT_EQ(HostTextToTarget(bad), "") << bad;
  // Several servers: each name as above, blanks around a name ignored, a repeat dropped.
  using Targets = std::vector<std::string>;
  EXPECT_EQ(HostTextTargets("appsrv"), Targets{"appsrv:7311"});
  EXPECT_EQ(HostTextTargets("a:8001, b ,[::1],a:8001"),
            (Targets{"a:8001", "b:7311", "[::1]:7311"}));
  for (const char* bad : {"", ",", "a,", ",a", "a,,b", "a, b c", "a,srv:0"})
    EXPECT_EQ(HostTextTargets(bad), Targets{}) << bad;
}

TEST(ComputerName, FitsSixteenBytesInUpperCase) {
  char buf[16];
  std::uint32_t size = sizeof buf;
  ASSERT_TRUE(GetComputerNameA(buf, &size));
  EXPECT_EQ(std::strlen(buf), size);
  EXPECT_LE(size, 15u);
  for (std::uint32_t i = 0; i < size; ++i) EXPECT_FALSE(buf[i] >= 'a' && buf[i] <= 'z') << buf;
  char tiny[1];
  std::uint32_t small = 1;
  if (size > 0) {
    EXPECT_FALSE(GetComputerNameA(tiny, &small));
    EXPECT_EQ(small, size + 1);
  }
}

}  // namespace
}  // namespace qadj::com
