#include "qadj/platform/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace qadj::numbers {
namespace {

// Splits the format into its sections at ";" outside quoted literals.
std::vector<std::string_view> splitSections(std::string_view format) {
  std::vector<std::string_view> sections;
  std::size_t start = 0;
  char quote = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(format.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(format.substr(start));
  return sections;
}

// One section, parsed into literal text around a numeric pattern.
struct Section {
  std::string prefix;
  std::string suffix;
  bool hasNumber = false;
  int minInt = 0;  // "0" placeholders before the decimal point
  bool thousands = false;
  int minFrac = 0;  // "0" placeholders after the decimal point
  int maxFrac = 0;  // all placeholders after the decimal point
  bool scientific = false;
  bool expAlwaysSign = false;  // "E+" rather than "E-"
  bool expUpper = true;
  int expDigits = 0;
};

Section parseSection(std::string_view s) {
  Section out;
  bool inFraction = false;
  bool inExponent = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    std::string& literal = out.hasNumber ? out.suffix : out.prefix;
    if (c == '\'' || c == '"') {
      std::size_t end = s.find(c, i + 1);
      if (end == std::string_view::npos) end = s.size();
      literal.append(s.substr(i + 1, end - i - 1));
      i = end;
      continue;
    }
    if (inExponent) {
      if (c == '0' || c == '#') {
        if (c == '0') ++out.expDigits;
        continue;
      }
      inExponent = false;
    }
    if ((c == 'E' || c == 'e') && out.hasNumber && i + 1 < s.size() &&
        (s[i + 1] == '+' || s[i + 1] == '-') && !out.scientific) {
      out.scientific = true;
      out.expUpper = c == 'E';
      out.expAlwaysSign = s[i + 1] == '+';
      inExponent = true;
      ++i;
      continue;
    }
    bool placeholder = c == '0' || c == '#' || c == '.' || c == ',';
    if (placeholder && out.suffix.empty()) {
      out.hasNumber = true;
      if (c == '.') {
        inFraction = true;
      } else if (c == ',') {
        if (!inFraction) out.thousands = true;
      } else if (inFraction) {
        ++out.maxFrac;
        if (c == '0') out.minFrac = out.maxFrac;
      } else if (c == '0') {
        ++out.minInt;
      }
      continue;
    }
    literal.push_back(c);
  }
  return out;
}

// Digits of |value| rounded half away from zero to `decimals` places, as an integer
// part and a fraction part of exactly `decimals` digits.
void roundedDigits(long double value, int decimals, std::string& intPart, std::string& fracPart) {
  long double scaled = std::fabs(value) * std::pow(10.0L, decimals);
  char buf[512];
  if (scaled < 9.0e18L) {
    unsigned long long n = static_cast<unsigned long long>(std::roundl(scaled));
    std::snprintf(buf, sizeof buf, "%0*llu", decimals + 1, n);
  } else {
    std::snprintf(buf, sizeof buf, "%.0Lf", std::roundl(scaled));
    std::string digits(buf);
    if (static_cast<int>(digits.size()) <= decimals)
      digits.insert(0, decimals + 1 - digits.size(), '0');
    std::snprintf(buf, sizeof buf, "%s", digits.c_str());
  }
  std::string all(buf);
  intPart = all.substr(0, all.size() - decimals);
  fracPart = all.substr(all.size() - decimals);
}

bool roundsToZero(long double value, const Section& s) {
  if (!s.hasNumber) return value == 0;
  if (s.scientific) return value == 0;
  std::string i, f;
  roundedDigits(value, s.maxFrac, i, f);
  return i.find_first_not_of('0') == std::string::npos &&
         f.find_first_not_of('0') == std::string::npos;
}

std::string groupThousands(const std::string& digits, char sep) {
  std::string out;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out.push_back(sep);
    out.push_back(digits[i]);
  }
  return out;
}

std::string formatFixed(long double absValue, const Section& s, const FormatSettings& st) {
  std::string intPart, fracPart;
  roundedDigits(absValue, s.maxFrac, intPart, fracPart);
  std::size_t firstNonZero = intPart.find_first_not_of('0');
  intPart = firstNonZero == std::string::npos ? std::string() : intPart.substr(firstNonZero);
  if (static_cast<int>(intPart.size()) < s.minInt)
    intPart.insert(0, s.minInt - intPart.size(), '0');
  while (static_cast<int>(fracPart.size()) > s.minFrac && fracPart.back() == '0')
    fracPart.pop_back();
  std::string out = s.thousands ? groupThousands(intPart, st.thousandSeparator) : intPart;
  if (!fracPart.empty()) {
    out.push_back(st.decimalSeparator);
    out += fracPart;
  }
  return out;
}

