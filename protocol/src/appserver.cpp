#include "qadj/protocol/appserver.h"

#include <cassert>
#include <cmath>
#include <cstdint>

namespace qadj {

const com::Guid IID_IAppServer = *com::Guid::parse("{2C7AB8CD-6EB5-4670-9EB5-AFF9151148AA}");
const com::Guid CLSID_CoStoreProduct = *com::Guid::parse("{15F46FC4-4736-4AAF-9087-8A67C59E42F4}");

namespace {

using com::HRESULT;
using com::Variant;
using com::VarType;

// The arguments of one call in their natural order (the vector holds them reversed).
class Args {
 public:
  explicit Args(std::vector<Variant>& reversed) : v_(reversed) {}
  std::size_t size() const { return v_.size(); }
  Variant& at(std::size_t i) { return v_[v_.size() - 1 - i]; }

  // Reads a text argument; empty and null count as an empty text.
  bool text(std::size_t i, std::u16string& out) {
    const Variant& a = at(i);
    if (a.type() == VarType::BStr) {
      out = a.asBStr();
      return true;
    }
    if (a.isEmpty() || a.isNull()) {
      out.clear();
      return true;
    }
    return false;
  }
  // Reads a count or option: a 4-byte integer, a boolean (true = -1), a whole number
  // in a double's range of 4-byte integers, or empty for 0. A fraction, an infinity or
  // a number past the range is no integer (it does not wrap).
  bool integer(std::size_t i, std::int32_t& out) {
    const Variant& a = at(i);
    switch (a.type()) {
      case VarType::I4:
        out = a.asI4();
        return true;
      case VarType::Bool:
        out = a.asBool() ? -1 : 0;
        return true;
      case VarType::R8: {
        const double d = a.asR8();
        if (!(d >= INT32_MIN && d <= INT32_MAX) || d != std::trunc(d)) return false;
        out = static_cast<std::int32_t>(d);
        return true;
      }
      default:
        if (!a.isEmpty()) return false;
        out = 0;
        return true;
    }
  }
  // An in/out value argument: the value without its by-reference mark.
  Variant value(std::size_t i) { return Variant(at(i)).setByRef(false); }
  void setOut(std::size_t i, Variant v) { at(i) = std::move(v.setByRef(true)); }

