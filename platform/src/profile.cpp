// INI reading with the Windows profile-string rules.
#include "qadj/platform/profile.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "qadj/platform/paths.h"
#include "qadj/platform/text.h"

namespace qadj {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view stripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

char asciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Reads a whole file; nullopt when it cannot be opened.
std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(bytes).str();
}

}  // namespace

bool profileNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  while (i < a.size()) {
    const std::size_t len = text::gbkCharLength(a, i);
    if (len == 2) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
    } else if (asciiLower(a[i]) != asciiLower(b[i])) {
      return false;
    }
    i += len;
  }
  return true;
}

ProfileFile ProfileFile::parse(std::string_view text) {
  ProfileFile file;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // UTF-8 byte order mark
  Section* current = nullptr;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = trim(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      std::string_view name = line.substr(1);
      name = name.substr(0, name.find(']'));
      file.sections_.push_back(Section{std::string(trim(name)), {}});
      current = &file.sections_.back();
      continue;
    }
    const std::size_t eq = line.find('=');
    if (current == nullptr || eq == std::string_view::npos) continue;
    current->entries.push_back(Entry{std::string(trim(line.substr(0, eq))),
                                     std::string(stripQuotes(trim(line.substr(eq + 1))))});
  }
  return file;
}

std::optional<std::string> ProfileFile::find(std::string_view section, std::string_view key) const {
  for (const auto& s : sections_) {
    if (!profileNamesEqual(s.name, section)) continue;
    for (const auto& e : s.entries) {
      if (profileNamesEqual(e.key, key)) return e.value;
    }
    return std::nullopt;  // only the first section of a name counts
  }
  return std::nullopt;
}

std::string readProfileString(const std::string& filePath, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t bufferSize) {
  std::string value(defaultValue);
  if (auto bytes = readFile(filePath)) {
    if (auto found = ProfileFile::parse(*bytes).find(section, key)) value = std::move(*found);
  }
  if (bufferSize == 0) return {};
  if (value.size() > bufferSize - 1) {
    std::size_t cut = 0;
    while (cut < bufferSize - 1) {
      const std::size_t len = text::gbkCharLength(value, cut);
      if (cut + len > bufferSize - 1) break;
      cut += len;
    }
    value.resize(cut);
  }
  return value;
}

std::string GetPrivateProfileStringA(std::string_view section, std::string_view key,
                                     std::string_view defaultValue, std::size_t bufferSize,
                                     std::string_view windowsFileName) {
  return readProfileString(mapWindowsPath(windowsFileName), section, key, defaultValue, bufferSize);
}

}  // namespace qadj
