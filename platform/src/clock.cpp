// Today's date, or the fake one of a test.
#include "qadj/platform/clock.h"

#include <ctime>
#include <mutex>

namespace qadj {
namespace {
std::mutex gMutex;
std::optional<Date> gFake;
}  // namespace

Date today() {
  {
    std::lock_guard lock(gMutex);
    if (gFake) return *gFake;
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void setFakeToday(std::optional<Date> date) {
  std::lock_guard lock(gMutex);
  gFake = date;
}

}  // namespace qadj
