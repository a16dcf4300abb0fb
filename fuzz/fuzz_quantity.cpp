// Quantities from what an operator types: any text is a number or no number; a number
// rounds to a quantity within half a hundredth of it (or none, beyond the range), whose
// texts read back as the same quantity; the window's adjustment is that quantity.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/platform/error.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/quantity.h"
#include "qadj/protocol/save_request.h"
#include "qadj/window/numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qadj::Quantity;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto value = qadj::numbers::parseDecimal(text);
  if (!value || !std::isfinite(*value)) return 0;
  const auto q = Quantity::round(*value);
  if (!q) {
    FUZZ_CHECK(std::fabs(*value) >= 999999999999.99);
    try {
      (void)qadj::window::adjustmentQuantity(*value);
      FUZZ_CHECK(false);
    } catch (const qadj::EConvertError&) {
    }
    return 0;
  }
  FUZZ_CHECK(std::fabs(q->value() - *value) <= 0.005 + std::fabs(*value) * 1e-15);
  FUZZ_CHECK(Quantity::round(*qadj::numbers::parseDecimal(q->text())) == q);
  FUZZ_CHECK(Quantity::round(*qadj::numbers::parseDecimal(q->twoDecimals())) == q);
  FUZZ_CHECK(qadj::window::adjustmentQuantity(*value) == *q);
  FUZZ_CHECK(!qadj::overAdjustable(q->hundredths(), *value));
  FUZZ_CHECK(qadj::overAdjustable(q->hundredths() + 1, *value));
  return 0;
}
