// GBK conversion: the strict forms either convert or throw EConvertError, and agree
// with the validity check; the UTF-8 and UTF-16 paths give the same text; the lossy
// forms never throw; the table of UTF-8 to GBK agrees with iconv.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace text = qadj::text;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  bool converted = true;
  std::string utf8;
  try {
    utf8 = text::gbkToUtf8(bytes);
  } catch (const qadj::EConvertError&) {
    converted = false;
  }
  FUZZ_CHECK(converted == text::isValidGbk(bytes));
  if (converted) {
    FUZZ_CHECK(text::utf8ToUtf16(utf8) == text::gbkToUtf16(bytes));
    FUZZ_CHECK(text::gbkToUtf8Lossy(bytes) == utf8);
    const std::string gbk = text::utf8ToGbk(utf8);  // what GBK decoded to, GBK can hold
    FUZZ_CHECK(text::gbkToUtf8(gbk) == utf8);
  } else {
    (void)text::gbkToUtf8Lossy(bytes);
  }

  // The same bytes taken as UTF-8.
  try {
    const std::u16string utf16 = text::utf8ToUtf16(bytes);
    FUZZ_CHECK(text::utf16ToUtf8(utf16) == bytes);
  } catch (const qadj::EConvertError&) {
  }
  // The table converts only what iconv converts, and as iconv does (the lossy form is
  // iconv's alone); the strict form agrees with it.
  std::string table;
  const bool tabled = text::appendUtf8AsGbk(bytes, table);
  const std::string lossy = text::utf8ToGbkLossy(bytes);
  if (tabled) FUZZ_CHECK(table == lossy);
  try {
    FUZZ_CHECK(text::utf8ToGbk(bytes) == lossy);
  } catch (const qadj::EConvertError&) {
    FUZZ_CHECK(!tabled);
  }

  // Character walking stays inside the text.
  if (!bytes.empty()) {
    std::size_t pos = 0, last = 0;
    while (pos < bytes.size()) {
      last = pos;
      const std::size_t len = text::gbkCharLength(bytes, pos);
      FUZZ_CHECK(len == 1 || len == 2);
      pos += len;
    }
    FUZZ_CHECK(pos == bytes.size());
    FUZZ_CHECK(text::gbkLastCharOffset(bytes) == last);
  } else {
    FUZZ_CHECK(text::gbkLastCharOffset(bytes) == std::string_view::npos);
  }
  return 0;
}
