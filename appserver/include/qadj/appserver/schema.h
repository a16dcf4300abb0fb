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

// The schema's own refusals of values no quota line or document may hold: a quota that
// is not a finite number, a document date that is no real date. SQLite's triggers are
// made again here (a database of an earlier version gets the current ones; the
// daemon and the embedded server call this at start); PostgreSQL's check constraint on
// the quota is added by createSchema, as the tables' owner. Returns false when the
// database lacks a guard this session does not add (PostgreSQL, a database made before
// it: run --init-schema as its owner). Throws DatabaseError.
bool ensureSchemaGuards(Database& db);

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
