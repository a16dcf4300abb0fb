// Waiting on conditions with a deadline, and what the tests read from PostgreSQL
// about the daemon's sessions.
#pragma once

#include "qadj/appserver/database.h"
#include "qadj/testing/wait_until.h"

namespace qadj::testing {

// Sessions on the database that db is connected to, other than db's own (PostgreSQL).
int otherSessions(appserver::Database& db);

}  // namespace qadj::testing
