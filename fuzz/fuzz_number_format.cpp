// Footer number formats: any format text with any value and separators formats
// without throwing; the general form reads back to the value at 15 digits.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/platform/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Layout: 8 bytes of double, 2 separator bytes, then the format text.
  if (size < 10) return 0;
  double value;
  std::memcpy(&value, data, sizeof value);
  qadj::numbers::FormatSettings settings;
  settings.decimalSeparator = static_cast<char>(data[8]);
  settings.thousandSeparator = static_cast<char>(data[9]);
  const std::string_view format(reinterpret_cast<const char*>(data) + 10, size - 10);

  (void)qadj::numbers::formatFloat(format, value, settings);
  (void)qadj::numbers::formatFloat(format, static_cast<long double>(value) * 1e300L, settings);

  const std::string general = qadj::numbers::formatGeneral(value);
  FUZZ_CHECK(!general.empty());
  if (std::isfinite(value)) {
    // Read back wider than a double: 15 digits of the largest doubles round beyond it.
    const long double back = std::strtold(general.c_str(), nullptr);
    FUZZ_CHECK(std::fabs(back - value) <= std::fabs(static_cast<long double>(value)) * 1e-14L);
  }
  return 0;
}
