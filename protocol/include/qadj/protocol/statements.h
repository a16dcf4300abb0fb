// The statements of the quota-adjustment window, one template each, shared by the two
// sides: the window builds its texts from them and the application server matches a
// client's text against them. A template is fixed text with value slots in fixed
// places; the server accepts a text only when it is, byte for byte outside the slots,
// one of the templates, and every slot holds a value as the window writes it. So the
// server knows exactly what each statement asks, runs its own statement for it with
// the values bound, and never hands a client's text to the database.
//
// Texts are GBK byte strings (the window's own text; the server converts a request to
// GBK before matching). Slots:
// - a text: between single quotes, each quote inside doubled; no control characters;
//   well-formed GBK; at most as many bytes as its column holds;
// - a date: yyyy-mm-dd, a real day of the years 0001 to 9999;
// - an amount (increment): a quantity in general form ("5", "2.5", "-2", "0");
// - a total (decrement): a quantity with two decimals ("5.00"), a negative one in
//   parentheses ("(-3.00)"), so that the statement never holds "--".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qadj/platform/quantity.h"

namespace qadj::statements {

// Widths in bytes of the columns the slots stand for (the schema declares the same).
inline constexpr int kPersonCodeWidth = 4;  // RYDM00, FXRY00 (the operator's code too)
inline constexpr int kWarehouseWidth = 4;   // CKDM00
inline constexpr int kProductWidth = 8;     // SPDM00
inline constexpr int kDocumentWidth = 20;   // DHAO00

// --- Building (the window) -------------------------------------------------------
// Every value is written as the template's slot wants it; a text value has its quotes
// doubled and is otherwise written as it is (a value the server would refuse, such as
// one longer than its column, is the server's to refuse).

// SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='<operator>'
std::string warehouseLookup(std::string_view operatorCode);
// SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00='<warehouse>'
std::string salespersonList(std::string_view warehouseCode);
// The product quotas of the working table, ordered by product code.
std::string productQuery();
// The other salespersons' quota lines for one product on one date (date "yyyy-mm-dd").
std::string detailQuery(std::string_view dateText, std::string_view warehouseCode,
                        std::string_view salespersonCode, std::string_view productCode);
// SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('<date>','yyyy-mm-dd')
std::string documentLookup(std::string_view dateText);
// Raises one salesperson's quota line by amount: ...SET XL0000=XL0000+<amount> where ...
std::string increment(Quantity amount, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode);
// Lowers the giver's quota line by total: ...SET XL0000=XL0000-<total> WHERE ...
std::string decrement(Quantity total, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode);
// Several statements as one unit: "BEGIN s1; s2; ... END;".
std::string block(const std::vector<std::string>& statements);

// --- Reading (the server) ----------------------------------------------------------

enum class Kind : std::uint8_t {
  WarehouseLookup,
  SalespersonList,
  ProductQuery,
  DetailQuery,
  DocumentLookup,
  Increment,
  Decrement,
};

// What the operator would call the statement: "the detail query".
const char* nameOf(Kind kind);

// A slot's value: a text (GBK, quotes undoubled; a date as "yyyy-mm-dd") or a quantity.
using Value = std::variant<std::string, Quantity>;

// One statement read from a text: which template, and its slots' values in the order
// of the builder's arguments above (for an update: amount or total, document,
// salesperson, product).
struct Statement {
  Kind kind = Kind::ProductQuery;
  std::vector<Value> values;

  const std::string& text(std::size_t slot) const { return std::get<std::string>(values.at(slot)); }
  Quantity quantity(std::size_t slot) const { return std::get<Quantity>(values.at(slot)); }
};

// The text of a statement: what the builder above writes for its values. Requires the
// values the kind's slots take (as a match gives them).
std::string build(const Statement& statement);

// A command as ExecuteCommand receives it: one increment or decrement alone, or a block
// of increments followed by one decrement ("BEGIN inc; ...; dec; END;").
struct Command {
  bool block = false;
  std::vector<Statement> statements;
};
std::string build(const Command& command);

// The outcome of reading a text: the statement, or why the text is none of the
// window's (a sentence naming the statement it came closest to and what that one
// expects where the text differs).
template <class T>
struct Match {
  std::optional<T> value;
  std::string refusal;
  explicit operator bool() const { return value.has_value(); }
};

// The five queries (FetchRecords). Never throws (but std::bad_alloc).
Match<Statement> matchQuery(std::string_view text);
// An increment, a decrement or a save block (ExecuteCommand). Never throws (but
// std::bad_alloc).
Match<Command> matchCommand(std::string_view text);

// The text with every quoted text and every number replaced by ?, for a log that must
// not show the values a client sent.
std::string shapeOf(std::string_view text);

}  // namespace qadj::statements