 private:
  std::vector<Variant>& v_;
};

// ApplyUpdates with its five arguments a.
HRESULT callApplyUpdates(IAppServer& s, Args& a, Variant& result) {
  std::u16string provider;
  std::int32_t maxErrors = 0, errorCount = 0;
  if (!a.text(0, provider) || !a.integer(2, maxErrors) || !a.integer(3, errorCount))
    return com::DISP_E_TYPEMISMATCH;
  Variant owner = a.value(4);
  const HRESULT hr = s.ApplyUpdates(provider, a.value(1), maxErrors, errorCount, owner, result);
  if (com::succeeded(hr)) {
    a.setOut(3, Variant::i4(errorCount));
    a.setOut(4, std::move(owner));
  }
  return hr;
}

// FetchRecords with its seven arguments a.
HRESULT callFetchRecords(IAppServer& s, Args& a, Variant& result) {
  std::u16string provider, command;
  std::int32_t count = 0, recsOut = 0, options = 0;
  if (!a.text(0, provider) || !a.integer(1, count) || !a.integer(2, recsOut) ||
      !a.integer(3, options) || !a.text(4, command))
    return com::DISP_E_TYPEMISMATCH;
  Variant params = a.value(5), owner = a.value(6);
  const HRESULT hr =
      s.FetchRecords(provider, count, recsOut, options, command, params, owner, result);
  if (com::succeeded(hr)) {
    a.setOut(2, Variant::i4(recsOut));
    a.setOut(5, std::move(params));
    a.setOut(6, std::move(owner));
  }
  return hr;
}

HRESULT call(IAppServer& s, std::int32_t dispid, Args& a, Variant& result) {
  std::u16string provider, command;
  std::int32_t n1 = 0;
  auto expect = [&](std::size_t count) { return a.size() == count; };
  switch (dispid) {
    case DISPID_ApplyUpdates:
      return expect(5) ? callApplyUpdates(s, a, result) : com::DISP_E_BADPARAMCOUNT;
    case DISPID_FetchRecords:
      return expect(7) ? callFetchRecords(s, a, result) : com::DISP_E_BADPARAMCOUNT;
    case DISPID_DataRequest:
      if (!expect(2)) return com::DISP_E_BADPARAMCOUNT;
      if (!a.text(0, provider)) return com::DISP_E_TYPEMISMATCH;
      return s.DataRequest(provider, a.value(1), result);
    case DISPID_GetProviderNames:
      if (!expect(0)) return com::DISP_E_BADPARAMCOUNT;
      return s.GetProviderNames(result);
    case DISPID_GetParams: {
      if (!expect(2)) return com::DISP_E_BADPARAMCOUNT;
      if (!a.text(0, provider)) return com::DISP_E_TYPEMISMATCH;
      Variant owner = a.value(1);
      const HRESULT hr = s.GetParams(provider, owner, result);
      if (com::succeeded(hr)) a.setOut(1, std::move(owner));
      return hr;
    }
    case DISPID_RowRequest: {
      if (!expect(4)) return com::DISP_E_BADPARAMCOUNT;
      if (!a.text(0, provider) || !a.integer(2, n1)) return com::DISP_E_TYPEMISMATCH;
      Variant owner = a.value(3);
      const HRESULT hr = s.RowRequest(provider, a.value(1), n1, owner, result);
      if (com::succeeded(hr)) a.setOut(3, std::move(owner));
      return hr;
    }
    case DISPID_ExecuteCommand: {
      if (!expect(4)) return com::DISP_E_BADPARAMCOUNT;
      if (!a.text(0, provider) || !a.text(1, command)) return com::DISP_E_TYPEMISMATCH;
      Variant params = a.value(2), owner = a.value(3);
      const HRESULT hr = s.ExecuteCommand(provider, command, params, owner);
      if (com::succeeded(hr)) {
        a.setOut(2, std::move(params));
        a.setOut(3, std::move(owner));
      }
      return hr;
    }
    default:
      return com::DISP_E_MEMBERNOTFOUND;
  }
}

const bool kStubRegistered = (RegisterAppServerStub(), true);

}  // namespace

HRESULT InvokeAppServer(IAppServer& target, std::int32_t dispid, std::vector<Variant>& args,
                        Variant* result, com::ExcepInfo* excep) {
  Args a(args);
  Variant r;
  com::ExcepInfo stale;
  com::GetErrorInfo(stale);
  const HRESULT hr = call(target, dispid, a, r);
  if (com::failed(hr)) return InvokeFailure(hr, excep);
  if (result) *result = std::move(r);
  return hr;
}

HRESULT InvokeFailure(HRESULT hr, com::ExcepInfo* excep) {
  assert(com::failed(hr));
  com::ExcepInfo info;
  if (!com::GetErrorInfo(info) || info.description.empty()) return hr;
  if (excep) {
    *excep = std::move(info);
    excep->scode = hr;
  }
  return com::DISP_E_EXCEPTION;
}

void RegisterAppServerStub() {
  (void)kStubRegistered;
  com::CoRegisterInterfaceStub(
      IID_IAppServer,
      [](const std::shared_ptr<com::IUnknown>& itf, std::int32_t dispid, std::vector<Variant>& args,
         Variant* result, com::ExcepInfo* excep) -> HRESULT {
        auto server = com::interface_cast<IAppServer>(itf);
        if (!server) return com::E_NOINTERFACE;
        return InvokeAppServer(*server, dispid, args, result, excep);
      });
}

}  // namespace qadj
