// Number text: any text is either refused or parsed; a parsed finite
// number, formatted in general form, parses back to the same value at 15 digits.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/platform/number_text.h"

namespace {

void checkRoundTrip(double value) {
  const std::string text = qadj::numbers::formatGeneral(value);
  FUZZ_CHECK(!text.empty());
  if (!std::isfinite(value)) return;
  const auto parsed = qadj::numbers::parseDecimal(text);
  FUZZ_CHECK(parsed.has_value());
  const double back = *parsed;
  // 15 digits of the largest doubles round beyond the range: infinity, same sign.
  if (std::isinf(back)) {
    FUZZ_CHECK(std::fabs(value) > 1.7976931348623e308 && (back < 0) == (value < 0));
    return;
  }
  FUZZ_CHECK(back == value || std::fabs(back - value) <= std::fabs(value) * 1e-14);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto parsed = qadj::numbers::parseDecimal(text)) checkRoundTrip(*parsed);
  if (size >= sizeof(double)) {
    double raw;
    std::memcpy(&raw, data, sizeof raw);
    checkRoundTrip(raw);
  }
  return 0;
}
