// Number texts of the window: the footer total read back as a number, and the
// adjustments a save sends.
#pragma once

#include <string_view>

#include "qadj/platform/quantity.h"

namespace qadj::window {

// The number a text stands for ("." as decimal separator; blanks around it
// ignored). Throws EConvertError "'<text>' is not a valid floating point value".
double strToFloat(std::string_view gbkText);

// An adjustment as a save sends it: rounded to hundredths (Quantity::round). Throws
// EConvertError, naming the value, when no quota line could hold it (not finite, or
// beyond Quantity::kMostHundredths).
Quantity adjustmentQuantity(double value);

}  // namespace qadj::window
