// What the server recognises in the statements it is sent: an UPDATE of one quota
// line in the shape the window writes, and a save (a block of such updates: the
// receivers' increments, then the giver's decrement) as one transfer of quota.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qadj/appserver/sql_text.h"

namespace qadj::appserver {

// UPDATE XSTXLGL01 SET XL0000=XL0000{+|-}AMOUNT WHERE DHAO00='..' AND FXRY00='..'
// AND SPDM00='..' (letter case and blanks free, the three conditions in any order, the
// amount a number with an optional sign, optionally in parentheses).
struct QuotaLineUpdate {
  std::string document, salesperson, product;  // UTF-8, '' read as one quote
  bool subtracts = false;                      // XL0000-AMOUNT
  double amount = 0;                           // as written, with its own sign
  // The change of XL0000: amount, negated for a subtraction.
  double delta() const { return subtracts ? -amount : amount; }
};

// The update a statement stands for, or nullopt when it is not of that shape (or
// cannot be read). Never throws (but std::bad_alloc).
std::optional<QuotaLineUpdate> parseQuotaLineUpdate(std::string_view statement);
// The same of a statement already read into its tokens.
std::optional<QuotaLineUpdate> parseQuotaLineUpdate(const std::vector<sql::Token>& tokens);

// A save: one or more quota line updates of one document and product, every one
// but the last adding an amount for a receiver, the last subtracting the total from
// the giver.
struct Transfer {
  std::string document, product, giver;
  std::vector<std::pair<std::string, double>> receivers;  // salesperson, amount; block order
  double total = 0;  // what the giver gives (the decrement's amount)
};

// The quota line update of every statement of a block, in order; nullopt for a
// statement of another shape. Never throws (but std::bad_alloc).
using QuotaLineUpdates = std::vector<std::optional<QuotaLineUpdate>>;
QuotaLineUpdates parseQuotaLineUpdates(const std::vector<std::string>& statements);
QuotaLineUpdates parseQuotaLineUpdates(const std::vector<sql::Statement>& statements);

// The transfer that a block's statements (parsed as above) stand for, or nullopt when
// they are not a save of the window's shape. Never throws (but std::bad_alloc).
std::optional<Transfer> recogniseTransfer(const QuotaLineUpdates& lines);
std::optional<Transfer> recogniseTransfer(const std::vector<std::string>& statements);

}  // namespace qadj::appserver
