// The clock seam: today's local date, replaceable by a fixed date in tests.
#pragma once

#include <optional>

#include "qadj/platform/export.h"

namespace qadj {

struct Date {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  friend bool operator==(const Date&, const Date&) = default;
};

// The local date of today, or the fake date while one is set.
QADJ_PLATFORM_API Date today();

// Sets (or with nullopt clears) the fake date that today() returns.
QADJ_PLATFORM_API void setFakeToday(std::optional<Date> date);

// Sets the fake date for the lifetime of the guard (tests).
class QADJ_PLATFORM_API ScopedFakeToday {
 public:
  explicit ScopedFakeToday(Date date) { setFakeToday(date); }
  ~ScopedFakeToday() { setFakeToday(std::nullopt); }
  ScopedFakeToday(const ScopedFakeToday&) = delete;
  ScopedFakeToday& operator=(const ScopedFakeToday&) = delete;
};

}  // namespace qadj
