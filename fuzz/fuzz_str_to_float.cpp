// The window's number texts: any text is a finite number or EConvertError; an
// adjustment written into a statement reads back as the value rounded to cents.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/platform/error.h"
#include "qadj/window/numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  double value = 0;
  try {
    value = qadj::window::strToFloat(text);
  } catch (const qadj::EConvertError&) {
    return 0;
  }
  FUZZ_CHECK(std::isfinite(value));
  const double cents = qadj::window::roundToCents(value);
  if (!std::isfinite(cents)) return 0;  // beyond the range of a scaled double
  const double back = qadj::window::strToFloat(qadj::window::adjustmentText(value));
  FUZZ_CHECK(back == cents || std::fabs(back - cents) <= std::fabs(cents) * 1e-14);
  return 0;
}
