// The tables the window's statements use, the host's visit-sales order table that the
// quantity already sold comes from, the per-session working table PGTQADJ0, and the
// Oracle-dialect functions the statements call.
#pragma once

#include <string_view>

#include "qadj/appserver/database.h"

namespace qadj::appserver {

// Creates the tables, keys and indexes when missing, the server's record of saves
// among them (and, on PostgreSQL, installs TRUNC for dates). Safe to run again on an
// existing database. Throws DatabaseError.
void createSchema(Database& db);

// True when every table of the schema exists. Throws DatabaseError.
bool schemaExists(Database& db);

// Whether the database of url answers, for the daemon's health service: a new session
// opens and finds the schema. A missing SQLite file does not answer (and is not
// created). Never throws.
bool databaseAnswers(const std::string& url);
// True when the table exists (in the session's search path). Throws DatabaseError.
bool tableExists(Database& db, std::string_view table);

// Creates this session's private working table PGTQADJ0 when missing (a temporary
// table that only this session sees). Throws DatabaseError.
void prepareSession(Database& db);

}  // namespace qadj::appserver
