// Proleptic Gregorian calendar arithmetic on day numbers, for the date values of the
// data sets (days since 1899-12-30) and of the databases.
#pragma once

#include "qadj/platform/export.h"

namespace qadj::calendar {

// Day number of a calendar date, counted from 1970-01-01 (day 0; earlier dates are
// negative). month must be 1..12 (not checked); a day past the month's end counts on
// into the next month (2026-02-30 is 2026-03-02).
QADJ_PLATFORM_API long daysFromCivil(long year, int month, int day);

// The calendar date of a day number counted from 1970-01-01; the inverse of
// daysFromCivil for every valid date.
QADJ_PLATFORM_API void civilFromDays(long days, long& year, int& month, int& day);

// True when day is a day of the month in the given year (leap years counted).
QADJ_PLATFORM_API bool isValidDate(long year, int month, int day);

}  // namespace qadj::calendar
