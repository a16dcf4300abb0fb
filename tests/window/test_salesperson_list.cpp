#include <gtest/gtest.h>

#include "qadj/window/salesperson_list.h"

using namespace qadj::window;

TEST(SalespersonList, TheCodeIsTheFirstFourBytesOfAnEntry) {
  EXPECT_EQ(salespersonCodeOf("0012 | \xD5\xC5\xC8\xFD"), "0012");
  EXPECT_EQ(salespersonCodeOf("00"), "00");
  EXPECT_EQ(salespersonCodeOf("\xC7\xEB\xD1\xA1\xD4\xF1"), "\xC7\xEB\xD1\xA1");
  EXPECT_EQ(salespersonEntry("0012", "\xD5\xC5\xC8\xFD"), "0012 | \xD5\xC5\xC8\xFD");
}
