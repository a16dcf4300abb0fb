#include "qadj/appserver/dates.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>

#include "qadj/platform/calendar.h"

namespace qadj::appserver::dates {
namespace {

constexpr double kUnixEpoch = 25569.0;  // 1970-01-01 as an automation date

// Reads exactly n digits at text[pos]; advances pos.
bool digits(std::string_view text, std::size_t& pos, std::size_t n, int& out) {
  if (pos + n > text.size()) return false;
  out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = text[pos + i];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    out = out * 10 + (c - '0');
  }
  pos += n;
  return true;
}

double compose(int y, int mo, int d, int h, int mi, double s) {
  return fromCivil(y, mo, d) + (h * 3600.0 + mi * 60.0 + s) / 86400.0;
}

void splitDays(double days, int& y, int& m, int& d, long& seconds) {
  double whole = std::floor(days);
  seconds = std::lround((days - whole) * 86400.0);
  if (seconds >= 86400) {
    whole += 1;
    seconds -= 86400;
  }
  long year = 0;
  calendar::civilFromDays(static_cast<long>(whole - kUnixEpoch), year, m, d);
  y = static_cast<int>(year);
}

}  // namespace

double fromCivil(int year, int month, int day) {
  return static_cast<double>(calendar::daysFromCivil(year, month, day)) + kUnixEpoch;
}

std::optional<double> parseTimestamp(std::string_view t) {
  std::size_t p = 0;
  int y, mo, d, h = 0, mi = 0, s = 0;
  double frac = 0;
  if (!digits(t, p, 4, y) || p >= t.size() || t[p++] != '-' || !digits(t, p, 2, mo) ||
      p >= t.size() || t[p++] != '-' || !digits(t, p, 2, d))
    return std::nullopt;
  if (p < t.size()) {
    if (t[p] != ' ' && t[p] != 'T') return std::nullopt;
    ++p;
    if (!digits(t, p, 2, h) || p >= t.size() || t[p++] != ':' || !digits(t, p, 2, mi))
      return std::nullopt;
    if (p < t.size() && t[p] == ':') {
      ++p;
      if (!digits(t, p, 2, s)) return std::nullopt;
      if (p < t.size() && t[p] == '.') {
        ++p;
        double scale = 0.1;
        const std::size_t start = p;
        while (p < t.size() && std::isdigit(static_cast<unsigned char>(t[p]))) {
          frac += (t[p] - '0') * scale;
          scale /= 10;
          ++p;
        }
        if (p == start) return std::nullopt;
      }
    }
    if (p != t.size()) return std::nullopt;
  }
  if (!calendar::isValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59) return std::nullopt;
  return compose(y, mo, d, h, mi, s + frac);
}

std::string formatDate(double days) {
  int y, m, d;
  long sec;
  splitDays(days, y, m, d, sec);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string formatTimestamp(double days) {
  int y, m, d;
  long sec;
  splitDays(days, y, m, d, sec);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02ld:%02ld:%02ld", y, m, d, sec / 3600,
                (sec / 60) % 60, sec % 60);
  return buf;
}

double toDate(std::string_view text, std::string_view mask) {
  auto fail = [&]() -> double {
    throw std::invalid_argument("TO_DATE: '" + std::string(text) + "' does not match the mask '" +
                                std::string(mask) + "'");
  };
  auto upper = [](std::string_view m, std::size_t at, std::string_view el) {
    if (at + el.size() > m.size()) return false;
    for (std::size_t i = 0; i < el.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(m[at + i])) != el[i]) return false;
    return true;
  };
  int y = -1, mo = 1, d = 1, h = 0, mi = 0, s = 0;
  std::size_t tp = 0, mp = 0;
  while (mp < mask.size()) {
    if (upper(mask, mp, "YYYY")) {
      if (!digits(text, tp, 4, y)) fail();
      mp += 4;
    } else if (upper(mask, mp, "HH24")) {
      if (!digits(text, tp, 2, h)) fail();
      mp += 4;
    } else if (upper(mask, mp, "MM")) {
      if (!digits(text, tp, 2, mo)) fail();
      mp += 2;
    } else if (upper(mask, mp, "DD")) {
      if (!digits(text, tp, 2, d)) fail();
      mp += 2;
    } else if (upper(mask, mp, "HH")) {
      if (!digits(text, tp, 2, h)) fail();
      mp += 2;
    } else if (upper(mask, mp, "MI")) {
      if (!digits(text, tp, 2, mi)) fail();
      mp += 2;
    } else if (upper(mask, mp, "SS")) {
      if (!digits(text, tp, 2, s)) fail();
      mp += 2;
    } else {
      if (tp >= text.size() || text[tp] != mask[mp]) fail();
      ++tp;
      ++mp;
    }
  }
  if (tp != text.size() || y < 0) fail();
  if (!calendar::isValidDate(y, mo, d) || h > 23 || mi > 59 || s > 59)
    throw std::invalid_argument("TO_DATE: '" + std::string(text) + "' is not a valid date");
  return compose(y, mo, d, h, mi, s);
}

double today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return fromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::string utcText(std::time_t moment) {
  std::tm utc{};
  gmtime_r(&moment, &utc);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &utc);
  return buf;
}

std::string utcNow() {
  return utcText(std::time(nullptr));
}

}  // namespace qadj::appserver::dates
