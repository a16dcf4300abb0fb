// The cap on one query's result, counted while the rows are read so that a query
// returning too much fails before it exhausts the server's memory.
#include <string>

#include "qadj/appserver/database.h"
#include "qadj/com/com.h"

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

ReplyMemoryFull::ReplyMemoryFull()
    : std::runtime_error("应用服务器待发送的回复已达内存上限，本次查询未执行完；请稍后重试") {}

void Database::ResultBudget::add(const std::vector<Cell>& row) {
  std::size_t counted = 0, held = row.size() * sizeof(Cell);
  for (const auto& cell : row) {
    if (const auto* s = std::get_if<std::string>(&cell)) {
      if (s->size() > kMaxTextValueBytes) throw ResultTooLarge(kMaxTextValueBytes);
      counted += s->size();
      held += s->capacity() > 15 ? s->capacity() : 0;  // beyond the short-string buffer
    } else if (std::holds_alternative<double>(cell)) {
      counted += sizeof(double);
    }
  }
  used_ += counted;
  if (limit_ != 0 && used_ > limit_) throw ResultTooLarge(limit_);
  if (!com::ChargeCallMemory(held)) throw ReplyMemoryFull();
}

}  // namespace qadj::appserver
