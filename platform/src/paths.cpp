// Windows file names mapped onto Linux directories.
#include "qadj/platform/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

namespace qadj {
namespace {

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The entry of dir named name: the exact name when it exists, else the first entry
// equal to it without regard to case, else name itself.
std::string resolveComponent(const std::string& dir, const std::string& name) {
  const std::string exact = dir + "/" + name;
  if (exists(exact)) return exact;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.empty() ? "/" : dir.c_str()), ::closedir);
  if (d) {
    while (const dirent* e = ::readdir(d.get())) {
      if (equalsIgnoringCase(e->d_name, name)) return dir + "/" + e->d_name;
    }
  }
  return exact;
}

// Splits a path on '\' and '/', resolving "." and ".." without climbing above the
// start.
std::vector<std::string> components(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.emplace_back(part);
    }
    start = end + 1;
  }
  return parts;
}

std::string joinResolved(std::string base, const std::vector<std::string>& parts) {
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  for (const auto& p : parts) base = resolveComponent(base, p);
  return base.empty() ? "/" : base;
}

}  // namespace

std::string driveDirectory(char letter) {
  if (!isLetter(letter)) throw std::invalid_argument("not a drive letter");
  const std::string var = std::string("QADJ_DRIVE_") + upper(letter);
  if (const char* dir = std::getenv(var.c_str()); dir != nullptr && *dir != '\0') return dir;
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    config = std::string(home) + "/.config";
  } else {
    // No folder of the user's: no drive. A shared folder such as /tmp would let any
    // other user of the computer write the settings the plug-in reads.
    return {};
  }
  return config + "/qadj_vsd/" + lower(letter);
}

std::string mapWindowsPath(std::string_view path) {
  // A name on a drive that stands for no folder names no file.
  const auto onDrive = [](char letter, std::string_view rest, const char* below = "") {
    const std::string dir = driveDirectory(letter);
    return dir.empty() ? std::string() : joinResolved(dir + below, components(rest));
  };
  if (path.size() >= 2 && isLetter(path[0]) && path[1] == ':')
    return onDrive(path[0], path.substr(2));
  if (path.starts_with('\\')) return onDrive('c', path);
  if (path.starts_with('/')) return joinResolved("/", components(path));
  if (path.find_first_of("\\/") == std::string_view::npos) return onDrive('c', path, "/windows");
  return joinResolved(".", components(path));
}

}  // namespace qadj
