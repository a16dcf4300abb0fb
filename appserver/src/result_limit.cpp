// The cap on one query's result, counted while the rows are read so that a query
// returning too much fails before it exhausts the server's memory.
#include <string>

#include "qadj/appserver/database.h"

namespace qadj::appserver {
namespace {

std::string limitText(std::size_t bytes) {
  if (bytes >= (std::size_t{1} << 20) && bytes % (std::size_t{1} << 20) == 0)
    return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

ResultTooLarge::ResultTooLarge(std::size_t limitBytes)
    : std::runtime_error("the result of the query exceeds " + limitText(limitBytes) +
                         "; narrow the query") {}

void Database::ResultBudget::add(const std::vector<Cell>& row) {
  if (limit_ == 0) return;
  for (const auto& cell : row) {
    if (const auto* s = std::get_if<std::string>(&cell))
      used_ += s->size();
    else if (std::holds_alternative<double>(cell))
      used_ += sizeof(double);
  }
  if (used_ > limit_) throw ResultTooLarge(limit_);
}

}  // namespace qadj::appserver
