#include "qadj/window/numbers.h"

#include <charconv>
#include <cmath>

#include "qadj/grid/number_format.h"
#include "qadj/platform/error.h"

namespace qadj::window {

double strToFloat(std::string_view gbkText) {
  std::string_view t = gbkText;
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(value))
    throw EConvertError("'" + std::string(gbkText) + "' is not a valid floating point value");
  return value;
}

double roundToCents(double value) {
  return std::round(value * 100.0) / 100.0;
}

std::string adjustmentText(double value) {
  const double cents = roundToCents(value);
  return grid::formatGeneral(cents == 0 ? 0.0 : cents);
}

}  // namespace qadj::window
