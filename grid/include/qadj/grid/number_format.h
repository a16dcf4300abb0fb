// Number formatting in the section syntax used by footer formats: "pos;neg;zero".
// A section holds digit placeholders ("0" always shows a digit, "#" only a
// significant one), one decimal point ".", a thousands separator ",", an exponent
// "E+"/"E-"/"e+"/"e-" followed by placeholders, quoted literals ('...' or "...") and
// any other characters as literals. The negative section shows the value without
// its own sign (the section carries it); without a negative section the first is used
// with a leading "-". The zero section, if present, is used for values that round to
// zero.
#pragma once

#include <string>
#include <string_view>

namespace qadj::grid {

struct NumberFormatSettings {
  char decimalSeparator = '.';
  char thousandSeparator = ',';
};

// Returns value formatted with format. An empty format gives the general form with up
// to 15 significant digits. Halfway cases are rounded away from zero. Never throws.
std::string formatFloat(std::string_view format, long double value,
                        const NumberFormatSettings& settings = {});

// Returns value in general notation: up to 15 significant digits, no trailing zeros
// ("2.5", "10", "-0.125", "1E20"). Never throws.
std::string formatGeneral(double value, char decimalSeparator = '.');

}  // namespace qadj::grid
