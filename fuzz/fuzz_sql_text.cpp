// The server's reading of a client's SQL text: the tokens cover the text in order and
// each is the bytes it claims; a text that tokenizes never makes the other readers
// throw, and one that does not tokenize throws only std::invalid_argument. The
// ORDER BY rewrite changes nothing but the ORDER BY terms.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/appserver/sql_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace sql = qadj::appserver::sql;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<sql::Token> tokens;
  try {
    tokens = sql::tokenize(text);
  } catch (const std::invalid_argument&) {
    // Unterminated: the readers built on the tokenizer refuse it the same way.
    try {
      (void)sql::hasSeveralStatements(text);
    } catch (const std::invalid_argument&) {
    }
    (void)sql::selectItems(text);
    return 0;
  }
  std::size_t at = 0;
  for (const auto& t : tokens) {
    FUZZ_CHECK(t.begin >= at && t.begin < t.end && t.end <= text.size());
    FUZZ_CHECK(t.text == text.substr(t.begin, t.end - t.begin));
    if (t.kind == sql::TokenKind::String) {
      FUZZ_CHECK(t.text.size() >= 2 && t.text.front() == '\'' && t.text.back() == '\'');
      FUZZ_CHECK(sql::literalValue(t).size() <= t.text.size() - 2);
    }
    if (t.kind == sql::TokenKind::Punct) FUZZ_CHECK(t.end - t.begin == 1);
    at = t.end;
  }
  const bool several = sql::hasSeveralStatements(text);
  if (several) {
    bool semicolon = false;
    for (const auto& t : tokens) semicolon = semicolon || sql::isPunct(t, ';');
    FUZZ_CHECK(semicolon);
  }
  const auto items = sql::selectItems(text);
  for (const auto& item : items) {
    (void)sql::clientColumnName(item.name, items);
    FUZZ_CHECK(!(item.numericLiteral && item.textLiteral));
  }
  const std::string ordered = sql::orderByOutputPositions(text);
  // Up to ORDER BY the text is the same.
  const auto cut = [](std::string_view s) {
    std::string upper(s);
    for (auto& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper.find("ORDER");
  };
  const auto end = std::min(cut(text), cut(ordered));
  if (end != std::string::npos)
    FUZZ_CHECK(text.substr(0, end) == ordered.substr(0, end));
  else
    FUZZ_CHECK(ordered == text);
  return 0;
}
