#include "qadj/settings/setting_value.h"

#include <limits>

#include "qadj/platform/text.h"

namespace qadj {
namespace {

std::optional<std::int32_t> parseHex(std::string_view digits) {
  std::uint64_t value = 0;
  for (char c : digits) {
    const int d = text::hexDigitValue(c);
    if (d < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(d);
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::optional<std::int32_t> parseDecimal(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  const std::int64_t limit =
      negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
               : std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

std::optional<std::int32_t> parseSettingInt(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return parseHex(text.substr(2));
  }
  return parseDecimal(text);
}

std::int32_t settingIntOr(std::string_view text, std::int32_t fallback) {
  return parseSettingInt(text).value_or(fallback);
}

}  // namespace qadj
