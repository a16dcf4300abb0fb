#include "qadj/testing/app_server_stub.h"

namespace qadj::testing {

using com::HRESULT;
using com::Variant;

HRESULT AppServerStub::QueryInterface(const com::Guid& iid, std::shared_ptr<com::IUnknown>& out) {
  if (iid == com::IID_IUnknown || iid == IID_IAppServer) {
    out = shared_from_this();
    return com::S_OK;
  }
  out.reset();
  return com::E_NOINTERFACE;
}

HRESULT AppServerStub::ApplyUpdates(const std::u16string&, const Variant&, std::int32_t,
                                    std::int32_t&, Variant&, Variant&) {
  return com::E_NOTIMPL;
}
HRESULT AppServerStub::FetchRecords(const std::u16string&, std::int32_t, std::int32_t&,
                                    std::int32_t, const std::u16string&, Variant&, Variant&,
                                    Variant&) {
  return com::E_NOTIMPL;
}
HRESULT AppServerStub::DataRequest(const std::u16string&, const Variant&, Variant&) {
  return com::E_NOTIMPL;
}
HRESULT AppServerStub::GetProviderNames(Variant&) {
  return com::E_NOTIMPL;
}
HRESULT AppServerStub::GetParams(const std::u16string&, Variant&, Variant&) {
  return com::E_NOTIMPL;
}
HRESULT AppServerStub::RowRequest(const std::u16string&, const Variant&, std::int32_t, Variant&,
                                  Variant&) {
  return com::E_NOTIMPL;
}
HRESULT AppServerStub::ExecuteCommand(const std::u16string&, const std::u16string&, Variant&,
                                      Variant&) {
  return com::E_NOTIMPL;
}

}  // namespace qadj::testing
