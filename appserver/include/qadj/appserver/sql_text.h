// Lexical helpers for the Oracle-dialect SQL text that clients send: splitting a
// BEGIN ... END; block into statements, naming the columns of a select list, and the
// one rewrite SQLite needs to order by a select-list name. All work on UTF-8 text and
// respect quoted literals ('...' with '' escapes), quoted identifiers ("...") and
// comments (-- and /* */).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qadj::appserver::sql {

// One token of an SQL text: a word (identifier or keyword), a "quoted identifier", a
// 'text' literal (quotes included, '' inside), a number, or one punctuation byte.
// White space and comments are no tokens.
enum class TokenKind { Word, QuotedIdent, String, Number, Punct };
struct Token {
  TokenKind kind;
  std::size_t begin, end;  // byte range in the text
  std::string_view text;
};

// The tokens of text. Throws std::invalid_argument for an unterminated literal,
// quoted identifier or comment.
std::vector<Token> tokenize(std::string_view text);

// True when the token is the word w (ASCII letter case free) / the punctuation c.
bool isWord(const Token& t, std::string_view w);
bool isPunct(const Token& t, char c);

// The value of a 'text' literal token: without its quotes, '' read as one quote.
std::string literalValue(const Token& t);

// One statement of a command, read: its text and its tokens (views into the command's
// text, their offsets counted from the command's start).
struct Statement {
  std::string_view text;
  std::vector<Token> tokens;
};

// A command's text read once: the statements of an Oracle-style block "BEGIN stmt1;
// stmt2; ... END;" (letter case and white space free, final ';' optional), each
// trimmed and without its ';', empty ones dropped; or, when the text is no such block,
// the text itself as the one statement. The text must outlive the result.
struct Command {
  bool block = false;
  std::vector<Statement> statements;
};
// Throws std::invalid_argument for an unterminated literal or comment, or a nested
// block.
Command readCommand(std::string_view text);

// The shape of a statement, as the request log shows it: its tokens as written, one
// space where the text had white space or a comment between two of them, and every
// 'text' literal and number replaced by ?, so that no value a client sent shows.
std::string shapeOf(const std::vector<Token>& tokens);
// The shape of a command: a block's as "BEGIN s1; s2; END;", a lone statement's as
// shapeOf its tokens.
std::string shapeOf(const Command& command);

// The statements of readCommand(text) as texts when it is a block, else nullopt.
// Throws as readCommand.
std::optional<std::vector<std::string>> splitBlock(std::string_view text);

// True when text holds more than one statement (a ';' outside literals and comments
// followed by anything but white space, comments and further ';').
bool hasSeveralStatements(std::string_view text);

// One item of a select list.
struct SelectItem {
  std::string expression;       // as written, without the alias
  std::string name;             // the output name: alias, else column name after the last '.'
  bool quotedName = false;      // the alias was a "quoted identifier": keep its case
  bool numericLiteral = false;  // expression is a (signed) number such as 0 or -1.5
  bool textLiteral = false;     // expression is a 'text' literal
};

// A query's text read once: its tokens and its select list. The provider reads a
// client's query into one and hands it down, so that neither the driver nor the
// packet's column names split the text into words again. Holds a view of the text,
// which must outlive it.
class Query {
 public:
  // Reads text. A text that cannot be read (an unterminated literal, quoted identifier
  // or comment) gives no tokens and no items; the database reports it when it runs.
  explicit Query(std::string_view text);
  std::string_view text() const { return text_; }
  // The text's tokens (none when it cannot be read).
  const std::vector<Token>& tokens() const { return tokens_; }
  // The items of the outermost select list (empty when the text is not a SELECT or
  // cannot be read).
  const std::vector<SelectItem>& items() const { return items_; }
  // The text with its trailing ORDER BY rewritten so that a term naming an output
  // column (ORDER BY SPDM00 where the list has A.SPDM00) refers to it by position, as
  // Oracle resolves it; SQLite would call the name ambiguous. Any other text unchanged.
  std::string orderByOutputPositions() const;

 private:
  std::string_view text_;
  std::vector<Token> tokens_;
  std::vector<SelectItem> items_;
};

// Query(text).items() and Query(text).orderByOutputPositions(), for a text read once.
std::vector<SelectItem> selectItems(std::string_view text);
std::string orderByOutputPositions(std::string_view text);

// The name as the database reports it, turned into the name the client sees: unquoted
// identifiers upper case (as Oracle reports them), quoted aliases as written.
std::string clientColumnName(std::string_view reported, const std::vector<SelectItem>& items);

}  // namespace qadj::appserver::sql
