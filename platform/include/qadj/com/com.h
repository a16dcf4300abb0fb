// The object runtime: class identifiers, automation values, the IUnknown/IDispatch
// object model, per-thread initialisation, class registration and object creation
// in-process, on this computer's daemon or on a named host (over gRPC).
//
// Objects are held through std::shared_ptr: dropping the last reference releases the
// object (for a remote object, the proxy then releases it on its server).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qadj/com/byte_array.h"
#include "qadj/platform/export.h"

namespace qadj::com {

using HRESULT = std::int32_t;
constexpr HRESULT hresult(std::uint32_t v) {
  return static_cast<HRESULT>(v);
}
inline bool failed(HRESULT hr) {
  return hr < 0;
}
inline bool succeeded(HRESULT hr) {
  return hr >= 0;
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = hresult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hresult(0x80004002);
inline constexpr HRESULT E_POINTER = hresult(0x80004003);
inline constexpr HRESULT E_FAIL = hresult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hresult(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = hresult(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = hresult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hresult(0x80070057);
inline constexpr HRESULT CO_E_NOTINITIALIZED = hresult(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = hresult(0x800401F3);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hresult(0x80040154);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = hresult(0x80080005);
inline constexpr HRESULT RPC_E_DISCONNECTED = hresult(0x80010108);
inline constexpr HRESULT RPC_E_SERVER_UNAVAILABLE = hresult(0x800706BA);  // host unreachable
inline constexpr HRESULT RPC_E_CALL_TIMEOUT = hresult(0x800705B4);
inline constexpr HRESULT RPC_E_SERVERCALL_RETRYLATER = hresult(0x8001010A);  // busy: try later
inline constexpr HRESULT XACT_E_INDOUBT = hresult(0x8004D016);  // the transaction is in doubt
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresult(0x80020003);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hresult(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hresult(0x80020006);
inline constexpr HRESULT DISP_E_EXCEPTION = hresult(0x80020009);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hresult(0x8002000E);

inline constexpr std::uint32_t CLSCTX_INPROC_SERVER = 0x1;
inline constexpr std::uint32_t CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr std::uint32_t CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr std::uint32_t CLSCTX_SERVER =
    CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;  // 0x15

inline constexpr std::uint16_t DISPATCH_METHOD = 0x1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 0x2;

// A 128-bit class or interface identifier.
struct QADJ_PLATFORM_API Guid {
  std::array<std::uint8_t, 16> bytes{};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces required, either case).
  // Returns nullopt for anything else.
  static std::optional<Guid> parse(std::string_view text);
  // Upper-case text in braces.
  std::string toString() const;
  bool isNull() const;
  friend bool operator==(const Guid&, const Guid&) = default;
  friend auto operator<=>(const Guid&, const Guid&) = default;
};

QADJ_PLATFORM_API extern const Guid IID_IUnknown;   // {00000000-0000-0000-C000-000000000046}
QADJ_PLATFORM_API extern const Guid IID_IDispatch;  // {00020400-0000-0000-C000-000000000046}

class IDispatch;

// Automation value types that this system passes (VARTYPE numbering).
enum class VarType : std::uint16_t {
  Empty = 0,
  Null = 1,
  I4 = 3,
  R8 = 5,
  Date = 7,  // days since 1899-12-30, fraction = time of day
  BStr = 8,  // UTF-16 text
  Dispatch = 9,
  Bool = 11,
  Bytes = 0x2011,  // VT_ARRAY | VT_UI1: a byte array (record-set packets)
};

// An automation value. A value marked by-reference is an in/out argument: the callee
// may replace it, and the caller sees the new value after the call (also across the
// wire).
class QADJ_PLATFORM_API Variant {
 public:
  Variant() = default;  // Empty
  static Variant null();
  static Variant i4(std::int32_t v);
  static Variant r8(double v);
  static Variant date(double days);
  static Variant boolean(bool v);
  static Variant bstr(std::u16string v);
  static Variant bytes(ByteArray v);
  static Variant dispatch(std::shared_ptr<IDispatch> v);

  VarType type() const { return type_; }
  bool isEmpty() const { return type_ == VarType::Empty; }
  bool isNull() const { return type_ == VarType::Null; }
  bool byRef() const { return byRef_; }
  Variant& setByRef(bool v = true) {
    byRef_ = v;
    return *this;
  }

  // Accessors; each throws std::bad_variant_access when the type does not match.
  std::int32_t asI4() const;
  double asR8() const;  // R8 and Date
  bool asBool() const;
  const std::u16string& asBStr() const;
  const ByteArray& asBytes() const;
  ByteArray& asBytes();
  const std::shared_ptr<IDispatch>& asDispatch() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  using Storage = std::variant<std::monostate, std::int32_t, double, bool, std::u16string,
                               ByteArray, std::shared_ptr<IDispatch>>;
  Variant(VarType type, Storage value) : type_(type), value_(std::move(value)) {}
  VarType type_ = VarType::Empty;
  bool byRef_ = false;
  Storage value_;
};

// Error description of a failed call (EXCEPINFO).
struct ExcepInfo {
  HRESULT scode = 0;
  std::u16string source;
  std::u16string description;
};

// Every object answers IUnknown. Interfaces derive virtually so that one object can
// answer several of them.
class QADJ_PLATFORM_API IUnknown : public std::enable_shared_from_this<IUnknown> {
 public:
  virtual ~IUnknown() = default;
  // Returns S_OK and sets out to the interface iid of this object, or E_NOINTERFACE.
  // For a remote object this is one round trip.
  virtual HRESULT QueryInterface(const Guid& iid, std::shared_ptr<IUnknown>& out) = 0;
};

// Late-bound calls (automation).
class QADJ_PLATFORM_API IDispatch : public virtual IUnknown {
 public:
  // Returns S_OK and the dispatch id of name, or DISP_E_UNKNOWNNAME.
  virtual HRESULT GetIDsOfNames(const std::u16string& name, std::int32_t& dispid) = 0;
  // Calls member dispid. args are in reverse order (last argument first), as
  // IDispatch expects; by-reference arguments are updated in place on return.
  // result may be null when no result is wanted. On DISP_E_EXCEPTION excep (when not
  // null) holds the description.
  virtual HRESULT Invoke(std::int32_t dispid, std::uint16_t flags, std::vector<Variant>& args,
                         Variant* result, ExcepInfo* excep) = 0;
};

// Casts an interface pointer obtained by QueryInterface to its C++ type.
template <class T>
std::shared_ptr<T> interface_cast(const std::shared_ptr<IUnknown>& p) {
  return std::dynamic_pointer_cast<T>(p);
}

// --- Thread initialisation -------------------------------------------------------
// The host initialises the runtime on each thread that uses objects. Every runtime
// call from a thread that has not done so fails with CO_E_NOTINITIALIZED.
QADJ_PLATFORM_API HRESULT CoInitialize();
QADJ_PLATFORM_API void CoUninitialize();
QADJ_PLATFORM_API bool IsInitialized();

// --- Error information (per thread) ---------------------------------------------
// A failing interface method may leave a description here for its caller.
QADJ_PLATFORM_API void SetErrorInfo(const ExcepInfo& info);
// Moves the thread's error information into out; returns false when there is none.
QADJ_PLATFORM_API bool GetErrorInfo(ExcepInfo& out);

// --- The caller of a remote call ----------------------------------------------------
// While this thread carries out a call for a remote client: the client's address as
// the transport names it (e.g. "ipv4:127.0.0.1:53012"). Empty for an in-process call.
QADJ_PLATFORM_API const std::string& CallerPeer();

// True while this thread carries out a remote call that nobody waits for any more:
// its client went away or gave up waiting, or the server is stopping. Work that may run
// long (a database statement) asks it now and then and stops early. Always false for an
// in-process call.
QADJ_PLATFORM_API bool CallAbandoned();

// Charges bytes of memory that this thread's remote call holds until its reply is sent
// (a result being built) to the server's bounds of reply memory: true when they fit,
// false (nothing charged) when the call must give up. Always true for an in-process
// call.
QADJ_PLATFORM_API bool ChargeCallMemory(std::size_t bytes);

// What a served object tells about the call it carries out, for the server's log line
// of the request. Filled in by the object's code through CurrentRequestFacts().
struct RequestFacts {
  std::string method;      // the member called ("FetchRecords", "m_qadj"); empty: unknown
  std::string provider;    // the provider named by the call, if any
  std::string statement;   // the statement run: its text or its shape (see wantsText)
  std::int64_t rows = -1;  // rows returned or changed; -1: nothing to tell
  // A call that changes data names where it came from and what it carried: the
  // caller's address, the save id and the operator of its owner data (empty: none).
  std::string peer, saveId, operatorCode;
  // Set by the server: the log wants the statement's text itself, not only its shape
  // (the text with every literal value replaced by ?).
  bool wantsText = false;
};

// The facts of the remote call this thread carries out for a server that logs its
// requests; null otherwise (an in-process call, or logging off), and then there is
// nothing to note.
QADJ_PLATFORM_API RequestFacts* CurrentRequestFacts();

// Sets CallerPeer(), CallAbandoned(), CurrentRequestFacts() and ChargeCallMemory() for
// the life of the scope (the remote object server does this around each call it
// carries out). abandoned answers CallAbandoned() on this thread, charge
// ChargeCallMemory(); empty means never abandoned, always room. facts, when given, must
// outlive the scope. The scope must end on the thread that made it.
class QADJ_PLATFORM_API CallerScope {
 public:
  explicit CallerScope(std::string peer, std::function<bool()> abandoned = {},
                       RequestFacts* facts = nullptr, std::function<bool(std::size_t)> charge = {});
  ~CallerScope();
  CallerScope(const CallerScope&) = delete;
  CallerScope& operator=(const CallerScope&) = delete;

 private:
  std::string previous_;
  std::function<bool()> abandoned_;
  const std::function<bool()>* previousAbandoned_;
  RequestFacts* previousFacts_;
  std::function<bool(std::size_t)> charge_;
  const std::function<bool(std::size_t)>* previousCharge_;
};

// --- Interface marshaling ---------------------------------------------------------
// A custom interface (one that is not IDispatch) travels over remote calls as Invoke
// with dispatch ids on that interface. The server side turns such an Invoke into a
// call of the interface (the stub); the client side wraps a channel whose Invoke
// carries calls to the remote interface (the proxy). Without a stub the server hands
// the call to the object's IDispatch; without a proxy a remote QueryInterface for the
// interface answers E_NOINTERFACE.
using InterfaceStub =
    std::function<HRESULT(const std::shared_ptr<IUnknown>& itf, std::int32_t dispid,
                          std::vector<Variant>& args, Variant* result, ExcepInfo* excep)>;
using InterfaceProxyFactory =
    std::function<std::shared_ptr<IUnknown>(std::shared_ptr<IDispatch> channel)>;
// Registering again replaces the earlier entry.
QADJ_PLATFORM_API void CoRegisterInterfaceStub(const Guid& iid, InterfaceStub stub);
QADJ_PLATFORM_API void CoRegisterInterfaceProxy(const Guid& iid, InterfaceProxyFactory factory);
// The registered entries, or empty functions.
QADJ_PLATFORM_API InterfaceStub CoGetInterfaceStub(const Guid& iid);
QADJ_PLATFORM_API InterfaceProxyFactory CoGetInterfaceProxy(const Guid& iid);

// --- Classes ---------------------------------------------------------------------
using ClassFactory = std::function<std::shared_ptr<IUnknown>()>;

// Registers an in-process class (a host or a test does this). progId may be empty.
// Registering the same class again replaces its factory. A null factory registers the
// program identifier only (for CLSIDFromProgID); the class is then not in-process.
QADJ_PLATFORM_API HRESULT CoRegisterClass(const Guid& clsid, const std::string& progId,
                                          ClassFactory factory);
QADJ_PLATFORM_API void CoRevokeClass(const Guid& clsid);

// Looks up a program identifier (without regard to letter case). Known program
// identifiers are those registered with CoRegisterClass. Returns S_OK,
// CO_E_CLASSSTRING when unknown, CO_E_NOTINITIALIZED on a thread without
// CoInitialize.
QADJ_PLATFORM_API HRESULT CLSIDFromProgID(const std::string& progId, Guid& out);

// Creates an object on this computer: in-process when CLSCTX_INPROC_SERVER is asked
// and the class is registered in-process, else (with CLSCTX_LOCAL_SERVER) on this
// computer's daemon (LocalServerAddress()). Returns S_OK and the interface iid, or a
// failure code (REGDB_E_CLASSNOTREG when nothing asked for can create it).
QADJ_PLATFORM_API HRESULT CoCreateInstance(const Guid& clsid, std::uint32_t clsctx, const Guid& iid,
                                           std::shared_ptr<IUnknown>& out);

// Creates an object with a server name "host[:port]" (default port kDefaultPort), or
// several of them separated by commas (HostTextTargets): then on one of those servers
// that answers. clsctx decides what is tried: in-process and local first when asked,
// the named host with CLSCTX_REMOTE_SERVER.
QADJ_PLATFORM_API HRESULT CoCreateInstanceEx(const Guid& clsid, std::uint32_t clsctx,
                                             const std::string& serverName, const Guid& iid,
                                             std::shared_ptr<IUnknown>& out);

inline constexpr int kDefaultPort = 7311;

// The daemon that "local server" creation reaches: the environment variable
// QADJ_LOCAL_SERVER ("host[:port]") when set and not empty, else "127.0.0.1:7311".
QADJ_PLATFORM_API std::string LocalServerAddress();

// The gRPC target for a host text "name[:port]" ("[v6addr][:port]" also accepted);
// the port defaults to kDefaultPort. Returns empty for an empty or malformed text.
QADJ_PLATFORM_API std::string HostTextToTarget(std::string_view hostText);

// The servers a host text names, each as HostTextToTarget gives it: one for a single
// name, several for names separated by commas ("a:7311,b:7311"; blanks around a name
// are ignored, a name given twice counts once). Empty when the text is empty or any
// of its names is malformed (an empty one included).
QADJ_PLATFORM_API std::vector<std::string> HostTextTargets(std::string_view hostText);

// This computer's name as GetComputerNameA gives it: copies at most size-1 bytes and
// a terminator into buf; returns false (and sets size to the needed size) when the
// buffer is too small.
QADJ_PLATFORM_API bool GetComputerNameA(char* buf, std::uint32_t* size);

// The system's text for a failure code (GBK), or empty when the system has none.
QADJ_PLATFORM_API std::string SystemErrorText(HRESULT hr);
// The system's text, or "OLE error %.8x" when it has none.
QADJ_PLATFORM_API std::string OleErrorText(HRESULT hr);

// A server's error description as the operator sees it: GBK, with trailing blanks,
// control characters and periods removed. Characters that GBK cannot hold become '?'.
QADJ_PLATFORM_API std::string ErrorDescriptionText(std::u16string_view description);

// Throws for a failure code: qadj::EOleException with the thread's error information
// (ErrorDescriptionText of its description) when there is a description, else
// qadj::EOleError with OleErrorText(hr). Does nothing for a success code. Consumes
// the thread's error information either way.
QADJ_PLATFORM_API void OleCheck(HRESULT hr);

}  // namespace qadj::com