std::string formatScientific(long double absValue, const Section& s, const FormatSettings& st) {
  int exponent = 0;
  long double mantissa = absValue;
  if (mantissa != 0) {
    exponent = static_cast<int>(std::floor(std::log10(mantissa)));
    mantissa = absValue / std::pow(10.0L, exponent);
    std::string i, f;
    roundedDigits(mantissa, s.maxFrac, i, f);
    if (i.size() > 1 && i.find_first_not_of('0') != std::string::npos && std::stoi(i) >= 10) {
      ++exponent;
      mantissa /= 10;
    }
  }
  Section fixed = s;
  fixed.minInt = 1;
  fixed.thousands = false;
  std::string out = formatFixed(mantissa, fixed, st);
  out.push_back(s.expUpper ? 'E' : 'e');
  if (exponent < 0)
    out.push_back('-');
  else if (s.expAlwaysSign)
    out.push_back('+');
  std::string digits = std::to_string(std::abs(exponent));
  if (static_cast<int>(digits.size()) < s.expDigits)
    digits.insert(0, s.expDigits - digits.size(), '0');
  return out + digits;
}

}  // namespace

std::string formatGeneral(double value, char decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";  // also -0
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string text(buf);
  std::size_t e = text.find('E');
  if (e != std::string::npos) {
    // "1E+20" -> "1E20", "1E-05" -> "1E-5".
    std::string mant = text.substr(0, e);
    int exp = std::atoi(text.c_str() + e + 1);
    text = mant + "E" + std::to_string(exp);
  }
  if (decimalSeparator != '.') {
    std::size_t dot = text.find('.');
    if (dot != std::string::npos) text[dot] = decimalSeparator;
  }
  return text;
}

std::string formatFloat(std::string_view format, long double value,
                        const FormatSettings& settings) {
  if (format.empty()) return formatGeneral(static_cast<double>(value), settings.decimalSeparator);
  if (std::isnan(value) || std::isinf(value))
    return formatGeneral(static_cast<double>(value), settings.decimalSeparator);
  std::vector<std::string_view> texts = splitSections(format);
  std::vector<Section> sections;
  for (std::size_t i = 0; i < texts.size() && i < 3; ++i)
    sections.push_back(parseSection(texts[i]));

  std::size_t pick = 0;
  bool withMinus = false;
  if (value < 0 && !roundsToZero(value, sections[0])) {
    // A negative section that would show the value as zero would hide its sign: the
    // first section shows it, with a minus.
    if (sections.size() > 1 && !texts[1].empty() && !roundsToZero(value, sections[1]))
      pick = 1;
    else
      withMinus = true;
  }
  if (sections.size() > 2 && !texts[2].empty() && roundsToZero(value, sections[pick])) {
    pick = 2;
    withMinus = false;
  }

  const Section chosen = sections[pick];
  std::string out = chosen.prefix;
  if (chosen.hasNumber) {
    if (withMinus) out.push_back('-');
    long double absValue = std::fabs(value);
    out += chosen.scientific ? formatScientific(absValue, chosen, settings)
                             : formatFixed(absValue, chosen, settings);
  }
  out += chosen.suffix;
  return out;
}

std::optional<double> parseDecimal(std::string_view text) {
  std::string_view s = text;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && digit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && digit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < s.size() && digit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  // from_chars knows no leading '+'.
  std::string_view body = s;
  if (body.front() == '+') body.remove_prefix(1);
  double v = 0;
  const auto res = std::from_chars(body.data(), body.data() + body.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    // Beyond the range of a double: infinity or zero, as the magnitude says.
    const bool tiny = body.find_first_of("123456789") == std::string_view::npos ||
                      body.find("e-") != std::string_view::npos ||
                      body.find("E-") != std::string_view::npos;
    v = tiny ? 0.0 : HUGE_VAL;
    if (body.front() == '-') v = -v;
  } else if (res.ec != std::errc() || res.ptr != body.data() + body.size()) {
    return std::nullopt;
  }
  return v;
}

}  // namespace qadj::numbers
