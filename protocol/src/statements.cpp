#include "qadj/protocol/statements.h"

#include <algorithm>
#include <array>
#include <cassert>

#include "qadj/platform/calendar.h"
#include "qadj/platform/number_text.h"

namespace qadj::statements {
namespace {

enum class SlotKind : std::uint8_t { Text, Date, Amount, Total };

struct Slot {
  SlotKind kind;
  int width;         // bytes, for a text
  const char* what;  // what the operator would call the value
};

// Fixed text, then a slot, then fixed text, ...: fixed.size() == slots.size() + 1.
struct Template {
  Kind kind;
  std::vector<std::string_view> fixed;
  std::vector<Slot> slots;
};

constexpr Slot kOperator{SlotKind::Text, kPersonCodeWidth, "the operator code"};
constexpr Slot kWarehouse{SlotKind::Text, kWarehouseWidth, "the warehouse code"};
constexpr Slot kSalesperson{SlotKind::Text, kPersonCodeWidth, "the salesperson code"};
constexpr Slot kProduct{SlotKind::Text, kProductWidth, "the product code"};
constexpr Slot kDocument{SlotKind::Text, kDocumentWidth, "the document number"};
constexpr Slot kDate{SlotKind::Date, 10, "the date"};
constexpr Slot kAmount{SlotKind::Amount, 0, "the amount"};
constexpr Slot kTotal{SlotKind::Total, 0, "the total"};

// The window's statements, character for character.
const Template& templateOf(Kind kind) {
  static const std::array<Template, 7> kTemplates = {{
      {Kind::WarehouseLookup, {"SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='", "'"}, {kOperator}},
      {Kind::SalespersonList,
       {"SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00='", "'"},
       {kWarehouse}},
      {Kind::ProductQuery,
       {"SELECT A.SPDM00,SPMC00,XL0000,YFXSL0,KTZXL0  FROM PGTQADJ0 A,GSTJYGL1 B WHERE "
        "A.SPDM00=B.SPDM00 ORDER BY SPDM00"},
       {}},
      {Kind::DetailQuery,
       {"SELECT A.FXRY00,C.RYMC00,A.SPDM00,D.SPMC00,A.XL0000,0 TZXL00  FROM XSTXLGL01 "
        "A,XSTXLGL1 B,GSTRYGL0 C,GSTJYGL1 D  WHERE A.DHAO00=B.DHAO00 AND "
        "TRUNC(B.ZDRQ00)=TO_DATE('",
        "','yyyy-mm-dd') AND A.FXRY00=C.RYDM00 AND A.SPDM00=D.SPDM00 AND CKDM00='",
        "' AND C.RYDM00<>'", "' AND A.SPDM00='", "'"},
       {kDate, kWarehouse, kSalesperson, kProduct}},
      {Kind::DocumentLookup,
       {"SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('", "','yyyy-mm-dd')"},
       {kDate}},
      {Kind::Increment,
       {"UPDATE XSTXLGL01 SET XL0000=XL0000+", " where  DHAO00='", "' AND FXRY00='",
        "' AND SPDM00='", "'"},
       {kAmount, kDocument, kSalesperson, kProduct}},
      {Kind::Decrement,
       {"UPDATE XSTXLGL01 SET XL0000=XL0000-", " WHERE  DHAO00='", "' AND FXRY00='",
        "' AND SPDM00='", "'"},
       {kTotal, kDocument, kSalesperson, kProduct}},
  }};
  const auto& t = kTemplates[static_cast<std::size_t>(kind)];
  assert(t.kind == kind && t.fixed.size() == t.slots.size() + 1);
  return t;
}

constexpr std::string_view kBlockBegin = "BEGIN ";
constexpr std::string_view kBlockSeparator = "; ";
constexpr std::string_view kBlockEnd = "END;";

// --- Writing -------------------------------------------------------------------------

void writeQuoted(std::string& out, std::string_view value) {
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
}

void writeSlot(std::string& out, const Slot& slot, const Value& value) {
  switch (slot.kind) {
    case SlotKind::Text:
      writeQuoted(out, std::get<std::string>(value));
      break;
    case SlotKind::Date:
      out += std::get<std::string>(value);
      break;
    case SlotKind::Amount:
      out += std::get<Quantity>(value).text();
      break;
    case SlotKind::Total: {
      // Negative in parentheses: "XL0000-(-3.00)", never "XL0000--3.00", a comment.
      const Quantity total = std::get<Quantity>(value);
      out += total < Quantity() ? "(" + total.twoDecimals() + ")" : total.twoDecimals();
      break;
    }
  }
}

// --- Reading -------------------------------------------------------------------------

// Where a text came closest to a template and what the template expects there: the
// failure furthest into the text is kept.
struct Failure {
  std::size_t at = 0;
  std::string within, expected;
  bool noted = false;
  void note(std::size_t position, std::string in, std::string wanted) {
    if (noted && position <= at) return;
    at = position;
    within = std::move(in);
    expected = std::move(wanted);
    noted = true;
  }
};

// A slot's reading: its value and where the text after it starts, or where and why it
// does not hold a value as the window writes it.
struct SlotRead {
  std::optional<Value> value;
  std::size_t end = 0;
  std::string why;
};

SlotRead refuse(std::size_t at, std::string why) {
  SlotRead r;
  r.end = at;
  r.why = std::move(why);
  return r;
}

bool isControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

SlotRead readText(std::string_view text, std::size_t pos, const Slot& slot) {
  std::string value;
  std::size_t i = pos;
  for (;;) {
    if (i >= text.size()) return refuse(i, std::string("a closing quote after ") + slot.what);
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\'') {
      if (i + 1 < text.size() && text[i + 1] == '\'') {
        value += '\'';
        i += 2;
        continue;
      }
      break;
    }
    if (isControl(c)) return refuse(i, std::string(slot.what) + " without control characters");
    if (c >= 0x80) {
      const auto trail = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      if (c == 0x80 || c == 0xFF || trail < 0x40 || trail == 0x7F || trail == 0xFF)
        return refuse(i, std::string(slot.what) + " as GBK text");
      value.append(text.substr(i, 2));
      i += 2;
      continue;
    }
    value += static_cast<char>(c);
    ++i;
  }
  if (value.size() > static_cast<std::size_t>(slot.width))
    return refuse(pos, std::string(slot.what) + " of at most " + std::to_string(slot.width) +
                           " bytes (its column's width)");
  SlotRead r;
  r.value = std::move(value);
  r.end = i;
  return r;
}

SlotRead readDate(std::string_view text, std::size_t pos, const Slot& slot) {
  const std::string_view d = text.substr(pos, 10);
  const auto digits = [&](std::size_t from, std::size_t count) {
    int n = 0;
    for (std::size_t k = from; k < from + count; ++k) {
      if (k >= d.size() || d[k] < '0' || d[k] > '9') return -1;
      n = n * 10 + (d[k] - '0');
    }
    return n;
  };
  const int year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
  if (d.size() != 10 || d[4] != '-' || d[7] != '-' || year < 1 || month < 0 || day < 0 ||
      !calendar::isValidDate(year, month, day))
    return refuse(pos, std::string(slot.what) + " as a real day yyyy-mm-dd");
  SlotRead r;
  r.value = std::string(d);
  r.end = pos + 10;
  return r;
}

// The longest run of characters a written quantity may hold, from pos (a leading '-').
std::string_view numberRun(std::string_view text, std::size_t pos) {
  std::size_t i = pos;
  if (i < text.size() && text[i] == '-') ++i;
  while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) ++i;
  return text.substr(pos, i - pos);
}

