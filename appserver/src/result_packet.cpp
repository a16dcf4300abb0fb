#include "qadj/appserver/result_packet.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "qadj/platform/error.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/text.h"

namespace qadj::appserver {
namespace {

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string toGbk(const std::string& utf8, std::string_view column, std::size_t row) {
  if (isAscii(utf8)) return utf8;
  try {
    return text::utf8ToGbk(utf8);
  } catch (const qadj::Exception&) {
    throw ServerError("column " + std::string(column) + ", row " + std::to_string(row + 1) +
                      ": the text cannot be represented in GBK");
  }
}

// A cell as its packet column's kind wants it: a number of a text column in general
// form, the text of a number column read as a number (SQLite keeps any value in any
// column). Throws ServerError naming the column and row of a text that is no number.
Cell asKind(const Cell& cell, const PacketColumn& column, std::size_t row) {
  if (const auto* d = std::get_if<double>(&cell))
    return column.kind == ColumnKind::Text ? Cell(numbers::formatGeneral(*d)) : cell;
  const auto* s = std::get_if<std::string>(&cell);
  if (!s || column.kind == ColumnKind::Text) return cell;
  const auto number = numbers::parseDecimal(*s);
  if (!number)
    throw ServerError("column " + std::string(column.name) + ", row " + std::to_string(row + 1) +
                      ": '" + *s + "' is not a number");
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

std::size_t rowsToSend(const ResultSet& rs, std::int32_t maxRows) {
  return maxRows < 0 ? rs.rows.size() : std::min(rs.rows.size(), static_cast<std::size_t>(maxRows));
}

// How each text cell of a result gets its GBK form: the one above it in its column when
// equal (the product of a detail query), itself when plain ASCII, else converted. The
// converted ones go through iconv in one call, since a call costs far more than the
// characters it converts: joined with NUL, which GBK writes as one zero byte and uses
// in no other character.
class GbkTexts {
 public:
  enum How : std::uint8_t { kNotText, kAsAbove, kAscii, kConverted };

  // Plans the first rows rows of rs; textColumn tells the text columns.
  GbkTexts(const ResultSet& rs, const std::vector<char>& textColumn, std::size_t rows)
      : n_(textColumn.size()), how_(rows * n_, kNotText) {
    std::string joined;
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < n_; ++c) {
        const auto* s = std::get_if<std::string>(&rs.rows[r][c]);
        expected_ += s ? 5 + s->size() : 9;
        if (!s || !textColumn[c]) continue;
        const auto* above = r > 0 ? std::get_if<std::string>(&rs.rows[r - 1][c]) : nullptr;
        std::uint8_t& h = how_[r * n_ + c];
        if (above && *above == *s) {
          h = kAsAbove;
        } else if (isAscii(*s)) {
          h = kAscii;
        } else {
          h = kConverted;
          together_ = together_ && s->find('\0') == std::string::npos;
          if (joined.empty()) joined.reserve(expected_);
          joined += *s;
          joined += '\0';
        }
      }
    }
    if (!together_ || joined.empty()) return;
    try {
      converted_ = text::utf8ToGbk(joined);
    } catch (const qadj::Exception&) {
      together_ = false;  // one text at a time in next() finds and names the culprit
    }
  }

  How how(std::size_t r, std::size_t c) const { return static_cast<How>(how_[r * n_ + c]); }

  // An upper estimate of the packet's bytes (UTF-8 is never shorter than GBK).
  std::size_t expectedBytes() const { return expected_; }

  // Writes to gbk the GBK form of the next cell planned kConverted, whose text is utf8,
  // in row order (into gbk's own buffer). Throws ServerError naming column and row when
  // GBK cannot hold it.
  void next(const std::string& utf8, std::string_view column, std::size_t row, std::string& gbk) {
    if (!together_) {
      gbk = toGbk(utf8, column, row);
      return;
    }
    const std::size_t end = std::min(converted_.find('\0', next_), converted_.size());
    gbk.assign(converted_, next_, end - next_);
    next_ = end + 1;
  }

