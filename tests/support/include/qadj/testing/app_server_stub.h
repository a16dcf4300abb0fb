// The base of the tests' application-server stand-ins: every record-set operation
// answers E_NOTIMPL, so a stand-in overrides only the operations its tests use.
#pragma once

#include "qadj/protocol/appserver.h"

namespace qadj::testing {

class AppServerStub : public IAppServer {
 public:
  // Answers IUnknown and IAppServer with this object; E_NOINTERFACE otherwise.
  com::HRESULT QueryInterface(const com::Guid& iid, std::shared_ptr<com::IUnknown>& out) override;

  // Each returns E_NOTIMPL and leaves its out arguments untouched.
  com::HRESULT ApplyUpdates(const std::u16string& provider, const com::Variant& delta,
                            std::int32_t maxErrors, std::int32_t& errorCount,
                            com::Variant& ownerData, com::Variant& result) override;
  com::HRESULT FetchRecords(const std::u16string& provider, std::int32_t count,
                            std::int32_t& recsOut, std::int32_t options,
                            const std::u16string& commandText, com::Variant& params,
                            com::Variant& ownerData, com::Variant& result) override;
  com::HRESULT DataRequest(const std::u16string& provider, const com::Variant& data,
                           com::Variant& result) override;
  com::HRESULT GetProviderNames(com::Variant& result) override;
  com::HRESULT GetParams(const std::u16string& provider, com::Variant& ownerData,
                         com::Variant& result) override;
  com::HRESULT RowRequest(const std::u16string& provider, const com::Variant& row,
                          std::int32_t requestType, com::Variant& ownerData,
                          com::Variant& result) override;
  com::HRESULT ExecuteCommand(const std::u16string& provider, const std::u16string& commandText,
                              com::Variant& params, com::Variant& ownerData) override;
};

}  // namespace qadj::testing
