// Waiting on conditions with a deadline, and what the tests read from PostgreSQL
// about the daemon's sessions.
#pragma once

#include <chrono>
#include <functional>

#include "qadj/appserver/database.h"

namespace qadj::testing {

// Polls condition until it holds (true) or the deadline passes (false).
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(30));

// Sessions on the database that db is connected to, other than db's own (PostgreSQL).
int otherSessions(appserver::Database& db);

}  // namespace qadj::testing
