#include "qadj/platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>

#include "qadj/platform/error.h"

namespace qadj::text {
namespace {

// Bytes of the input character at in that the lossy form replaces by one '?': a
// whole well-formed UTF-8 sequence or UTF-16 surrogate pair (a character the target
// cannot hold), else one unit.
std::size_t badCharLength(const char* from, const char* in, std::size_t left, std::size_t unit) {
  const std::string_view enc(from);
  if (enc == "UTF-8") {
    const auto lead = static_cast<unsigned char>(in[0]);
    const std::size_t len = lead >= 0xF0 && lead <= 0xF4   ? 4
                            : lead >= 0xE0 && lead <= 0xEF ? 3
                            : lead >= 0xC2 && lead <= 0xDF ? 2
                                                           : 1;
    if (len > left) return 1;
    for (std::size_t i = 1; i < len; ++i) {
      if ((static_cast<unsigned char>(in[i]) & 0xC0) != 0x80) return 1;
    }
    return len;
  }
  if (enc == "UTF-16LE" && left >= 4) {
    const auto hi = static_cast<unsigned char>(in[1]);
    const auto hi2 = static_cast<unsigned char>(in[3]);
    if (hi >= 0xD8 && hi <= 0xDB && hi2 >= 0xDC && hi2 <= 0xDF) return 4;
  }
  return std::min(left, unit);
}

// One conversion with glibc's iconv. On invalid input: throw, or (lossy) put '?'
// for each bad character and go on.
template <class Out>
Out convert(const char* to, const char* from, const char* in, std::size_t inBytes, bool lossy,
            std::size_t unit) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw EConvertError("text conversion unavailable");
  Out out;
  std::string buffer(inBytes * 4 + 16, '\0');
  char* src = const_cast<char*>(in);
  std::size_t srcLeft = inBytes;
  std::string produced;
  while (true) {
    char* dst = buffer.data();
    std::size_t dstLeft = buffer.size();
    std::size_t rc = iconv(cd, srcLeft ? &src : nullptr, &srcLeft, &dst, &dstLeft);
    produced.append(buffer.data(), buffer.size() - dstLeft);
    if (rc != static_cast<std::size_t>(-1)) {
      if (srcLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) continue;
    if (!lossy) {
      iconv_close(cd);
      throw EConvertError(std::string("invalid text for conversion from ") + from);
    }
    // Skip the bad input character and mark it.
    const std::size_t skip = badCharLength(from, src, srcLeft, unit);
    src += skip;
    srcLeft -= skip;
    if (std::string_view(to).starts_with("UTF-16")) {
      produced.append("?\0", 2);
    } else {
      produced.push_back('?');
    }
    if (srcLeft == 0) break;
  }
  iconv_close(cd);
  if constexpr (std::is_same_v<Out, std::u16string>) {
    out.resize(produced.size() / 2);
    std::memcpy(out.data(), produced.data(), out.size() * 2);
  } else {
    out = std::move(produced);
  }
  return out;
}

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
  return convert<std::string>("UTF-8", "GBK", gbk.data(), gbk.size(), false, 1);
}
std::string utf8ToGbk(std::string_view utf8) {
  return convert<std::string>("GBK", "UTF-8", utf8.data(), utf8.size(), false, 1);
}
std::u16string gbkToUtf16(std::string_view gbk) {
  return convert<std::u16string>("UTF-16LE", "GBK", gbk.data(), gbk.size(), false, 1);
}
std::string utf16ToGbk(std::u16string_view utf16) {
  return convert<std::string>("GBK", "UTF-16LE", reinterpret_cast<const char*>(utf16.data()),
                              utf16.size() * 2, false, 2);
}
std::u16string utf8ToUtf16(std::string_view utf8) {
  return convert<std::u16string>("UTF-16LE", "UTF-8", utf8.data(), utf8.size(), false, 1);
}
std::string utf16ToUtf8(std::u16string_view utf16) {
  return convert<std::string>("UTF-8", "UTF-16LE", reinterpret_cast<const char*>(utf16.data()),
                              utf16.size() * 2, false, 2);
}
std::string gbkToUtf8Lossy(std::string_view gbk) {
  return convert<std::string>("UTF-8", "GBK", gbk.data(), gbk.size(), true, 1);
}
std::string utf8ToGbkLossy(std::string_view utf8) {
  return convert<std::string>("GBK", "UTF-8", utf8.data(), utf8.size(), true, 1);
}

bool isValidGbk(std::string_view gbk) {
  try {
    (void)gbkToUtf16(gbk);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

std::size_t gbkCharLength(std::string_view gbk, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(gbk[pos]);
  return (lead >= 0x81 && lead <= 0xFE && pos + 1 < gbk.size()) ? 2 : 1;
}

std::size_t gbkLastCharOffset(std::string_view gbk) {
  std::size_t pos = 0, last = std::string_view::npos;
  while (pos < gbk.size()) {
    last = pos;
    pos += gbkCharLength(gbk, pos);
  }
  return last;
}

}  // namespace qadj::text
