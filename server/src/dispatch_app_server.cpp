#include "qadj/server/dispatch_app_server.h"

#include <algorithm>
#include <mutex>

namespace qadj {

using com::HRESULT;
using com::Variant;

namespace {

Variant byRef(Variant v) {
  return std::move(v.setByRef(true));
}
Variant plain(const Variant& v) {
  return Variant(v).setByRef(false);
}

}  // namespace

TDispatchAppServer::TDispatchAppServer(std::shared_ptr<com::IDispatch> disp)
    : disp_(std::move(disp)) {}

HRESULT TDispatchAppServer::QueryInterface(const com::Guid& iid,
                                           std::shared_ptr<com::IUnknown>& out) {
  if (iid == com::IID_IUnknown || iid == IID_IAppServer) {
    out = shared_from_this();
    return com::S_OK;
  }
  if (iid == com::IID_IDispatch) {
    out = disp_;
    return com::S_OK;
  }
  out.reset();
  return com::E_NOINTERFACE;
}

HRESULT TDispatchAppServer::call(std::int32_t dispid, std::vector<Variant>& natural,
                                 Variant* result) {
  std::vector<Variant> args(natural.rbegin(), natural.rend());
  com::ExcepInfo excep;
  const HRESULT hr = disp_->Invoke(dispid, com::DISPATCH_METHOD, args, result, &excep);
  if (hr == com::DISP_E_EXCEPTION) {
    const HRESULT code = excep.scode != 0 ? excep.scode : hr;
    excep.scode = code;
    com::SetErrorInfo(excep);
    return code;
  }
  if (com::succeeded(hr)) std::reverse_copy(args.begin(), args.end(), natural.begin());
  return hr;
}

HRESULT TDispatchAppServer::ApplyUpdates(const std::u16string& provider, const Variant& delta,
                                         std::int32_t maxErrors, std::int32_t& errorCount,
                                         Variant& ownerData, Variant& result) {
  std::vector<Variant> a{Variant::bstr(provider), plain(delta), Variant::i4(maxErrors),
                         byRef(Variant::i4(errorCount)), byRef(ownerData)};
  const HRESULT hr = call(DISPID_ApplyUpdates, a, &result);
  if (com::succeeded(hr)) {
    if (a[3].type() == com::VarType::I4) errorCount = a[3].asI4();
    ownerData = plain(a[4]);
  }
  return hr;
}

HRESULT TDispatchAppServer::FetchRecords(const std::u16string& provider, std::int32_t count,
                                         std::int32_t& recsOut, std::int32_t options,
                                         const std::u16string& commandText, Variant& params,
                                         Variant& ownerData, Variant& result) {
  std::vector<Variant> a{
      Variant::bstr(provider), Variant::i4(count),         byRef(Variant::i4(recsOut)),
      Variant::i4(options),    Variant::bstr(commandText), byRef(params),
      byRef(ownerData)};
  const HRESULT hr = call(DISPID_FetchRecords, a, &result);
  if (com::succeeded(hr)) {
    if (a[2].type() == com::VarType::I4) recsOut = a[2].asI4();
    params = plain(a[5]);
    ownerData = plain(a[6]);
  }
  return hr;
}

HRESULT TDispatchAppServer::DataRequest(const std::u16string& provider, const Variant& data,
                                        Variant& result) {
  std::vector<Variant> a{Variant::bstr(provider), plain(data)};
  return call(DISPID_DataRequest, a, &result);
}

HRESULT TDispatchAppServer::GetProviderNames(Variant& result) {
  std::vector<Variant> a;
  return call(DISPID_GetProviderNames, a, &result);
}

HRESULT TDispatchAppServer::GetParams(const std::u16string& provider, Variant& ownerData,
                                      Variant& result) {
  std::vector<Variant> a{Variant::bstr(provider), byRef(ownerData)};
  const HRESULT hr = call(DISPID_GetParams, a, &result);
  if (com::succeeded(hr)) ownerData = plain(a[1]);
  return hr;
}

HRESULT TDispatchAppServer::RowRequest(const std::u16string& provider, const Variant& row,
                                       std::int32_t requestType, Variant& ownerData,
                                       Variant& result) {
  std::vector<Variant> a{Variant::bstr(provider), plain(row), Variant::i4(requestType),
                         byRef(ownerData)};
  const HRESULT hr = call(DISPID_RowRequest, a, &result);
  if (com::succeeded(hr)) ownerData = plain(a[3]);
  return hr;
}

HRESULT TDispatchAppServer::ExecuteCommand(const std::u16string& provider,
                                           const std::u16string& commandText, Variant& params,
                                           Variant& ownerData) {
  std::vector<Variant> a{Variant::bstr(provider), Variant::bstr(commandText), byRef(params),
                         byRef(ownerData)};
  const HRESULT hr = call(DISPID_ExecuteCommand, a, nullptr);
  if (com::succeeded(hr)) {
    params = plain(a[2]);
    ownerData = plain(a[3]);
  }
  return hr;
}

void RegisterAppServerProxy() {
  static std::once_flag once;
  std::call_once(once, [] {
    com::CoRegisterInterfaceProxy(IID_IAppServer, [](std::shared_ptr<com::IDispatch> channel) {
      return std::static_pointer_cast<com::IUnknown>(
          std::make_shared<TDispatchAppServer>(std::move(channel)));
    });
  });
}

}  // namespace qadj
