// A save as the server carries it out: the quota lines a matched command changes, read
// as one transfer of quota from a giver to receivers.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "qadj/platform/quantity.h"
#include "qadj/protocol/statements.h"

namespace qadj::appserver {

// One quota line and how much a statement changes it (an increment's amount, or the
// negated total of a decrement). Codes are UTF-8.
struct QuotaLineChange {
  std::string document, salesperson, product;
  Quantity change;
};

// A save: one document and one product; the receivers' increments, then the giver's
// decrement. A lone increment is a transfer to one receiver from no giver, a lone
// decrement one from the giver to nobody.
struct Transfer {
  std::string document, product;
  std::string giver;                                        // empty: no decrement
  std::vector<std::pair<std::string, Quantity>> receivers;  // in the order sent
  Quantity total;                      // what the giver gives (the decrement's total)
  std::vector<QuotaLineChange> lines;  // every statement's line, in the order sent
};

// The transfer a command (as statements::matchCommand reads it) stands for. A block
// must be one transfer: every line of one document and one product, no receiver who is
// also the giver, and the receivers' amounts adding up to the giver's total, to the
// hundredth. Throws ServerError naming what does not hold (in the window's language:
// the window's own saves always hold, so an operator meets it only for a stale
// product), nothing having been run.
Transfer transferOf(const statements::Command& command);

}  // namespace qadj::appserver
