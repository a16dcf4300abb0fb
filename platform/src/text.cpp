#include "qadj/platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <type_traits>
#include <vector>

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

// A conversion descriptor of this thread: opened at its first use and kept for the
// thread's life (opening one costs far more than most conversions).
struct Descriptor {
  const char* to;
  const char* from;
  iconv_t cd;
  bool clean;  // in the initial shift state (the last conversion through it succeeded)
};

// Returns this thread's descriptor from one encoding to another, in its initial state,
// marked not clean until the caller's conversion succeeds. Throws EConvertError when
// iconv has no such conversion.
Descriptor& descriptor(const char* to, const char* from) {
  struct Cache {
    std::vector<Descriptor> entries;
    ~Cache() {
      for (const Descriptor& e : entries) iconv_close(e.cd);
    }
  };
  thread_local Cache cache;
  for (Descriptor& e : cache.entries) {
    if (std::strcmp(e.to, to) == 0 && std::strcmp(e.from, from) == 0) {
      if (!e.clean) iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
      e.clean = false;
      return e;
    }
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw EConvertError("text conversion unavailable");
  cache.entries.push_back({to, from, cd, false});
  return cache.entries.back();
}

// Text of ASCII characters only is the same in GBK, UTF-8 and UTF-16 (each unit
// widened or narrowed): converts it without iconv. Returns false for any other text.
template <class Out>
bool convertAscii(const char* in, std::size_t inBytes, std::size_t unit, Out& out) {
  using Unit = typename Out::value_type;
  if (unit == 1) {
    for (std::size_t i = 0; i < inBytes; ++i)
      if (static_cast<unsigned char>(in[i]) >= 0x80) return false;
    out.resize(inBytes);
    for (std::size_t i = 0; i < inBytes; ++i) out[i] = static_cast<Unit>(in[i]);
    return true;
  }
  const std::size_t units = inBytes / 2;
  if (units * 2 != inBytes) return false;
  for (std::size_t i = 0; i < units; ++i)
    if (in[2 * i + 1] != 0 || static_cast<unsigned char>(in[2 * i]) >= 0x80) return false;
  out.resize(units);
  for (std::size_t i = 0; i < units; ++i) out[i] = static_cast<Unit>(in[2 * i]);
  return true;
}

// One conversion with glibc's iconv. On invalid input: throw, or (lossy) put a mark
// for each bad character and go on: U+FFFD in UTF-16, '?' in byte encodings.
template <class Out>
Out convert(const char* to, const char* from, const char* in, std::size_t inBytes, bool lossy,
            std::size_t unit) {
  Out out;
  const bool wideOut = std::is_same_v<Out, std::u16string>;
  if (convertAscii(in, inBytes, unit, out)) return out;
  Descriptor& d = descriptor(to, from);
  // Short texts are converted in a buffer on the stack, so that the result is the only
  // allocation (none for a short result).
  char small[256];
  std::string large;
  char* buf = small;
  std::size_t capacity = sizeof small;
  const auto grow = [&](std::size_t kept, std::size_t need) {
    if (buf == small) large.assign(small, kept);
    large.resize(need);
    buf = large.data();
    capacity = large.size();
  };
  // Room for twice the input: no conversion here more than doubles the bytes (lossy
  // marks aside); a longer result grows the buffer.
  if (inBytes * 2 + 16 > capacity) grow(0, inBytes * 2 + 16);
  std::size_t used = 0;
  char* src = const_cast<char*>(in);
  std::size_t srcLeft = inBytes;
  while (true) {
    char* dst = buf + used;
    std::size_t dstLeft = capacity - used;
    const std::size_t rc = iconv(d.cd, srcLeft ? &src : nullptr, &srcLeft, &dst, &dstLeft);
    used = capacity - dstLeft;
    if (rc != static_cast<std::size_t>(-1)) {
      if (srcLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) {
      grow(used, capacity * 2);
      continue;
    }
    if (!lossy) throw EConvertError(std::string("invalid text for conversion from ") + from);
    // Skip the bad input character and mark it.
    const std::size_t skip = badCharLength(from, src, srcLeft, unit);
    src += skip;
    srcLeft -= skip;
    if (capacity - used < 2) grow(used, capacity * 2);
    if (wideOut) {  // U+FFFD, the replacement character, little-endian
      buf[used++] = static_cast<char>(0xFD);
      buf[used++] = static_cast<char>(0xFF);
    } else {
      buf[used++] = '?';
    }
    if (srcLeft == 0) break;
  }
  d.clean = true;
  if constexpr (std::is_same_v<Out, std::u16string>) {
    out.resize(used / 2);
    std::memcpy(out.data(), buf, out.size() * 2);
  } else if (buf != small && used * 2 >= capacity) {
    large.resize(used);
    out = std::move(large);  // no copy of a large result that fills most of its buffer
  } else {
    out.assign(buf, used);
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
std::u16string gbkToUtf16Lossy(std::string_view gbk) {
  return convert<std::u16string>("UTF-16LE", "GBK", gbk.data(), gbk.size(), true, 1);
}
std::string utf16ToGbkLossy(std::u16string_view utf16) {
  return convert<std::string>("GBK", "UTF-16LE", reinterpret_cast<const char*>(utf16.data()),
                              utf16.size() * 2, true, 2);
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

bool asciiEqualsNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace qadj::text
