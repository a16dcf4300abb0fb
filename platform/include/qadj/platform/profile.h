// Profile strings: reading "key=value" entries from INI files the way the Windows
// profile-string reader does (sections in brackets, case-insensitive section and
// key names, the first match wins). Text is read as raw bytes (GBK).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qadj/platform/export.h"

namespace qadj {

// The size of the buffer the settings reader hands to the profile-string reader.
constexpr std::size_t kProfileBufferSize = 2048;

// The parsed content of one INI file.
class QADJ_PLATFORM_API ProfileFile {
 public:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };

  // Parses INI text: "[name]" lines start sections (the name trimmed of blanks, so
  // "[ ]" and "[]" both name the empty section); "key=value" lines add entries
  // (blanks around key and value trimmed; one pair of matching quotes around the
  // value stripped); lines starting with ';' and lines without '=' are ignored, as
  // are entries before the first section. Never throws on malformed text.
  static ProfileFile parse(std::string_view text);

  // The value of key in section: the first section of that name, and in it the
  // first entry of that key; names compare without regard to ASCII case (the bytes
  // of double-byte GBK characters compare exactly). nullopt when either is absent.
  std::optional<std::string> find(std::string_view section, std::string_view key) const;

  const std::vector<Section>& sections() const { return sections_; }

 private:
  std::vector<Section> sections_;
};

// True when a and b are equal ignoring ASCII case; the two bytes of a GBK
// double-byte character must match exactly.
QADJ_PLATFORM_API bool profileNamesEqual(std::string_view a, std::string_view b);

// Reads one profile string from the file at the Linux path filePath: the value of
// key in section, or defaultValue when the file, the section or the key is
// missing (an unreadable file counts as missing). The result is cut to
// bufferSize - 1 bytes (without splitting a double-byte GBK character); a
// bufferSize of 0 gives the empty text. Never throws except std::bad_alloc.
QADJ_PLATFORM_API std::string readProfileString(const std::string& filePath,
                                                std::string_view section, std::string_view key,
                                                std::string_view defaultValue,
                                                std::size_t bufferSize = kProfileBufferSize);

// The same with a Windows-style file name ("c:\mis_system.ini"), mapped to a Linux
// path with mapWindowsPath() (see paths.h).
QADJ_PLATFORM_API std::string GetPrivateProfileStringA(std::string_view section,
                                                       std::string_view key,
                                                       std::string_view defaultValue,
                                                       std::size_t bufferSize,
                                                       std::string_view windowsFileName);

}  // namespace qadj
