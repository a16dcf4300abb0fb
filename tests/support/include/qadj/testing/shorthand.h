// The two values tests write most, in short: a text in GBK (the window's encoding)
// from UTF-8 source text, and a quantity held as the window holds what an operator
// types (rounded to hundredths; the value must be one a quantity can hold).
#pragma once

#include <cassert>
#include <string>

#include "qadj/platform/quantity.h"
#include "qadj/platform/text.h"

namespace qadj::testing {

inline std::string gbk(const char* utf8) {
  return text::utf8ToGbk(utf8);
}

inline Quantity q(double value) {
  const auto held = Quantity::round(value);
  assert(held);
  return *held;
}

}  // namespace qadj::testing
