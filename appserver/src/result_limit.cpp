// The cap on one query's result, counted while the rows are read so that a query
// returning too much fails before it exhausts the server's memory; and the rows handed
// over as they are read.
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

void Database::ResultBudget::add(std::span<const CellView> row) {
  std::size_t counted = 0, held = row.size() * sizeof(Cell);
  for (const auto& cell : row) {
    if (const auto* s = std::get_if<std::string_view>(&cell)) {
      if (s->size() > kMaxTextValueBytes) throw ResultTooLarge(kMaxTextValueBytes);
      counted += s->size();
      held += s->size() > 15 ? s->size() : 0;  // beyond a string's short buffer
    } else if (std::holds_alternative<double>(cell)) {
      counted += sizeof(double);
    }
  }
  used_ += counted;
  if (limit_ != 0 && used_ > limit_) throw ResultTooLarge(limit_);
  if (!com::ChargeCallMemory(held)) throw ReplyMemoryFull();
}

std::vector<CellView> viewsOf(const std::vector<Cell>& row) {
  std::vector<CellView> values(row.size());
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (const auto* s = std::get_if<std::string>(&row[i]))
      values[i] = std::string_view(*s);
    else if (const auto* d = std::get_if<double>(&row[i]))
      values[i] = *d;
  }
  return values;
}

void Database::RowCollector::row(std::span<const CellView> values) {
  std::vector<Cell>& held = rows_.emplace_back(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (const auto* s = std::get_if<std::string_view>(&values[i]))
      held[i] = std::string(*s);
    else if (const auto* d = std::get_if<double>(&values[i]))
      held[i] = *d;
  }
}

// A driver that reads its result whole hands it over from there.
void Database::queryInto(std::string_view sql, const std::vector<Cell>& params, RowReader& reader) {
  const ResultSet rs = query(sql, params);
  reader.columns(rs.columns);
  for (const auto& row : rs.rows) reader.row(viewsOf(row));
}

}  // namespace qadj::appserver
