// A save as the window sends it, for the tests that play operators.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qadj::testing {

// The save block of tbokClick: one increment per receiver (code, amount), each amount
// rounded to hundredths as the window rounds it, then the giver's decrement by their
// exact sum; one document and product. Texts GBK. The amounts must be within a
// quantity's range.
std::string windowSave(std::string_view document, std::string_view product, std::string_view giver,
                       const std::vector<std::pair<std::string, double>>& receivers);

}  // namespace qadj::testing
