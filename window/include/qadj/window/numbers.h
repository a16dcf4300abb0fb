// The window's quantities: the adjustments a save sends, and the limit the total of
// them is checked against, both in hundredths.
#pragma once

#include <cstdint>

#include "qadj/platform/quantity.h"

namespace qadj::window {

// The adjustable quantity as the limit of a total in hundredths (Quantity::round).
// A limit no quantity can hold is above every total when it is positive or not a
// number (no total is greater than NaN), below every total when negative.
std::int64_t limitInHundredths(double adjustable);

// An adjustment as a save sends it: rounded to hundredths (Quantity::round). Throws
// EConvertError, naming the value, when no quota line could hold it (not finite, or
// beyond Quantity::kMostHundredths).
Quantity adjustmentQuantity(double value);

}  // namespace qadj::window
