// What a case does when the machine cannot give it its database (no PostgreSQL).
#pragma once

#include <string>

namespace qadj::testing {

// Skips the running case where QADJ_SKIP_POSTGRES is set and fails it otherwise, so
// that a missing server is never taken for a pass. The caller returns right after.
void databaseUnavailable(const std::string& why);

}  // namespace qadj::testing
