// Number texts of the window: the footer total read back as a number, and the
// amounts written into statements.
#pragma once

#include <string>
#include <string_view>

namespace qadj::window {

// The number a text stands for ("." as decimal separator; blanks around it
// ignored). Throws EConvertError "'<text>' is not a valid floating point value".
double strToFloat(std::string_view gbkText);

// An adjustment as its statement writes it: rounded to cents (the precision of the
// footer total that the giver's decrement uses), then in general form: 5, 2.5, -1.
std::string adjustmentText(double value);
// A value rounded to cents, as the footer total counts it.
double roundToCents(double value);

}  // namespace qadj::window
