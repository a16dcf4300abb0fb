#include "qadj/testing/unavailable.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace qadj::testing {

void databaseUnavailable(const std::string& why) {
  if (std::getenv("QADJ_SKIP_POSTGRES")) GTEST_SKIP() << why;
  FAIL() << why;
}

}  // namespace qadj::testing
