#include "qadj/appserver/sql_text.h"

#include <algorithm>
#include <stdexcept>

#include "qadj/platform/text.h"

namespace qadj::appserver::sql {
namespace {

using Tok = TokenKind;

// SQL's character classes are ASCII's whatever the process locale (and the checks are
// on every character of every statement a save sends).
bool isDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool isSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
unsigned char upper(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}
bool wordStart(unsigned char c) {
  return (upper(c) >= 'A' && upper(c) <= 'Z') || c == '_' || c >= 0x80;
}
bool wordChar(unsigned char c) {
  return wordStart(c) || isDigit(c) || c == '$' || c == '#';
}

}  // namespace

bool isWord(const Token& t, std::string_view w) {
  return t.kind == Tok::Word && text::asciiEqualsNoCase(t.text, w);
}
bool isPunct(const Token& t, char c) {
  return t.kind == Tok::Punct && t.text.size() == 1 && t.text[0] == c;
}

std::string literalValue(const Token& t) {
  std::string out;
  const std::string_view inner = t.text.substr(1, t.text.size() - 2);
  out.reserve(inner.size());
  for (std::size_t i = 0; i < inner.size(); ++i) {
    out += inner[i];
    if (inner[i] == '\'' && i + 1 < inner.size() && inner[i + 1] == '\'') ++i;
  }
  return out;
}

std::vector<Token> tokenize(std::string_view s) {
  std::vector<Token> out;
  out.reserve(s.size() / 4 + 4);  // about a token in four characters
  std::size_t i = 0;
  const std::size_t n = s.size();
  auto push = [&](Tok k, std::size_t b, std::size_t e) {
    out.push_back({k, b, e, s.substr(b, e - b)});
  };
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (isSpace(c)) {
      ++i;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      const auto close = s.find("*/", i + 2);
      if (close == std::string_view::npos) throw std::invalid_argument("unterminated comment");
      i = close + 2;
    } else if (c == '\'' || c == '"') {
      const std::size_t b = i++;
      for (;;) {
        if (i >= n)
          throw std::invalid_argument(c == '\'' ? "unterminated text literal"
                                                : "unterminated quoted identifier");
        if (s[i] == static_cast<char>(c)) {
          if (i + 1 < n && s[i + 1] == static_cast<char>(c)) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      push(c == '\'' ? Tok::String : Tok::QuotedIdent, b, i);
    } else if (isDigit(c) ||
               (c == '.' && i + 1 < n && isDigit(static_cast<unsigned char>(s[i + 1])))) {
      const std::size_t b = i;
      while (i < n && (isDigit(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
      if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < n && isDigit(static_cast<unsigned char>(s[j]))) {
          i = j;
          while (i < n && isDigit(static_cast<unsigned char>(s[i]))) ++i;
        }
      }
      push(Tok::Number, b, i);
    } else if (wordStart(c)) {
      const std::size_t b = i;
      while (i < n && wordChar(static_cast<unsigned char>(s[i]))) ++i;
      push(Tok::Word, b, i);
    } else {
      push(Tok::Punct, i, i + 1);
      ++i;
    }
  }
  return out;
}

namespace {

std::string_view trim(std::string_view v) {
  while (!v.empty() && isSpace(static_cast<unsigned char>(v.front()))) v.remove_prefix(1);
  while (!v.empty() && isSpace(static_cast<unsigned char>(v.back()))) v.remove_suffix(1);
  return v;
}

// Splits tokens [b, e) at top-level commas.
std::vector<std::pair<std::size_t, std::size_t>> splitCommas(const std::vector<Token>& t,
                                                             std::size_t b, std::size_t e) {
  std::vector<std::pair<std::size_t, std::size_t>> parts;
  int depth = 0;
  std::size_t start = b;
  for (std::size_t i = b; i < e; ++i) {
    if (isPunct(t[i], '(')) ++depth;
    if (isPunct(t[i], ')')) --depth;
    if (depth == 0 && isPunct(t[i], ',')) {
      parts.emplace_back(start, i);
      start = i + 1;
    }
  }
  parts.emplace_back(start, e);
  return parts;
}

bool endsExpression(const Token& t) {
  return t.kind != Tok::Punct || isPunct(t, ')');
}

SelectItem readItem(std::string_view text, const std::vector<Token>& t, std::size_t b,
                    std::size_t e) {
  SelectItem item;
  std::size_t exprEnd = e;
  const Token* alias = nullptr;
  if (e - b >= 2) {
    const Token& last = t[e - 1];
    const Token& prev = t[e - 2];
    const bool aliasToken =
        (last.kind == Tok::Word && !isWord(last, "END")) || last.kind == Tok::QuotedIdent;
    if (aliasToken && isWord(prev, "AS")) {
      alias = &last;
      exprEnd = e - 2;
    } else if (aliasToken && endsExpression(prev) && !isWord(prev, "AS")) {
      alias = &last;
      exprEnd = e - 1;
    }
  }
  if (exprEnd > b)
    item.expression = std::string(trim(text.substr(t[b].begin, t[exprEnd - 1].end - t[b].begin)));
  if (alias) {
    if (alias->kind == Tok::QuotedIdent) {
      item.quotedName = true;
      item.name = std::string(alias->text.substr(1, alias->text.size() - 2));
    } else {
      item.name = std::string(alias->text);
    }
  } else if (exprEnd > b &&
             (t[exprEnd - 1].kind == Tok::Word || t[exprEnd - 1].kind == Tok::QuotedIdent)) {
    // A column reference, possibly qualified: the name after the last '.'.
    bool reference = true;
    for (std::size_t i = b; i < exprEnd; ++i)
      if (!(t[i].kind == Tok::Word || t[i].kind == Tok::QuotedIdent || isPunct(t[i], '.')))
        reference = false;
    const auto& lastTok = t[exprEnd - 1];
    item.name = reference ? std::string(lastTok.text) : item.expression;
    if (reference && lastTok.kind == Tok::QuotedIdent) {
      item.quotedName = true;
      item.name = std::string(lastTok.text.substr(1, lastTok.text.size() - 2));
    }
  } else {
    item.name = item.expression;
  }
  const std::size_t count = exprEnd - b;
  item.numericLiteral =
      (count == 1 && t[b].kind == Tok::Number) ||
      (count == 2 && (isPunct(t[b], '-') || isPunct(t[b], '+')) && t[b + 1].kind == Tok::Number);
  item.textLiteral = count == 1 && t[b].kind == Tok::String;
  return item;
}

}  // namespace

std::string shapeOf(const std::vector<Token>& tokens) {
  std::string out;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    if (i > 0 && t.begin > tokens[i - 1].end) out += ' ';
    if (t.kind == TokenKind::String || t.kind == TokenKind::Number)
      out += '?';
    else
      out += t.text;
  }
  return out;
}

std::string shapeOf(const Command& command) {
  if (!command.block)
    return command.statements.empty() ? std::string() : shapeOf(command.statements[0].tokens);
  std::string out = "BEGIN ";
  for (const auto& statement : command.statements) out += shapeOf(statement.tokens) + "; ";
  return out + "END;";
}

Command readCommand(std::string_view text) {
  std::vector<Token> t = tokenize(text);
  Command command;
  std::size_t last = t.size() > 1 ? t.size() - 1 : 0;
  while (last > 0 && isPunct(t[last], ';')) --last;
  if (t.size() < 2 || !isWord(t.front(), "BEGIN") || !isWord(t[last], "END") || last == 0) {
    command.statements.push_back({text, std::move(t)});
    return command;
  }
  command.block = true;
  std::size_t start = 1;
  auto flush = [&](std::size_t endTok) {
    if (endTok <= start) return;
    if (isWord(t[start], "BEGIN")) throw std::invalid_argument("nested blocks are not supported");
    command.statements.push_back(
        {trim(text.substr(t[start].begin, t[endTok - 1].end - t[start].begin)),
         std::vector<Token>(t.begin() + static_cast<std::ptrdiff_t>(start),
                            t.begin() + static_cast<std::ptrdiff_t>(endTok))});
  };
  for (std::size_t i = 1; i < last; ++i) {
    if (isPunct(t[i], ';')) {
      flush(i);
      start = i + 1;
    }
  }
  flush(last);
  return command;
}

std::optional<std::vector<std::string>> splitBlock(std::string_view text) {
  const Command command = readCommand(text);
  if (!command.block) return std::nullopt;
  std::vector<std::string> statements;
  statements.reserve(command.statements.size());
  for (const Statement& s : command.statements) statements.emplace_back(s.text);
  return statements;
}

bool hasSeveralStatements(std::string_view text) {
  const auto t = tokenize(text);
  bool sawSemicolon = false;
  for (const auto& tok : t) {
    if (isPunct(tok, ';')) {
      sawSemicolon = true;
    } else if (sawSemicolon) {
      return true;
    }
  }
  return false;
}

namespace {

// The items of the outermost select list of tokens t of text (empty when it is not a
// SELECT or cannot be read).
std::vector<SelectItem> readSelectList(std::string_view text, const std::vector<Token>& t) {
  if (t.empty() || !isWord(t[0], "SELECT")) return {};
  std::size_t b = 1;
  while (b < t.size() &&
         (isWord(t[b], "DISTINCT") || isWord(t[b], "ALL") || isWord(t[b], "UNIQUE")))
    ++b;
  std::size_t e = b;
  int depth = 0;
  for (; e < t.size(); ++e) {
    if (isPunct(t[e], '(')) ++depth;
    if (isPunct(t[e], ')')) --depth;
    if (depth == 0 && (isWord(t[e], "FROM") || isPunct(t[e], ';'))) break;
  }
  std::vector<SelectItem> items;
  for (const auto& [ib, ie] : splitCommas(t, b, e)) {
    if (ie <= ib) return {};
    items.push_back(readItem(text, t, ib, ie));
  }
  return items;
}

}  // namespace

Query::Query(std::string_view text) : text_(text) {
  try {
    tokens_ = tokenize(text);
  } catch (const std::invalid_argument&) {
    return;  // nothing to read: the database tells what is wrong
  }
  items_ = readSelectList(text_, tokens_);
}

std::string Query::orderByOutputPositions() const {
  const std::vector<Token>& t = tokens_;
  if (t.empty() || !isWord(t[0], "SELECT")) return std::string(text_);
  // The last top-level ORDER BY.
  std::size_t orderAt = 0;
  int depth = 0;
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    if (isPunct(t[i], '(')) ++depth;
    if (isPunct(t[i], ')')) --depth;
    if (depth == 0 && isWord(t[i], "ORDER") && isWord(t[i + 1], "BY")) orderAt = i;
  }
  if (orderAt == 0) return std::string(text_);
  std::size_t e = orderAt + 2;
  while (e < t.size() && !isPunct(t[e], ';') && !isWord(t[e], "LIMIT") && !isWord(t[e], "OFFSET") &&
         !isWord(t[e], "FOR") && !isWord(t[e], "FETCH"))
    ++e;

  std::vector<std::pair<const Token*, std::size_t>> replacements;  // token, 1-based position
  for (const auto& [b, te] : splitCommas(t, orderAt + 2, e)) {
    if (te <= b || t[b].kind != Tok::Word) continue;
    bool plain = true;
    for (std::size_t i = b + 1; i < te; ++i)
      if (!(isWord(t[i], "ASC") || isWord(t[i], "DESC") || isWord(t[i], "NULLS") ||
            isWord(t[i], "FIRST") || isWord(t[i], "LAST")))
        plain = false;
    if (!plain) continue;
    std::size_t found = 0, matches = 0;
    for (std::size_t k = 0; k < items_.size(); ++k)
      if (!items_[k].quotedName && text::asciiEqualsNoCase(items_[k].name, t[b].text)) {
        found = k + 1;
        ++matches;
      }
    if (matches == 1) replacements.emplace_back(&t[b], found);
  }
  std::string out;
  std::size_t pos = 0;
  for (const auto& [tok, position] : replacements) {
    out.append(text_.substr(pos, tok->begin - pos));
    out += std::to_string(position);
    pos = tok->end;
  }
  out.append(text_.substr(pos));
  return out;
}

std::vector<SelectItem> selectItems(std::string_view text) {
  return Query(text).items();
}

std::string orderByOutputPositions(std::string_view text) {
  return Query(text).orderByOutputPositions();
}

std::string clientColumnName(std::string_view reported, const std::vector<SelectItem>& items) {
  for (const auto& item : items)
    if (item.quotedName && item.name == reported) return std::string(reported);
  std::string out(reported);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace qadj::appserver::sql
