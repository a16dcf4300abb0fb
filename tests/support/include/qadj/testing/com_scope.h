// The object runtime initialised for a scope: a test, a fixture or a worker thread.
#pragma once

#include "qadj/com/com.h"

namespace qadj::testing {

// CoInitialize on construction, CoUninitialize on destruction. As a fixture's first
// member it outlives every object the fixture holds.
struct ComScope {
  ComScope() { com::CoInitialize(); }
  ~ComScope() { com::CoUninitialize(); }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
};

}  // namespace qadj::testing