// The quantity a run stands for, when the window would write it exactly so.
std::optional<Quantity> writtenQuantity(std::string_view run, bool twoDecimals) {
  const auto value = numbers::parseDecimal(run);
  if (!value) return std::nullopt;
  const auto q = Quantity::round(*value);
  if (!q || (twoDecimals ? q->twoDecimals() : q->text()) != run) return std::nullopt;
  return q;
}

SlotRead readAmount(std::string_view text, std::size_t pos, const Slot& slot) {
  const std::string_view run = numberRun(text, pos);
  const auto q = writtenQuantity(run, false);
  if (!q)
    return refuse(pos, std::string(slot.what) +
                           " as the window writes it (such as 5, 2.5 or -2, in hundredths, at "
                           "most 999999999999.99)");
  SlotRead r;
  r.value = *q;
  r.end = pos + run.size();
  return r;
}

SlotRead readTotal(std::string_view text, std::size_t pos, const Slot& slot) {
  const bool negative = pos < text.size() && text[pos] == '(';
  const std::size_t start = negative ? pos + 1 : pos;
  const std::string_view run = numberRun(text, start);
  auto q = writtenQuantity(run, true);
  std::size_t end = start + run.size();
  if (q && negative && !(*q < Quantity() && end < text.size() && text[end] == ')')) q.reset();
  if (q && !negative && *q < Quantity()) q.reset();
  if (!q)
    return refuse(pos, std::string(slot.what) +
                           " as the window writes it (two decimals such as 5.00, a negative one "
                           "in parentheses such as (-3.00), at most 999999999999.99)");
  SlotRead r;
  r.value = *q;
  r.end = negative ? end + 1 : end;
  return r;
}

