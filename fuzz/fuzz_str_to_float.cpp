// The window's number texts: any text is a finite number or EConvertError; an
// adjustment a save sends is the value rounded to hundredths, or EConvertError when no
// quota line could hold it.
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
  try {
    const qadj::Quantity q = qadj::window::adjustmentQuantity(value);
    // Within half a hundredth of the value, and its own text reads back as itself.
    FUZZ_CHECK(std::fabs(q.value() - value) <= 0.005 + std::fabs(value) * 1e-15);
    FUZZ_CHECK(qadj::window::strToFloat(q.text()) == q.value());
  } catch (const qadj::EConvertError&) {
    FUZZ_CHECK(std::fabs(value) >= 999999999999.99);
  }
  return 0;
}
