#include "qadj/platform/quantity.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "qadj/platform/number_text.h"

namespace qadj {

std::optional<Quantity> Quantity::ofHundredths(std::int64_t hundredths) {
  if (hundredths > kMostHundredths || hundredths < -kMostHundredths) return std::nullopt;
  return Quantity(hundredths);
}

std::optional<Quantity> Quantity::round(double value) {
  // Beyond this the result is out of range whatever the rounding; below it the fixed
  // text below has at most 12 digits before the point.
  if (!std::isfinite(value) || std::fabs(value) >= 1e12) return std::nullopt;
  // The shortest fixed-point text that reads back as value: the decimal the operator
  // typed or a grid shows, not the binary fraction behind it. A subnormal needs some
  // 330 digits after the point.
  char buf[400];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  if (ec != std::errc()) return std::nullopt;
  const std::string_view text(buf, static_cast<std::size_t>(end - buf));
  std::size_t i = text.front() == '-' ? 1 : 0;
  std::int64_t units = 0;
  while (i < text.size() && text[i] != '.') units = units * 10 + (text[i++] - '0');
  const auto fraction = [&](std::size_t k) -> int {
    const std::size_t at = i + 1 + k;
    return at < text.size() ? text[at] - '0' : 0;
  };
  std::int64_t magnitude = units * 100 + fraction(0) * 10 + fraction(1);
  if (fraction(2) >= 5) ++magnitude;  // half away from zero: the magnitude goes up
  return ofHundredths(text.front() == '-' ? -magnitude : magnitude);
}

std::string Quantity::text() const {
  return numbers::formatGeneral(value());
}

std::string Quantity::twoDecimals() const {
  return numbers::formatFloat("0.00", value());
}

}  // namespace qadj
