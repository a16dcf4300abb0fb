// The embedded default: the application server object created in-process when the
// host names no server computer, on a SQLite file of this user.
#pragma once

#include <string>

namespace qadj::appserver {

// Registers "KorvantaServer.CoStoreProduct" as an in-process class: each creation
// makes a new server object with its own session of the database at dbUrl (see
// openDatabase). Throws qadj::EOleError when the runtime refuses the registration.
void registerInProcessServer(const std::string& dbUrl);

// The embedded database file: $QADJ_DB when set and not empty, else
// ${XDG_DATA_HOME:-$HOME/.local/share}/qadj_vsd/demo.sqlite.
std::string defaultEmbeddedDatabasePath();

// "sqlite:" + path.
std::string sqliteUrl(const std::string& path);

// When no file exists at path: creates its folder and the file with the schema and the
// demo data for today, and returns true. An existing file is left alone (false).
// Throws DatabaseError when seeding fails (the half-written file is removed).
bool ensureDemoDatabase(const std::string& path);

}  // namespace qadj::appserver
