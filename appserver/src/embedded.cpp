#include "qadj/appserver/embedded.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "qadj/appserver/costore_product.h"
#include "qadj/appserver/dates.h"
#include "qadj/appserver/demo.h"
#include "qadj/appserver/save_record.h"
#include "qadj/appserver/schema.h"
#include "qadj/platform/error.h"
#include "qadj/protocol/appserver.h"

namespace qadj::appserver {

void registerInProcessServer(const std::string& dbUrl) {
  // A database file of an earlier version gets the record of saves; one that cannot be
  // opened now tells so at the window's first request.
  try {
    auto db = openDatabase(dbUrl, OpenMode::Existing);
    if (schemaExists(*db)) {
      ensureSaveRecord(*db);
      ensureSchemaGuards(*db);
    }
  } catch (const DatabaseError&) {
  }
  const auto hr = com::CoRegisterClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                                       [dbUrl] { return createCoStoreProduct(dbUrl); });
  if (com::failed(hr)) throw EOleError(com::OleErrorText(hr), hr);
}

std::string defaultEmbeddedDatabasePath() {
  if (const char* db = std::getenv("QADJ_DB"); db && *db) return db;
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && *home ? home : ".") / ".local" / "share";
  }
  return (base / "qadj_vsd" / "demo.sqlite").string();
}

std::string sqliteUrl(const std::string& path) {
  return "sqlite:" + path;
}

bool ensureDemoDatabase(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) return false;
  const auto folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) {
    std::filesystem::create_directories(folder, ec);
    if (ec)
      throw DatabaseError("cannot create the folder '" + folder.string() + "': " + ec.message());
  }
  try {
    auto db = openSqlite(path);
    seedDemoData(*db, dates::today());
  } catch (...) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
      std::filesystem::remove(path + suffix, ec);
    throw;
  }
  return true;
}

}  // namespace qadj::appserver
