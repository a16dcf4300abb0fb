// Command line of mis-host.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qadj::host {

struct HostOptions {
  std::string pluginPath;      // empty: look beside the executable
  unsigned long ownerXid = 0;  // host window id handed to the plug-in (0 = none)
  bool embeddedServer = true;  // register the embedded application server in-process
  bool seedDemo = false;       // create the embedded database with demo data if missing
  std::string operatorCode;
  std::string serverHost;
  bool help = false;
  bool version = false;  // print the versions of the host, the plug-in's Qt and the libraries
};

// Parses argv (without the program name). Returns nullopt and sets error on a bad
// command line.
std::optional<HostOptions> parseOptions(const std::vector<std::string>& args, std::string& error);

// Usage text printed by --help.
std::string usage();

}  // namespace qadj::host