SlotRead readSlot(std::string_view text, std::size_t pos, const Slot& slot) {
  switch (slot.kind) {
    case SlotKind::Text:
      return readText(text, pos, slot);
    case SlotKind::Date:
      return readDate(text, pos, slot);
    case SlotKind::Amount:
      return readAmount(text, pos, slot);
    case SlotKind::Total:
      break;
  }
  return readTotal(text, pos, slot);
}

// A fixed piece, quoted and cut for a message.
std::string quotedPiece(std::string_view piece) {
  constexpr std::size_t kShown = 40;
  std::string out = "\"" + std::string(piece.substr(0, kShown));
  return out + (piece.size() > kShown ? "...\"" : "\"");
}

// Fixed text expected at pos: true (pos moved past it) or noted as the failure.
bool expectFixed(std::string_view text, std::size_t& pos, std::string_view fixed,
                 const std::string& within, Failure& failure) {
  const std::string_view rest = text.substr(pos);
  if (rest.substr(0, fixed.size()) == fixed) {
    pos += fixed.size();
    return true;
  }
  const auto differs = std::mismatch(fixed.begin(), fixed.end(), rest.begin(), rest.end());
  failure.note(pos + static_cast<std::size_t>(differs.second - rest.begin()), within,
               quotedPiece(fixed));
  return false;
}

// The statement of template t starting at pos; pos moves past it. nullopt (and the
// failure noted) when the text there is no such statement.
std::optional<Statement> readStatement(const Template& t, std::string_view text, std::size_t& pos,
                                       const std::string& within, Failure& failure) {
  Statement s;
  s.kind = t.kind;
  s.values.reserve(t.slots.size());
  for (std::size_t i = 0;; ++i) {
    if (!expectFixed(text, pos, t.fixed[i], within, failure)) return std::nullopt;
    if (i == t.slots.size()) return s;
    SlotRead slot = readSlot(text, pos, t.slots[i]);
    if (!slot.value) {
      failure.note(slot.end, within, slot.why);
      return std::nullopt;
    }
    s.values.push_back(std::move(*slot.value));
    pos = slot.end;
  }
}

// A whole text as a statement of template t.
std::optional<Statement> readWhole(const Template& t, std::string_view text, Failure& failure) {
  const std::string within = nameOf(t.kind);
  std::size_t pos = 0;
  auto s = readStatement(t, text, pos, within, failure);
  if (s && pos != text.size()) {
    failure.note(pos, within, "the end of the text");
    return std::nullopt;
  }
  return s;
}

std::string refusalOf(const Failure& failure) {
  return "The statement is refused: this server runs the window's own statements only, and "
         "the text is none of them; it comes closest to " +
         failure.within + ", which at byte " + std::to_string(failure.at + 1) + " expects " +
         failure.expected;
}

// "BEGIN inc; ...; dec; END;" as a command.
std::optional<Command> readBlock(std::string_view text, Failure& failure) {
  const std::string within = "the save block";
  std::size_t pos = 0;
  if (!expectFixed(text, pos, kBlockBegin, within, failure)) return std::nullopt;
  Command c;
  c.block = true;
  // A decrement closes the block; before it, increments. (The two differ from their
  // 36th byte, so trying one before the other changes only which is named when neither
  // is there: the decrement, which every block needs.)
  for (;;) {
    std::size_t at = pos;
    if (auto dec = readStatement(templateOf(Kind::Decrement), text, at,
                                 within + " (its last statement, the decrement)", failure)) {
      if (!expectFixed(text, at, kBlockSeparator, within, failure) ||
          !expectFixed(text, at, kBlockEnd, within, failure))
        return std::nullopt;
      if (at != text.size()) {
        failure.note(at, within, "the end of the text");
        return std::nullopt;
      }
      c.statements.push_back(std::move(*dec));
      return c;
    }
    at = pos;
    auto inc =
        readStatement(templateOf(Kind::Increment), text, at, within + " (an increment)", failure);
    if (!inc || !expectFixed(text, at, kBlockSeparator, within, failure)) return std::nullopt;
    c.statements.push_back(std::move(*inc));
    pos = at;
  }
}

}  // namespace

