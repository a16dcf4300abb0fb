#include "qadj/testing/window_save.h"

#include <cassert>

#include "qadj/protocol/statements.h"

namespace qadj::testing {

std::string windowSave(std::string_view document, std::string_view product, std::string_view giver,
                       const std::vector<std::pair<std::string, double>>& receivers) {
  std::vector<std::string> save;
  QuantitySum total;
  for (const auto& [code, amount] : receivers) {
    const auto q = Quantity::round(amount);
    assert(q);
    save.push_back(statements::increment(*q, document, code, product));
    total.add(*q);
  }
  save.push_back(statements::decrement(*total.quantity(), document, giver, product));
  return statements::block(save);
}

}  // namespace qadj::testing
