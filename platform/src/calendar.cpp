#include "qadj/platform/calendar.h"

namespace qadj::calendar {

namespace {
// Days from 0000-03-01 (the start of a 400-year era in this reckoning) to 1970-01-01.
constexpr long kUnixShift = 719468;
}  // namespace

long daysFromCivil(long year, int month, int day) {
  const auto m = static_cast<unsigned>(month);
  year -= m <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const auto yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - kUnixShift;
}

void civilFromDays(long days, long& year, int& month, int& day) {
  const long z = days + kUnixShift;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<long>(yoe) + era * 400 + (month <= 2);
}

bool isValidDate(long year, int month, int day) {
  if (month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

}  // namespace qadj::calendar
