// Client side of remote object calls, used by the runtime's creation functions.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qadj/com/com.h"

namespace qadj::com::remote {

// Activates clsid on one of the daemons at targets ("host:port", at least one) and
// returns interface iid of the new object through a proxy; the object's calls all go to
// the daemon that created it. With several targets, the one that served this process
// last is asked first (at first a random one, so that the computers of a company spread
// over the daemons); one that cannot be reached is passed over for the next. Returns
// S_OK or a failure code (transport failures mapped as by StatusToHresult: the last
// one when no daemon could be reached).
HRESULT CreateInstance(const std::vector<std::string>& targets, const Guid& clsid, const Guid& iid,
                       std::shared_ptr<IUnknown>& out);

}  // namespace qadj::com::remote
