// Profile-string reader: any INI text parses; the entries of the first section of a
// name are found again by their keys; a value cut to the caller's buffer is a prefix
// that never splits a double-byte GBK character.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/platform/profile.h"
#include "qadj/platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto file = qadj::ProfileFile::parse(text);
  // Only the first section of a name counts, and in it the first entry of a key.
  const auto& sections = file.sections();
  for (std::size_t s = 0; s < sections.size(); ++s) {
    bool first = true;
    for (std::size_t p = 0; p < s; ++p)
      if (qadj::profileNamesEqual(sections[p].name, sections[s].name)) first = false;
    for (const auto& entry : sections[s].entries) {
      const auto found = file.find(sections[s].name, entry.key);
      if (first) FUZZ_CHECK(found.has_value());
      if (!first || !found) continue;
      for (const auto& e : sections[s].entries) {
        if (!qadj::profileNamesEqual(e.key, entry.key)) continue;
        FUZZ_CHECK(*found == e.value);
        break;
      }
    }
  }

  // The default value is what a missing file yields; it is cut like a found value.
  const std::size_t bufferSize = size == 0 ? 0 : data[0] % 64;
  const std::string cut =
      qadj::readProfileString("/nonexistent/qadj-fuzz/none.ini", "s", "k", text, bufferSize);
  if (bufferSize == 0) {
    FUZZ_CHECK(cut.empty());
  } else {
    FUZZ_CHECK(cut.size() <= bufferSize - 1);
    FUZZ_CHECK(text.starts_with(cut));
    std::size_t pos = 0;
    while (pos < cut.size()) pos += qadj::text::gbkCharLength(text, pos);
    FUZZ_CHECK(pos == cut.size());  // the cut falls on a character boundary
    if (text.size() <= bufferSize - 1) FUZZ_CHECK(cut == text);
  }
  return 0;
}
