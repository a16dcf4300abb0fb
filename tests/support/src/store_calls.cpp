#include "qadj/testing/store_calls.h"

#include <algorithm>

#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/statements.h"

namespace qadj::testing {

using com::Variant;

std::u16string salespersonsOf(const std::string& warehouse) {
  return text::gbkToUtf16(statements::salespersonList(warehouse));
}

com::HRESULT callInOrder(com::IDispatch& d, std::int32_t dispid, std::vector<Variant> args,
                         Variant* result, com::ExcepInfo* excep, std::vector<Variant>* after) {
  std::reverse(args.begin(), args.end());
  const auto hr = d.Invoke(dispid, com::DISPATCH_METHOD, args, result, excep);
  std::reverse(args.begin(), args.end());
  if (after) *after = std::move(args);
  return hr;
}

std::shared_ptr<com::IDispatch> createServerOn(const std::string& host, com::HRESULT* hr) {
  std::shared_ptr<com::IUnknown> obj;
  com::HRESULT created = com::CoCreateInstanceEx(CLSID_CoStoreProduct, com::CLSCTX_REMOTE_SERVER,
                                                 host, com::IID_IDispatch, obj);
  auto disp = com::succeeded(created) ? com::interface_cast<com::IDispatch>(obj) : nullptr;
  if (com::succeeded(created) && !disp) created = com::E_NOINTERFACE;
  if (hr) *hr = created;
  return disp;
}

CallOutcome fetchOn(com::IDispatch& server, const std::u16string& sqlText) {
  CallOutcome out;
  Variant result;
  com::ExcepInfo excep;
  std::vector<Variant> after;
  out.hr = callInOrder(server, DISPID_FetchRecords,
                       {Variant::bstr(u"PUBLIC_DSP"), Variant::i4(-1), Variant::i4(0).setByRef(),
                        Variant::i4(kFetchMetaData), Variant::bstr(sqlText),
                        Variant::null().setByRef(), Variant().setByRef()},
                       &result, &excep, &after);
  if (out.hr == com::DISP_E_EXCEPTION) {
    out.description = text::utf16ToUtf8(excep.description);
  } else if (com::succeeded(out.hr)) {
    out.packet = packet::decode(result.asBytes());
    out.rows = out.packet.rows.size();
    out.recordsSent = after[2].asI4();
  }
  return out;
}

CallOutcome executeOn(com::IDispatch& server, const std::u16string& sqlText,
                      const com::Variant& ownerData) {
  CallOutcome out;
  com::ExcepInfo excep;
  out.hr = callInOrder(server, DISPID_ExecuteCommand,
                       {Variant::bstr(u"PUBLIC_DSP"), Variant::bstr(sqlText),
                        Variant::null().setByRef(), Variant(ownerData).setByRef()},
                       nullptr, &excep);
  if (out.hr == com::DISP_E_EXCEPTION) out.description = text::utf16ToUtf8(excep.description);
  return out;
}

CallOutcome createAndFetch(const std::string& host, const std::u16string& sqlText) {
  CallOutcome out;
  com::ExcepInfo info;
  com::GetErrorInfo(info);  // nothing stale
  const auto disp = createServerOn(host, &out.hr);
  if (!disp) {
    if (com::GetErrorInfo(info)) out.description = text::utf16ToUtf8(info.description);
    return out;
  }
  return fetchOn(*disp, sqlText);
}

com::HRESULT refillOn(com::IDispatch& server, const std::u16string& code, double date,
                      com::ExcepInfo* excep, std::u16string* codeAfter) {
  std::int32_t id = 0;
  if (const auto hr = server.GetIDsOfNames(u"M_QADJ", id); com::failed(hr)) return hr;
  std::vector<Variant> after;
  const auto hr = callInOrder(server, id, {Variant::bstr(code).setByRef(), Variant::date(date)},
                              nullptr, excep, &after);
  if (codeAfter && after[0].type() == com::VarType::BStr) *codeAfter = after[0].asBStr();
  return hr;
}

}  // namespace qadj::testing
