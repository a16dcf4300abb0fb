#include "qadj/appserver/save_block.h"

#include <charconv>
#include <stdexcept>

#include "qadj/appserver/sql_text.h"

namespace qadj::appserver {
namespace {

using sql::Token;
using sql::TokenKind;

// Reads the tokens of one statement from the front, each step consuming what it
// matches.
class Reader {
 public:
  explicit Reader(const std::vector<Token>& t) : t_(t) {}
  bool done() const { return i_ == t_.size(); }
  bool word(std::string_view w) { return take(i_ < t_.size() && sql::isWord(t_[i_], w)); }
  bool punct(char c) { return take(i_ < t_.size() && sql::isPunct(t_[i_], c)); }
  const Token* literal() { return kindOf(TokenKind::String); }
  const Token* number() { return kindOf(TokenKind::Number); }

 private:
  bool take(bool matched) {
    if (matched) ++i_;
    return matched;
  }
  const Token* kindOf(TokenKind k) {
    if (i_ >= t_.size() || t_[i_].kind != k) return nullptr;
    return &t_[i_++];
  }
  const std::vector<Token>& t_;
  std::size_t i_ = 0;
};

// A signed number, optionally in parentheses: 5, -2, +2.5, (-3.00).
std::optional<double> readAmount(Reader& r) {
  const bool open = r.punct('(');
  const bool negative = !r.punct('+') && r.punct('-');
  const Token* n = r.number();
  if (!n || (open && !r.punct(')'))) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(n->text.data(), n->text.data() + n->text.size(), value);
  if (ec != std::errc() || end != n->text.data() + n->text.size()) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::optional<QuotaLineUpdate> parseQuotaLineUpdate(std::string_view statement) {
  try {
    return parseQuotaLineUpdate(sql::tokenize(statement));
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
}

std::optional<QuotaLineUpdate> parseQuotaLineUpdate(const std::vector<Token>& tokens) {
  Reader r(tokens);
  QuotaLineUpdate u;
  if (!(r.word("UPDATE") && r.word("XSTXLGL01") && r.word("SET") && r.word("XL0000") &&
        r.punct('=') && r.word("XL0000")))
    return std::nullopt;
  if (r.punct('-'))
    u.subtracts = true;
  else if (!r.punct('+'))
    return std::nullopt;
  const auto amount = readAmount(r);
  if (!amount || !r.word("WHERE")) return std::nullopt;
  u.amount = *amount;
  bool document = false, salesperson = false, product = false;
  for (int condition = 0; condition < 3; ++condition) {
    if (condition > 0 && !r.word("AND")) return std::nullopt;
    std::string* target = nullptr;
    bool* seen = nullptr;
    if (r.word("DHAO00")) {
      target = &u.document, seen = &document;
    } else if (r.word("FXRY00")) {
      target = &u.salesperson, seen = &salesperson;
    } else if (r.word("SPDM00")) {
      target = &u.product, seen = &product;
    } else {
      return std::nullopt;
    }
    const Token* value = r.punct('=') ? r.literal() : nullptr;
    if (!value || *seen) return std::nullopt;
    *target = sql::literalValue(*value);
    *seen = true;
  }
  if (!r.done()) return std::nullopt;
  return u;
}

QuotaLineUpdates parseQuotaLineUpdates(const std::vector<std::string>& statements) {
  QuotaLineUpdates out;
  out.reserve(statements.size());
  for (const auto& s : statements) out.push_back(parseQuotaLineUpdate(s));
  return out;
}

QuotaLineUpdates parseQuotaLineUpdates(const std::vector<sql::Statement>& statements) {
  QuotaLineUpdates out;
  out.reserve(statements.size());
  for (const auto& s : statements) out.push_back(parseQuotaLineUpdate(s.tokens));
  return out;
}

std::optional<Transfer> recogniseTransfer(const std::vector<std::string>& statements) {
  return recogniseTransfer(parseQuotaLineUpdates(statements));
}

std::optional<Transfer> recogniseTransfer(const QuotaLineUpdates& lines) {
  if (lines.empty()) return std::nullopt;
  Transfer t;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto& u = lines[i];
    const bool last = i + 1 == lines.size();
    if (!u || u->subtracts != last) return std::nullopt;
    if (i == 0) {
      t.document = u->document;
      t.product = u->product;
    } else if (u->document != t.document || u->product != t.product) {
      return std::nullopt;
    }
    if (last) {
      t.giver = u->salesperson;
      t.total = u->amount;
    } else {
      t.receivers.emplace_back(u->salesperson, u->amount);
    }
  }
  return t;
}

}  // namespace qadj::appserver
