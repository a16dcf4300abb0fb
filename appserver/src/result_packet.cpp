#include "qadj/appserver/result_packet.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "qadj/platform/error.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/text.h"

namespace qadj::appserver {
namespace {

std::string where(std::string_view column, std::size_t row) {
  return "column " + std::string(column) + ", row " + std::to_string(row + 1);
}

// The GBK form of a text that the table of text::writeUtf8AsGbk does not hold: iconv
// may. Throws ServerError naming the column and row (0-based) of a text GBK cannot hold.
std::string gbkBeyondTable(std::string_view utf8, std::string_view column, std::size_t row) {
  try {
    return text::utf8ToGbk(utf8);
  } catch (const qadj::Exception&) {
    throw ServerError(where(column, row) + ": the text cannot be represented in GBK");
  }
}

// The number a text of a number column reads as (SQLite keeps any value in any column).
// Throws ServerError naming the column and row of a text that is no number.
double numberOf(std::string_view s, std::string_view column, std::size_t row) {
  const auto number = numbers::parseDecimal(s);
  if (!number) throw ServerError(where(column, row) + ": '" + std::string(s) + "' is not a number");
  return *number;
}

const char* typeName(ColumnKind k) {
  switch (k) {
    case ColumnKind::Text:
      return "String";
    case ColumnKind::Number:
      return "Float";
    case ColumnKind::Date:
      return "Date";
    case ColumnKind::DateTime:
      return "DateTime";
  }
  return "String";
}

}  // namespace

FetchResult resetResult() {
  FetchResult result;
  result.packet = packet::encode(packet::Packet{});
  return result;
}

PacketEncoder::PacketEncoder(std::vector<PacketColumn> columns, std::int32_t maxRows,
                             std::size_t expectedBytes)
    : columns_(std::move(columns)),
      maxRows_(maxRows),
      expectedBytes_(expectedBytes),
      widths_(columns_.size()),
      last_(columns_.size()) {}

void PacketEncoder::columns(const std::vector<ResultColumn>& result) {
  assert(result.size() == columns_.size() && !writer_);
  packet::Packet head;
  head.noResetCall = true;
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    const bool text = columns_[c].kind == ColumnKind::Text;
    widths_[c] = text ? std::max(result[c].width, 1) : 0;
    head.columns.push_back(
        {std::string(columns_[c].name), typeName(columns_[c].kind), widths_[c], false});
  }
  writer_.emplace(head, expectedBytes_);
}

void PacketEncoder::text(std::size_t c, std::string_view utf8) {
  LastText& last = last_[c];
  // The common case of a detail: the same text as the row above.
  if (last.repeats() && last.written) {
    if (last.utf8 == utf8) {
      writer_->repeatText(last.gbk);
      last.changes = 0;
      return;
    }
    ++last.changes;
  }
  // Converted straight into the packet, as a rule; through iconv where the table
  // does not hold a character.
  if (const auto n = text::writeUtf8AsGbk(utf8, writer_->textRoom(utf8.size())))
    last.gbk = writer_->commitText(*n);
  else
    last.gbk = writer_->text(gbkBeyondTable(utf8, columns_[c].name, rowsRead_ - 1));
  if (last.repeats()) last.utf8.assign(utf8);
  last.written = true;
  widths_[c] = std::max(widths_[c], static_cast<std::int32_t>(last.gbk.length));
}

void PacketEncoder::row(std::span<const CellView> values) {
  assert(writer_ && values.size() == columns_.size());
  ++rowsRead_;
  if (maxRows_ >= 0 && rowsSent_ >= maxRows_) return;  // read, not sent
  for (std::size_t c = 0; c < values.size(); ++c) {
    const bool textColumn = columns_[c].kind == ColumnKind::Text;
    if (const auto* s = std::get_if<std::string_view>(&values[c])) {
      if (textColumn)
        text(c, *s);
      else
        writer_->number(numberOf(*s, columns_[c].name, rowsRead_ - 1));
    } else if (const auto* d = std::get_if<double>(&values[c])) {
      if (textColumn)
        text(c, numbers::formatGeneral(*d));
      else
        writer_->number(*d);
    } else {
      writer_->null();
    }
  }
  ++rowsSent_;
}

FetchResult PacketEncoder::finish() {
  assert(writer_);
  for (std::size_t c = 0; c < columns_.size(); ++c)
    if (columns_[c].kind == ColumnKind::Text) writer_->setWidth(c, widths_[c]);
  FetchResult result;
  result.recordsSent = rowsSent_;
  result.packet = writer_->finish();
  return result;
}

}  // namespace qadj::appserver
