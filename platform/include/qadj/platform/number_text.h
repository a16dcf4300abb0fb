// Numbers as text, for the whole system: the general decimal form, the section formats
// of the footers ("0.00;-0.00") and the reading of decimal text. Independent of the
// process locale.
//
// Section syntax "pos;neg;zero": a section holds digit placeholders ("0" always shows a
// digit, "#" only a significant one), one decimal point ".", a thousands separator ",",
// an exponent "E+"/"E-"/"e+"/"e-" followed by placeholders, quoted literals ('...' or
// "...") and any other characters as literals. The negative section shows the value
// without its own sign (the section carries it); without a negative section the first
// is used with a leading "-". The zero section, if present, is used for values that
// round to zero.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "qadj/platform/export.h"

namespace qadj::numbers {

struct FormatSettings {
  char decimalSeparator = '.';
  char thousandSeparator = ',';
};

// Returns value formatted with format. An empty format gives the general form with up
// to 15 significant digits. Halfway cases are rounded away from zero. Never throws.
QADJ_PLATFORM_API std::string formatFloat(std::string_view format, long double value,
                                          const FormatSettings& settings = {});

// Returns value in general notation: up to 15 significant digits, no trailing zeros
// ("2.5", "10", "-0.125", "1E20"). Never throws.
QADJ_PLATFORM_API std::string formatGeneral(double value, char decimalSeparator = '.');

// The number a decimal text stands for: blanks around it, an optional sign, digits with
// an optional ".", an optional exponent ("1e3", "1E-2"). A magnitude beyond a double's
// range reads as infinity (or zero, when it is too small). nullopt for any other text
// (empty, "0x10", "1,5", "nan", "inf", "1e"). Never throws.
QADJ_PLATFORM_API std::optional<double> parseDecimal(std::string_view text);

}  // namespace qadj::numbers
