#include "qadj/server/connection.h"

#include <cstdio>

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/server/dispatch_app_server.h"

namespace qadj {

using com::HRESULT;

namespace {

[[noreturn]] void raiseCode(HRESULT hr) {
  throw EOleError(com::OleErrorText(hr), hr);
}

}  // namespace

// --- DispatchArg ---------------------------------------------------------------------

DispatchArg DispatchArg::text(std::string gbk) {
  return DispatchArg(Value(std::move(gbk)));
}
DispatchArg DispatchArg::textRef(std::string& gbk) {
  return DispatchArg(Value(&gbk));
}
DispatchArg DispatchArg::date(double days) {
  return DispatchArg(Value(Date{days}));
}
DispatchArg DispatchArg::integer(std::int32_t value) {
  return DispatchArg(Value(value));
}
DispatchArg DispatchArg::real(double value) {
  return DispatchArg(Value(value));
}

com::Variant DispatchArg::toVariant() const {
  struct Visitor {
    com::Variant operator()(const std::string& s) const {
      return com::Variant::bstr(text::gbkToUtf16(s));
    }
    // A by-reference text is what the caller holds, which may end in half a
    // character (the first four bytes of a list's text): it travels with the cut
    // character replaced rather than failing the call.
    com::Variant operator()(std::string* s) const {
      return com::Variant::bstr(text::gbkToUtf16Lossy(*s)).setByRef();
    }
    com::Variant operator()(Date d) const { return com::Variant::date(d.days); }
    com::Variant operator()(std::int32_t v) const { return com::Variant::i4(v); }
    com::Variant operator()(double v) const { return com::Variant::r8(v); }
  };
  return std::visit(Visitor{}, value_);
}

void DispatchArg::copyBack(const com::Variant& v) const {
  auto* const* ref = std::get_if<std::string*>(&value_);
  if (!ref) return;
  if (v.type() == com::VarType::BStr)
    **ref = text::utf16ToGbkLossy(v.asBStr());
  else if (v.isEmpty() || v.isNull())
    (*ref)->clear();
  else
    throw EOleError(com::OleErrorText(com::DISP_E_TYPEMISMATCH), com::DISP_E_TYPEMISMATCH);
}

// --- Late-bound call -----------------------------------------------------------------

void InvokeByName(com::IDispatch& disp, const std::string& name,
                  const std::vector<DispatchArg>& args) {
  std::int32_t dispid = 0;
  HRESULT hr = disp.GetIDsOfNames(text::gbkToUtf16(name), dispid);
  if (hr == com::DISP_E_UNKNOWNNAME)
    throw EOleError("Method '" + name + "' not supported by automation object", hr);
  if (com::failed(hr)) raiseCode(hr);

  std::vector<com::Variant> values;
  values.reserve(args.size());
  for (auto it = args.rbegin(); it != args.rend(); ++it) values.push_back(it->toVariant());

  com::ExcepInfo excep;
  hr = disp.Invoke(dispid, com::DISPATCH_METHOD, values, nullptr, &excep);
  if (hr == com::DISP_E_EXCEPTION) {
    const std::string description = com::ErrorDescriptionText(excep.description);
    const HRESULT code = excep.scode != 0 ? excep.scode : hr;
    if (!description.empty()) throw EOleException(description, code);
    raiseCode(code);
  }
  if (com::failed(hr)) raiseCode(hr);
  for (std::size_t i = 0; i < args.size(); ++i) args[i].copyBack(values[args.size() - 1 - i]);
}

std::uint32_t RemoteClassContext(const std::string& computerName) {
  char buf[16];
  std::uint32_t size = sizeof buf;
  if (com::GetComputerNameA(buf, &size) &&
      text::asciiEqualsNoCase(computerName, std::string(buf, size)))
    return com::CLSCTX_SERVER;
  return com::CLSCTX_REMOTE_SERVER;
}

// --- TDCOMConnection -----------------------------------------------------------------

TDCOMConnection::TDCOMConnection(std::string name) : name_(std::move(name)) {
  RegisterAppServerProxy();
  RegisterAppServerStub();
}

TDCOMConnection::~TDCOMConnection() {
  try {
    Disconnect();
  } catch (...) {  // a data set failing to let go must not stop the window's teardown
    appServer_.reset();
    serverDispatch_ = com::Variant::null();
  }
}

std::string TDCOMConnection::ServerGUID() const {
  return serverGuid_.isNull() ? std::string() : serverGuid_.toString();
}

void TDCOMConnection::SetServerGUID(const std::string& text) {
  if (text.empty()) {
    serverGuid_ = com::Guid{};
    return;
  }
  auto guid = com::Guid::parse(text);
  if (!guid) raiseCode(com::CO_E_CLASSSTRING);
  serverGuid_ = *guid;
}

void TDCOMConnection::SetComputerName(const std::string& host) {
  if (host == computerName_) return;
  Disconnect();
  reconnect_ = false;
  computerName_ = host;
}

bool TDCOMConnection::Connected() const {
  return serverDispatch_.type() == com::VarType::Dispatch && serverDispatch_.asDispatch();
}

void TDCOMConnection::SetConnected(bool value) {
  if (value)
    Connect();
  else
    Disconnect();
}

void TDCOMConnection::Connect() {
  if (Connected()) return;
  com::Guid clsid = serverGuid_;
  if (clsid.isNull()) {
    if (serverName_.empty())
      throw EOleError("Cannot connect, " + name_ + " must contain a valid ServerName or ServerGUID",
                      com::E_INVALIDARG);
    const HRESULT hr = com::CLSIDFromProgID(serverName_, clsid);
    if (com::failed(hr)) raiseCode(hr);
  }
  std::shared_ptr<com::IUnknown> unknown;
  com::ExcepInfo stale;
  com::GetErrorInfo(stale);  // a description left by an earlier call is not this one's
  HRESULT hr;
  if (!computerName_.empty())
    hr = com::CoCreateInstanceEx(clsid, RemoteClassContext(computerName_), computerName_,
                                 com::IID_IUnknown, unknown);
  else
    hr = com::CoCreateInstance(clsid, com::CLSCTX_INPROC_SERVER | com::CLSCTX_LOCAL_SERVER,
                               com::IID_IUnknown, unknown);
  // The transport's reason (a TLS or token problem) when it gave one, else the code's text.
  if (com::failed(hr)) com::OleCheck(hr);
  if (!unknown) raiseCode(com::E_POINTER);
  std::shared_ptr<com::IUnknown> itf;
  std::shared_ptr<com::IDispatch> disp;
  if (com::succeeded(unknown->QueryInterface(com::IID_IDispatch, itf)))
    disp = com::interface_cast<com::IDispatch>(itf);
  if (!disp) throw EOleError("Interface not supported", com::E_NOINTERFACE);
  serverDispatch_ = com::Variant::dispatch(std::move(disp));
  reconnect_ = false;
  NotifyConnectChange(true);
}

void TDCOMConnection::Disconnect() {
  if (!Connected()) return;
  NotifyConnectChange(false);
  appServer_.reset();
  serverDispatch_ = com::Variant::null();
}

std::shared_ptr<IAppServer> TDCOMConnection::GetRecordSetInterface() {
  Connect();
  if (appServer_) return appServer_;
  const auto& disp = serverDispatch_.asDispatch();
  std::shared_ptr<com::IUnknown> itf;
  if (com::succeeded(disp->QueryInterface(IID_IAppServer, itf)))
    appServer_ = com::interface_cast<IAppServer>(itf);
  if (!appServer_) appServer_ = std::make_shared<TDispatchAppServer>(disp);
  return appServer_;
}

void TDCOMConnection::CallMethod(const std::string& name, const std::vector<DispatchArg>& args) {
  if (!Connected() && reconnect_) Connect();
  if (!Connected())
    throw EOleError("Variant does not reference an automation object", com::E_POINTER);
  // Hold the object for the call even if a data set's notification disconnects.
  const auto disp = serverDispatch_.asDispatch();
  try {
    InvokeByName(*disp, name, args);
  } catch (const EOleError& e) {
    CallFailed(e.code());
    throw;
  }
}

void TDCOMConnection::CallFailed(com::HRESULT hr) {
  if (hr != com::RPC_E_DISCONNECTED && hr != com::RPC_E_SERVER_UNAVAILABLE &&
      hr != com::RPC_E_CALL_TIMEOUT)
    return;
  Disconnect();
  reconnect_ = true;
}

}  // namespace qadj
