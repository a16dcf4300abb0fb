// mis-host: a small host program. It initialises the object runtime on its thread,
// registers the embedded application server, loads the plug-in with dlopen and
// calls showdll, then exits when the window has closed.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "options.h"
#include "qadj/appserver/embedded.h"
#include "qadj/appserver/version.h"
#include "qadj/com/com.h"

namespace {

using ShowDll = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t,
                         std::intptr_t);

std::string defaultPluginPath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  const fs::path dir = exe.parent_path();
  for (const fs::path& candidate : {dir / "libqadj_vsd.so", dir / "../plugin/libqadj_vsd.so",
                                    dir / ".." / QADJ_LIBDIR / "libqadj_vsd.so"}) {
    if (fs::exists(candidate, ec)) return candidate.lexically_normal().string();
  }
  return "libqadj_vsd.so";
}

// The plug-in loaded from path, or null after telling why on stderr.
void* loadPlugin(const std::string& path, int mode) {
  void* library = dlopen(path.c_str(), mode);
  if (!library) std::fprintf(stderr, "mis-host: cannot load %s: %s\n", path.c_str(), dlerror());
  return library;
}

// --version: the host's and the libraries' versions, with the Qt the plug-in loads.
int printVersion(const std::string& pluginPath) {
  void* library = loadPlugin(pluginPath, RTLD_LAZY | RTLD_LOCAL);
  if (!library) return 1;
  using QtVersion = const char* (*)();
  auto qtVersion = reinterpret_cast<QtVersion>(dlsym(library, "qVersion"));
  const std::string qt = qtVersion ? std::string("Qt ") + qtVersion() : "Qt (not found)";
  std::fputs(qadj::appserver::versionReport("mis-host", {qt}).c_str(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options =
      qadj::host::parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::fprintf(stderr, "mis-host: %s\n%s", error.c_str(), qadj::host::usage().c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(qadj::host::usage().c_str(), stdout);
    return 0;
  }

  const std::string path = options->pluginPath.empty() ? defaultPluginPath() : options->pluginPath;
  if (options->version) return printVersion(path);

  // A host initialises the object runtime on its user-interface thread first.
  qadj::com::CoInitialize();
  if (options->embeddedServer) {
    const std::string database = qadj::appserver::defaultEmbeddedDatabasePath();
    try {
      if (options->seedDemo && qadj::appserver::ensureDemoDatabase(database))
        std::printf("mis-host: created the demo database %s\n", database.c_str());
      qadj::appserver::registerInProcessServer(qadj::appserver::sqliteUrl(database));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "mis-host: embedded server: %s\n", e.what());
      return 1;
    }
  }

  void* library = loadPlugin(path, RTLD_NOW | RTLD_LOCAL);
  if (!library) return 1;
  auto showdll = reinterpret_cast<ShowDll>(dlsym(library, "showdll"));
  if (!showdll) {
    std::fprintf(stderr, "mis-host: %s has no showdll\n", path.c_str());
    return 1;
  }
  showdll(static_cast<std::intptr_t>(options->ownerXid), 0,
          reinterpret_cast<std::intptr_t>(options->operatorCode.c_str()), 0, 0,
          reinterpret_cast<std::intptr_t>(options->serverHost.c_str()));
  qadj::com::CoUninitialize();
  // The plug-in's application object lives until the process ends; leave without
  // unloading it.
  std::fflush(stdout);
  _exit(0);
}
