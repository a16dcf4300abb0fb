// Text conversion between GBK (code page 936, the plug-in's text), UTF-8 (Qt and the
// databases) and UTF-16 (automation texts).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "qadj/platform/export.h"

namespace qadj::text {

// Returns the UTF-8 form of GBK bytes. Throws qadj::EConvertError on bytes that are
// not valid GBK.
QADJ_PLATFORM_API std::string gbkToUtf8(std::string_view gbk);
// Returns the GBK form of UTF-8 text. Throws qadj::EConvertError on invalid UTF-8 or
// characters that GBK cannot hold.
QADJ_PLATFORM_API std::string utf8ToGbk(std::string_view utf8);
// Appends the GBK form of UTF-8 text to out and returns true, as utf8ToGbk converts
// it; returns false, with out as it was, when the text is not well-formed UTF-8 or
// holds a character GBK cannot hold (utf8ToGbk then throws). Looks each character up
// in a table made from iconv's own mapping (a page of 256 characters at its first
// use), so that many short texts cost no more than one long one. Thread-safe.
QADJ_PLATFORM_API bool appendUtf8AsGbk(std::string_view utf8, std::string& out);
// The same written in place: the GBK form of utf8 at to, which has room for
// utf8.size() bytes (GBK never takes more bytes than UTF-8). Returns the bytes
// written, or std::nullopt (to then holds some bytes of no meaning) where
// appendUtf8AsGbk returns false.
QADJ_PLATFORM_API std::optional<std::size_t> writeUtf8AsGbk(std::string_view utf8, char* to);
QADJ_PLATFORM_API std::u16string gbkToUtf16(std::string_view gbk);
QADJ_PLATFORM_API std::string utf16ToGbk(std::u16string_view utf16);
QADJ_PLATFORM_API std::u16string utf8ToUtf16(std::string_view utf8);
QADJ_PLATFORM_API std::string utf16ToUtf8(std::u16string_view utf16);

// Lenient forms: invalid input never throws; each bad character (a cut double-byte
// character, one the target cannot hold) becomes '?', or U+FFFD in UTF-16.
QADJ_PLATFORM_API std::string gbkToUtf8Lossy(std::string_view gbk);
QADJ_PLATFORM_API std::string utf8ToGbkLossy(std::string_view utf8);
QADJ_PLATFORM_API std::u16string gbkToUtf16Lossy(std::string_view gbk);
QADJ_PLATFORM_API std::string utf16ToGbkLossy(std::u16string_view utf16);

// True when gbk is a well-formed GBK byte string.
QADJ_PLATFORM_API bool isValidGbk(std::string_view gbk);

// Length in bytes of the GBK character starting at gbk[pos]: 2 for a lead byte
// (0x81..0xFE) followed by a byte, else 1. pos must be < gbk.size().
QADJ_PLATFORM_API std::size_t gbkCharLength(std::string_view gbk, std::size_t pos);

// Byte offset of the last GBK character of a non-empty text (a double-byte
// character counts as one). Returns npos for an empty text.
QADJ_PLATFORM_API std::size_t gbkLastCharOffset(std::string_view gbk);

// True when a and b are equal ignoring the case of ASCII letters; other bytes (GBK
// among them) compare exactly. Names, keywords and identifiers compare this way.
QADJ_PLATFORM_API bool asciiEqualsNoCase(std::string_view a, std::string_view b);

// The value 0..15 of a hexadecimal digit (either case), or -1 for any other character.
QADJ_PLATFORM_API int hexDigitValue(char c);

}  // namespace qadj::text
