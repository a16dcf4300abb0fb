// Client side of remote object calls, used by the runtime's creation functions.
#pragma once

#include <memory>
#include <string>

#include "qadj/com/com.h"

namespace qadj::com::remote {

// Activates clsid on the daemon at target ("host:port") and returns interface iid of
// the new object through a proxy. Returns S_OK or a failure code (transport failures
// mapped as by StatusToHresult).
HRESULT CreateInstance(const std::string& target, const Guid& clsid, const Guid& iid,
                       std::shared_ptr<IUnknown>& out);

}  // namespace qadj::com::remote
