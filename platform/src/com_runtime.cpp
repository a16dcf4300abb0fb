// Per-thread initialisation, error information, the class and marshaler tables, and
// object creation in-process, on this computer's daemon or on a named host.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "remote_client.h"

namespace qadj::com {

namespace {

thread_local int tInitCount = 0;
thread_local std::optional<ExcepInfo> tErrorInfo;
thread_local std::string tCallerPeer;
// The predicate of the remote call this thread carries out (CallerScope), if any.
thread_local const std::function<bool()>* tCallAbandoned = nullptr;
// The log facts of that call, when its server logs requests.
thread_local RequestFacts* tRequestFacts = nullptr;
// ChargeCallMemory of the remote call this thread carries out, if any.
thread_local const std::function<bool(std::size_t)>* tChargeCallMemory = nullptr;

struct ClassEntry {
  std::string progId;
  ClassFactory factory;
};

struct Tables {
  std::mutex mutex;
  std::map<Guid, ClassEntry> classes;
  std::map<Guid, InterfaceStub> stubs;
  std::map<Guid, InterfaceProxyFactory> proxies;
};

Tables& tables() {
  static Tables t;
  return t;
}

ClassFactory inProcessFactory(const Guid& clsid) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  auto it = t.classes.find(clsid);
  return it == t.classes.end() ? ClassFactory{} : it->second.factory;
}

// Creates the object in this process and asks it for iid.
HRESULT createInProcess(const ClassFactory& factory, const Guid& iid,
                        std::shared_ptr<IUnknown>& out) {
  std::shared_ptr<IUnknown> object;
  try {
    object = factory();
  } catch (...) {
    return CO_E_SERVER_EXEC_FAILURE;
  }
  if (!object) return CO_E_SERVER_EXEC_FAILURE;
  return object->QueryInterface(iid, out);
}

bool validPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (c < '0' || c > '9') return false;
  const int value = std::atoi(std::string(port).c_str());
  return value > 0 && value < 65536;
}

}  // namespace

HRESULT CoInitialize() {
  return ++tInitCount == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (tInitCount > 0) --tInitCount;
}

bool IsInitialized() {
  return tInitCount > 0;
}

const std::string& CallerPeer() {
  return tCallerPeer;
}

bool CallAbandoned() {
  return tCallAbandoned && (*tCallAbandoned)();
}

RequestFacts* CurrentRequestFacts() {
  return tRequestFacts;
}

bool ChargeCallMemory(std::size_t bytes) {
  return !tChargeCallMemory || (*tChargeCallMemory)(bytes);
}

CallerScope::CallerScope(std::string peer, std::function<bool()> abandoned, RequestFacts* facts,
                         std::function<bool(std::size_t)> charge)
    : previous_(std::exchange(tCallerPeer, std::move(peer))),
      abandoned_(std::move(abandoned)),
      previousAbandoned_(std::exchange(tCallAbandoned, abandoned_ ? &abandoned_ : nullptr)),
      previousFacts_(std::exchange(tRequestFacts, facts)),
      charge_(std::move(charge)),
      previousCharge_(std::exchange(tChargeCallMemory, charge_ ? &charge_ : nullptr)) {}
CallerScope::~CallerScope() {
  tCallerPeer = std::move(previous_);
  tCallAbandoned = previousAbandoned_;
  tRequestFacts = previousFacts_;
  tChargeCallMemory = previousCharge_;
}

void SetErrorInfo(const ExcepInfo& info) {
  tErrorInfo = info;
}

bool GetErrorInfo(ExcepInfo& out) {
  if (!tErrorInfo) return false;
  out = std::move(*tErrorInfo);
  tErrorInfo.reset();
  return true;
}

void CoRegisterInterfaceStub(const Guid& iid, InterfaceStub stub) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  t.stubs[iid] = std::move(stub);
}

void CoRegisterInterfaceProxy(const Guid& iid, InterfaceProxyFactory factory) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  t.proxies[iid] = std::move(factory);
}

InterfaceStub CoGetInterfaceStub(const Guid& iid) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  auto it = t.stubs.find(iid);
  return it == t.stubs.end() ? InterfaceStub{} : it->second;
}

InterfaceProxyFactory CoGetInterfaceProxy(const Guid& iid) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  auto it = t.proxies.find(iid);
  return it == t.proxies.end() ? InterfaceProxyFactory{} : it->second;
}

