#include "options.h"

#include <cstdlib>

namespace qadj::host {

std::optional<HostOptions> parseOptions(const std::vector<std::string>& args, std::string& error) {
  HostOptions o;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* name) -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        error = std::string(name) + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--plugin") {
      auto v = value("--plugin");
      if (!v) return std::nullopt;
      o.pluginPath = *v;
    } else if (a == "--owner") {
      auto v = value("--owner");
      if (!v) return std::nullopt;
      char* end = nullptr;
      o.ownerXid = std::strtoul(v->c_str(), &end, 0);
      if (v->empty() || *end != '\0') {
        error = "--owner needs a window id";
        return std::nullopt;
      }
    } else if (a == "--no-embedded") {
      o.embeddedServer = false;
    } else if (a == "--seed-demo") {
      o.seedDemo = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "--") {
      error = "unknown option " + a;
      return std::nullopt;
    } else {
      positional.push_back(a);
    }
  }
  if (o.help || o.version) return o;
  if (positional.size() < 1 || positional.size() > 2) {
    error = "expected OPERATOR [SERVERHOST]";
    return std::nullopt;
  }
  o.operatorCode = positional[0];
  if (positional.size() == 2) o.serverHost = positional[1];
  return o;
}

std::string usage() {
  return "usage: mis-host [--plugin PATH] [--owner XID] [--no-embedded] [--seed-demo] OPERATOR\n"
         "                [SERVERHOST]\n"
         "       mis-host [--plugin PATH] --version\n"
         "\n"
         "Loads the quota-adjustment plug-in and shows its window for the operator.\n"
         "  SERVERHOST    computer running qadj-appserver, as name[:port], or several\n"
         "                as name1[:port],name2[:port] (one of them that answers);\n"
         "                empty or omitted: this computer (the embedded server, see below)\n"
         "  --plugin PATH the plug-in library (default: libqadj_vsd.so beside the host)\n"
         "  --owner XID   X11 window id of the host window that owns the plug-in's window\n"
         "  --no-embedded do not register the embedded application server; an empty\n"
         "                SERVERHOST then uses this computer's qadj-appserver daemon\n"
         "  --seed-demo   create the embedded database with the demo data when it does\n"
         "                not exist yet\n"
         "  --version     print the versions of mis-host, of the Qt the plug-in runs with\n"
         "                and of the libraries, then exit\n"
         "The embedded server uses the SQLite file named by $QADJ_DB, else\n"
         "${XDG_DATA_HOME:-~/.local/share}/qadj_vsd/demo.sqlite.\n";
}

}  // namespace qadj::host
