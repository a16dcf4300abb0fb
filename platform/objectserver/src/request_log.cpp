#include "request_log.h"

#include <cctype>
#include <cstdio>
#include <utility>

#include "qadj/platform/text.h"

namespace qadj::com::detail {
namespace {

// An object id as the log shows it: its low 32 bits in hex.
unsigned long objectTag(std::uint64_t id) {
  return static_cast<unsigned long>(id & 0xFFFFFFFFu);
}

// A description from an object, as UTF-8 for the log (broken UTF-16 read as best it can).
std::string utf8ForLog(const std::u16string& text) {
  try {
    return text::utf16ToUtf8(text);
  } catch (const std::exception&) {
    return text::gbkToUtf8Lossy(text::utf16ToGbkLossy(text));
  }
}

}  // namespace

std::string printable(const std::string& client) {
  std::string out;
  for (char c : client.substr(0, 8)) out += (c >= 0x21 && c <= 0x7E) ? c : '?';
  return client.size() > 8 ? out + "~" : out;
}

std::string logField(const char* name, std::string_view value, std::size_t maxChars) {
  std::string out;
  bool plain = !value.empty();
  std::size_t chars = 0, i = 0;
  for (; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    const bool startsCharacter = (c & 0xC0) != 0x80;  // UTF-8
    if (startsCharacter && chars++ == maxChars) break;
    plain = plain && (std::isalnum(c) || c == '_' || c == '.' || c == '-' || c == ':');
    const bool c1Control =  // U+0080..U+009F
        c == 0xC2 && i + 1 < value.size() && static_cast<unsigned char>(value[i + 1]) < 0xA0;
    if (c1Control) ++i;
    if (c < 0x20 || c == 0x7F || c1Control)
      out += '?';
    else if (c == '"' || c == '\\')
      out += {'\\', static_cast<char>(c)};
    else
      out += static_cast<char>(c);
  }
  if (i < value.size()) {
    plain = false;
    out += "...";
  }
  return std::string(name) + "=" + (plain ? out : "\"" + out + "\"");
}

std::string requestLine(const RequestOutcome& r) {
  const RequestFacts& facts = r.facts;
  char object[32];
  std::snprintf(object, sizeof object, "object=~%08lx", objectTag(r.objectId));
  std::string line = "client=" + printable(r.client) + " " + object + " " +
                     (facts.method.empty() ? r.op : facts.method);
  if (!facts.provider.empty()) line += " " + logField("provider", facts.provider, 64);
  if (!facts.statement.empty())
    line += " " + logField("sql", facts.statement, facts.wantsText ? 4000 : 200);
  if (facts.rows >= 0) line += " rows=" + std::to_string(facts.rows);
  for (const auto& [name, value] :
       {std::pair{"peer", &facts.peer}, {"save", &facts.saveId}, {"operator", &facts.operatorCode}})
    if (!value->empty()) line += " " + logField(name, *value, 64);
  line += " bytes=" + std::to_string(r.replyBytes);
  char result[64];
  if (r.hr == S_OK)
    std::snprintf(result, sizeof result, " OK");
  else
    std::snprintf(result, sizeof result, " %s hr=0x%08x", succeeded(r.hr) ? "OK" : "error",
                  static_cast<std::uint32_t>(r.hr));
  line += result;
  if (failed(r.hr)) {
    const std::string text = r.error.empty() ? SystemErrorText(r.hr) : utf8ForLog(r.error);
    line += " " + logField("text", text, 300);
  }
  char took[32];
  std::snprintf(took, sizeof took, " %.2f ms", r.ms);
  return line + took;
}

}  // namespace qadj::com::detail