HRESULT CoRegisterClass(const Guid& clsid, const std::string& progId, ClassFactory factory) {
  if (clsid.isNull()) return E_INVALIDARG;
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  t.classes[clsid] = ClassEntry{progId, std::move(factory)};
  return S_OK;
}

void CoRevokeClass(const Guid& clsid) {
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  t.classes.erase(clsid);
}

HRESULT CLSIDFromProgID(const std::string& progId, Guid& out) {
  if (!IsInitialized()) return CO_E_NOTINITIALIZED;
  auto& t = tables();
  std::lock_guard lock(t.mutex);
  for (const auto& [clsid, entry] : t.classes) {
    if (!entry.progId.empty() && text::asciiEqualsNoCase(entry.progId, progId)) {
      out = clsid;
      return S_OK;
    }
  }
  return CO_E_CLASSSTRING;
}

std::string LocalServerAddress() {
  const char* env = std::getenv("QADJ_LOCAL_SERVER");
  if (env && *env) return env;
  return "127.0.0.1:" + std::to_string(kDefaultPort);
}

std::string HostTextToTarget(std::string_view hostText) {
  if (hostText.empty()) return {};
  std::string_view name = hostText;
  std::string_view port;
  if (hostText.front() == '[') {
    const auto close = hostText.find(']');
    if (close == std::string_view::npos || close == 1) return {};
    name = hostText.substr(0, close + 1);
    const auto rest = hostText.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return {};
      port = rest.substr(1);
      if (!validPort(port)) return {};
    }
  } else {
    const auto colon = hostText.find(':');
    if (colon != std::string_view::npos) {
      name = hostText.substr(0, colon);
      port = hostText.substr(colon + 1);
      if (!validPort(port)) return {};
    }
    if (name.empty()) return {};
    for (char c : name) {
      const auto u = static_cast<unsigned char>(c);
      if (!(std::isalnum(u) || c == '-' || c == '.' || c == '_')) return {};
    }
  }
  return std::string(name) + ":" +
         (port.empty() ? std::to_string(kDefaultPort) : std::string(port));
}

std::vector<std::string> HostTextTargets(std::string_view hostText) {
  std::vector<std::string> targets;
  for (std::size_t from = 0; from <= hostText.size();) {
    auto comma = hostText.find(',', from);
    if (comma == std::string_view::npos) comma = hostText.size();
    std::string_view name = hostText.substr(from, comma - from);
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    std::string target = HostTextToTarget(name);
    if (target.empty()) return {};
    if (std::find(targets.begin(), targets.end(), target) == targets.end())
      targets.push_back(std::move(target));
    from = comma + 1;
  }
  return targets;
}

HRESULT CoCreateInstance(const Guid& clsid, std::uint32_t clsctx, const Guid& iid,
                         std::shared_ptr<IUnknown>& out) {
  return CoCreateInstanceEx(clsid, clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER), "", iid,
                            out);
}

HRESULT CoCreateInstanceEx(const Guid& clsid, std::uint32_t clsctx, const std::string& serverName,
                           const Guid& iid, std::shared_ptr<IUnknown>& out) {
  out.reset();
  if (!IsInitialized()) return CO_E_NOTINITIALIZED;
  if (clsctx & CLSCTX_INPROC_SERVER) {
    if (auto factory = inProcessFactory(clsid)) return createInProcess(factory, iid, out);
  }
  // A named host is reached directly when remote creation is allowed; the local
  // daemon stands for "local server" otherwise.
  const bool named = !serverName.empty() && (clsctx & CLSCTX_REMOTE_SERVER);
  if (named || (clsctx & CLSCTX_LOCAL_SERVER)) {
    const auto targets = HostTextTargets(named ? serverName : LocalServerAddress());
    if (targets.empty()) return RPC_E_SERVER_UNAVAILABLE;
    return remote::CreateInstance(targets, clsid, iid, out);
  }
  return REGDB_E_CLASSNOTREG;
}

bool GetComputerNameA(char* buf, std::uint32_t* size) {
  if (!size) return false;
  // The computer name is the host name's first label, at most 15 bytes, in upper
  // case, as a network name derived from the host name would be.
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) return false;
  std::string name(host);
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) name.resize(15);
  for (auto& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!buf || *size < name.size() + 1) {
    *size = static_cast<std::uint32_t>(name.size() + 1);
    return false;
  }
  std::memcpy(buf, name.c_str(), name.size() + 1);
  *size = static_cast<std::uint32_t>(name.size());
  return true;
}

}  // namespace qadj::com