const char* nameOf(Kind kind) {
  switch (kind) {
    case Kind::WarehouseLookup:
      return "the warehouse lookup";
    case Kind::SalespersonList:
      return "the salesperson list";
    case Kind::ProductQuery:
      return "the product query";
    case Kind::DetailQuery:
      return "the detail query";
    case Kind::DocumentLookup:
      return "the document lookup";
    case Kind::Increment:
      return "the increment";
    case Kind::Decrement:
      break;
  }
  return "the decrement";
}

std::string build(const Statement& statement) {
  const Template& t = templateOf(statement.kind);
  assert(statement.values.size() == t.slots.size());
  std::string out;
  out.reserve(256);
  for (std::size_t i = 0; i < t.slots.size(); ++i) {
    out += t.fixed[i];
    writeSlot(out, t.slots[i], statement.values[i]);
  }
  out += t.fixed.back();
  return out;
}

std::string build(const Command& command) {
  if (!command.block) {
    assert(command.statements.size() == 1);
    return build(command.statements.front());
  }
  std::vector<std::string> texts;
  texts.reserve(command.statements.size());
  for (const auto& s : command.statements) texts.push_back(build(s));
  return block(texts);
}

std::string warehouseLookup(std::string_view operatorCode) {
  return build({Kind::WarehouseLookup, {std::string(operatorCode)}});
}

std::string salespersonList(std::string_view warehouseCode) {
  return build({Kind::SalespersonList, {std::string(warehouseCode)}});
}

std::string productQuery() {
  return build({Kind::ProductQuery, {}});
}

std::string detailQuery(std::string_view dateText, std::string_view warehouseCode,
                        std::string_view salespersonCode, std::string_view productCode) {
  return build({Kind::DetailQuery,
                {std::string(dateText), std::string(warehouseCode), std::string(salespersonCode),
                 std::string(productCode)}});
}

std::string documentLookup(std::string_view dateText) {
  return build({Kind::DocumentLookup, {std::string(dateText)}});
}

std::string increment(Quantity amount, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode) {
  return build({Kind::Increment,
                {amount, std::string(documentNumber), std::string(salespersonCode),
                 std::string(productCode)}});
}

std::string decrement(Quantity total, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode) {
  return build({Kind::Decrement,
                {total, std::string(documentNumber), std::string(salespersonCode),
                 std::string(productCode)}});
}

std::string block(const std::vector<std::string>& statements) {
  std::size_t size = kBlockBegin.size() + kBlockEnd.size();
  for (const auto& s : statements) size += s.size() + kBlockSeparator.size();
  std::string out;
  out.reserve(size);
  out += kBlockBegin;
  for (const auto& s : statements) {
    out += s;
    out += kBlockSeparator;
  }
  out += kBlockEnd;
  return out;
}

Match<Statement> matchQuery(std::string_view text) {
  Failure failure;
  for (const Kind kind : {Kind::WarehouseLookup, Kind::SalespersonList, Kind::ProductQuery,
                          Kind::DetailQuery, Kind::DocumentLookup})
    if (auto s = readWhole(templateOf(kind), text, failure)) return {std::move(s), {}};
  return {std::nullopt, refusalOf(failure)};
}

Match<Command> matchCommand(std::string_view text) {
  Failure failure;
  for (const Kind kind : {Kind::Increment, Kind::Decrement})
    if (auto s = readWhole(templateOf(kind), text, failure))
      return {Command{false, {std::move(*s)}}, {}};
  if (auto c = readBlock(text, failure)) return {std::move(c), {}};
  return {std::nullopt, refusalOf(failure)};
}

std::string shapeOf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  const auto wordChar = [&](char c) {
    return digit(c) || c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           static_cast<unsigned char>(c) >= 0x80;
  };
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\'') {  // a quoted text, '' inside; one left open runs to the end
      ++i;
      while (i < text.size()) {
        const bool quote = text[i++] == '\'';
        if (quote && !(i < text.size() && text[i] == '\'')) break;
        if (quote) ++i;
      }
      out += '?';
    } else if (digit(c) || (c == '.' && i + 1 < text.size() && digit(text[i + 1]))) {
      while (i < text.size() && (digit(text[i]) || text[i] == '.')) ++i;
      out += '?';
    } else if (wordChar(c)) {  // a name, digits in it kept
      while (i < text.size() && wordChar(text[i])) out += text[i++];
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

}  // namespace qadj::statements
