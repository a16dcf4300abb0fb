// The server's reading of a save: splitting a BEGIN ... END; block never loses or
// invents a statement's text, the statements read from the block's tokens read as
// their texts do, a quota line update is read only from its shape, and a
// transfer is recognised only when its lines agree (one document and product, the
// giver's decrement last, the total the sum given).
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/appserver/save_block.h"
#include "qadj/appserver/sql_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qadj::appserver;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // The text as one statement, and as a block.
  if (const auto line = parseQuotaLineUpdate(text)) {
    FUZZ_CHECK(std::isfinite(line->amount));
  }
  std::optional<std::vector<std::string>> block;
  try {
    block = sql::splitBlock(text);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  if (!block) return 0;
  std::size_t bytes = 0;
  for (const auto& statement : *block) {
    FUZZ_CHECK(!statement.empty());
    FUZZ_CHECK(text.find(statement) != std::string_view::npos);
    bytes += statement.size();
  }
  FUZZ_CHECK(bytes <= text.size());

  const auto lines = parseQuotaLineUpdates(*block);
  FUZZ_CHECK(lines.size() == block->size());
  // The server reads each statement from the block's own tokens: the same lines as
  // each statement's text read again.
  const auto readOnce = parseQuotaLineUpdates(sql::readCommand(text).statements);
  FUZZ_CHECK(readOnce.size() == lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    FUZZ_CHECK(readOnce[i].has_value() == lines[i].has_value());
    if (!lines[i]) continue;
    FUZZ_CHECK(readOnce[i]->document == lines[i]->document &&
               readOnce[i]->salesperson == lines[i]->salesperson &&
               readOnce[i]->product == lines[i]->product &&
               readOnce[i]->subtracts == lines[i]->subtracts &&
               readOnce[i]->amount == lines[i]->amount);
  }
  const auto transfer = recogniseTransfer(lines);
  if (!transfer) return 0;
  FUZZ_CHECK(transfer->receivers.size() + 1 == lines.size());
  for (const auto& line : lines) {
    FUZZ_CHECK(line.has_value());
    FUZZ_CHECK(line->document == transfer->document && line->product == transfer->product);
  }
  FUZZ_CHECK(lines.back()->salesperson == transfer->giver);
  FUZZ_CHECK(lines.back()->delta() < 0 || transfer->total <= 0);
  return 0;
}