 private:
  std::size_t n_;
  std::vector<std::uint8_t> how_;
  std::string converted_;  // the converted texts, each ended by NUL
  bool together_ = true;
  std::size_t next_ = 0;  // where the next text starts in converted_
  std::size_t expected_ = 256;
};

}  // namespace

packet::Packet toPacket(const ResultSet& rs, const std::vector<PacketColumn>& columns,
                        std::int32_t maxRows) {
  assert(columns.size() == rs.columns.size());
  packet::Packet p;
  const std::size_t n = rs.columns.size();
  p.columns.reserve(n);
  for (std::size_t c = 0; c < n; ++c) {
    packet::Column col;
    col.name = std::string(columns[c].name);
    col.typeName = typeName(columns[c].kind);
    col.width = columns[c].kind == ColumnKind::Text ? std::max(rs.columns[c].width, 1) : 0;
    p.columns.push_back(std::move(col));
  }
  const std::size_t rows = rowsToSend(rs, maxRows);
  p.rows.resize(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    auto& out = p.rows[r];
    out.resize(n);
    for (std::size_t c = 0; c < n; ++c) {
      const Cell cell = asKind(rs.rows[r][c], columns[c], r);
      if (const auto* s = std::get_if<std::string>(&cell)) {
        auto gbk = toGbk(*s, p.columns[c].name, r);
        p.columns[c].width = std::max(p.columns[c].width, static_cast<std::int32_t>(gbk.size()));
        out[c] = std::move(gbk);
      } else if (const auto* d = std::get_if<double>(&cell)) {
        out[c] = *d;
      }
    }
  }
  return p;
}

FetchResult resetResult() {
  FetchResult result;
  result.packet = packet::encode(packet::Packet{});
  return result;
}

FetchResult encodeResult(const ResultSet& rs, const std::vector<PacketColumn>& columns,
                         std::int32_t maxRows) {
  packet::Packet head = toPacket(rs, columns, 0);  // the columns, with declared widths
  head.noResetCall = true;
  const std::size_t n = head.columns.size();
  const std::size_t rows = rowsToSend(rs, maxRows);
  std::vector<char> textColumn(n);
  for (std::size_t c = 0; c < n; ++c) textColumn[c] = columns[c].kind == ColumnKind::Text;
  GbkTexts texts(rs, textColumn, rows);

  packet::PacketWriter w(head, texts.expectedBytes());
  std::vector<std::int32_t> widths(n);
  for (std::size_t c = 0; c < n; ++c) widths[c] = head.columns[c].width;
  std::vector<std::string> gbk(n);  // per column: the GBK form of the last text
  const auto writeText = [&](std::size_t c) {
    widths[c] = std::max(widths[c], static_cast<std::int32_t>(gbk[c].size()));
    w.text(gbk[c]);
  };
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < n; ++c) {
      const Cell& cell = rs.rows[r][c];
      // The common case first: a text of a text column.
      if (const auto how = texts.how(r, c); how != GbkTexts::kNotText) {
        if (how == GbkTexts::kAscii) gbk[c] = std::get<std::string>(cell);
        if (how == GbkTexts::kConverted)
          texts.next(std::get<std::string>(cell), head.columns[c].name, r, gbk[c]);
        writeText(c);  // as above: gbk[c] holds it
        continue;
      }
      const auto* s = std::get_if<std::string>(&cell);
      const auto* d = std::get_if<double>(&cell);
      if ((s && !textColumn[c]) || (d && textColumn[c])) {
        // A cell not of its column's kind (SQLite keeps any value in any column) is
        // converted on its own; the window's results hardly ever hold one.
        const Cell wanted = asKind(cell, columns[c], r);
        if (const auto* number = std::get_if<double>(&wanted)) {
          w.number(*number);
        } else {
          gbk[c] = std::get<std::string>(wanted);  // a number's text: ASCII
          writeText(c);
        }
      } else if (d) {
        w.number(*d);
      } else {
        w.null();
      }
    }
  }
  for (std::size_t c = 0; c < n; ++c)
    if (widths[c] != head.columns[c].width) w.setWidth(c, widths[c]);
  FetchResult result;
  result.recordsSent = static_cast<std::int32_t>(rows);
  result.packet = w.finish();
  return result;
}

}  // namespace qadj::appserver
