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
  QADJ_APP_SERVER_OPERATIONS(, override);
};

}  // namespace qadj::testing
