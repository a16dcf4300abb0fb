// The window's quantities: the adjustments a save sends, in hundredths (the limit their
// total is checked against is the save's own rule, overAdjustable).
#pragma once

#include <cstdint>

#include "qadj/platform/quantity.h"

namespace qadj::window {

// An adjustment as a save sends it: rounded to hundredths (Quantity::round). Throws
// EConvertError, naming the value, when no quota line could hold it (not finite, or
// beyond Quantity::kMostHundredths).
Quantity adjustmentQuantity(double value);

}  // namespace qadj::window
