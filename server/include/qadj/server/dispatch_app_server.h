// The record-set interface over an object's automation interface, for server
// objects that do not answer IAppServer themselves.
#pragma once

#include <memory>

#include "qadj/protocol/appserver.h"

namespace qadj {

// Each operation is one Invoke on the wrapped IDispatch with the method flag and the
// operation's dispatch id (20000000 + its position). Failures come back as the call's
// code with the description left in the thread's error information (com::SetErrorInfo),
// as with a direct IAppServer.
class TDispatchAppServer : public IAppServer {
 public:
  // disp must not be null; it is shared with the caller.
  explicit TDispatchAppServer(std::shared_ptr<com::IDispatch> disp);

  // Answers IUnknown and IAppServer itself and IDispatch with the wrapped interface.
  com::HRESULT QueryInterface(const com::Guid& iid, std::shared_ptr<com::IUnknown>& out) override;

  QADJ_APP_SERVER_OPERATIONS(, override);

 private:
  // One Invoke; natural holds the arguments in their natural order and receives the
  // new values of by-reference ones.
  com::HRESULT call(std::int32_t dispid, std::vector<com::Variant>& natural, com::Variant* result);

  std::shared_ptr<com::IDispatch> disp_;
};

// Lets a remote object's IAppServer reach this process as a TDispatchAppServer over
// the remote interface channel. Idempotent.
void RegisterAppServerProxy();

}  // namespace qadj
