#include "qadj/platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
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

// The GBK form of each character of the Basic Multilingual Plane, as iconv writes it,
// made a page of 256 characters at a time when a text first needs one. Characters
// beyond that plane, like the surrogates, have no GBK form.
class GbkTable {
 public:
  // The GBK bytes of code point cp (< 0x10000) in code, their count in length (0 when
  // GBK cannot hold it).
  struct Entry {
    std::uint16_t code;  // first byte in the high half for two bytes
    std::uint8_t length;
  };
  Entry at(std::uint32_t cp) {
    const std::uint32_t page = cp >> 8;
    // std::call_once costs a call and thread-local set-up each time: a made page is
    // told by its flag alone.
    if (!ready_[page].load(std::memory_order_acquire)) {
      std::call_once(made_[page], [&] { make(page); });
      ready_[page].store(true, std::memory_order_release);
    }
    return entries_[cp];
  }

 private:
  void make(std::uint32_t page) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    for (std::uint32_t cp = page << 8; cp < (page + 1) << 8; ++cp) {
      Entry& e = entries_[cp];
      e = {0, 0};
      if (cp < 0x80) {
        e = {static_cast<std::uint16_t>(cp), 1};
        continue;
      }
      if ((cp >= 0xD800 && cp <= 0xDFFF) || cd == reinterpret_cast<iconv_t>(-1)) continue;
      char utf8[3];
      std::size_t inLeft = 2;
      if (cp < 0x800) {
        utf8[0] = static_cast<char>(0xC0 | (cp >> 6));
        utf8[1] = static_cast<char>(0x80 | (cp & 0x3F));
      } else {
        utf8[0] = static_cast<char>(0xE0 | (cp >> 12));
        utf8[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8[2] = static_cast<char>(0x80 | (cp & 0x3F));
        inLeft = 3;
      }
      unsigned char gbk[8];
      char* in = utf8;
      char* out = reinterpret_cast<char*>(gbk);
      std::size_t outLeft = sizeof gbk;
      if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        continue;
      }
      const std::size_t n = sizeof gbk - outLeft;
      if (n == 1) e = {gbk[0], 1};
      if (n == 2) e = {static_cast<std::uint16_t>(gbk[0] << 8 | gbk[1]), 2};
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }

  std::array<std::once_flag, 256> made_;
  std::array<std::atomic<bool>, 256> ready_{};  // made_ has run for the page
  std::array<Entry, 0x10000> entries_;
};

GbkTable& gbkTable() {
  static GbkTable table;
  return table;
}

// The code point of the well-formed UTF-8 sequence of two or three bytes at s[i]
// (advancing i past it), or 0 for anything else: a stray or overlong byte, a
// surrogate, a cut sequence, a character beyond the Basic Multilingual Plane.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const auto follows = [&](std::size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
  const unsigned lead = byte(i);
  if (lead >= 0xC2 && lead <= 0xDF && follows(i + 1)) {
    const std::uint32_t cp = (lead & 0x1F) << 6 | (byte(i + 1) & 0x3F);
    i += 2;
    return cp;
  }
  if (lead >= 0xE0 && lead <= 0xEF && follows(i + 1) && follows(i + 2)) {
    const std::uint32_t cp = (lead & 0x0F) << 12 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
    if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    i += 3;
    return cp;
  }
  return 0;
}

}  // namespace

std::optional<std::size_t> writeUtf8AsGbk(std::string_view utf8, char* to) {
  char* const start = to;
  std::size_t i = 0;
  while (i < utf8.size()) {
    // Codes and numbers are ASCII: eight bytes at a time while they are.
    if (i + 8 <= utf8.size()) {
      std::uint64_t eight;
      std::memcpy(&eight, utf8.data() + i, 8);
      if ((eight & 0x8080808080808080u) == 0) {
        std::memcpy(to, &eight, 8);
        to += 8;
        i += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      *to++ = utf8[i++];
      continue;
    }
    const std::uint32_t cp = nextCodePoint(utf8, i);
    const GbkTable::Entry e = cp ? gbkTable().at(cp) : GbkTable::Entry{0, 0};
    if (e.length == 0) return std::nullopt;
    if (e.length == 2) *to++ = static_cast<char>(e.code >> 8);
    *to++ = static_cast<char>(e.code & 0xFF);
  }
  return static_cast<std::size_t>(to - start);
}

bool appendUtf8AsGbk(std::string_view utf8, std::string& out) {
  const std::size_t kept = out.size();
  out.resize(kept + utf8.size());
  const auto written = writeUtf8AsGbk(utf8, out.data() + kept);
  out.resize(kept + written.value_or(0));
  return written.has_value();
}

std::string gbkToUtf8(std::string_view gbk) {
  return convert<std::string>("UTF-8", "GBK", gbk.data(), gbk.size(), false, 1);
}
std::string utf8ToGbk(std::string_view utf8) {
  std::string out;
  if (appendUtf8AsGbk(utf8, out)) return out;
  // What the table does not hold: iconv converts it or says why.
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
