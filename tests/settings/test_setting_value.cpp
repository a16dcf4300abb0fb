#include <gtest/gtest.h>

#include "qadj/settings/setting_value.h"

using qadj::parseSettingInt;
using qadj::settingIntOr;

TEST(SettingValue, DecimalWithOptionalSign) {
  EXPECT_EQ(parseSettingInt("0"), 0);
  EXPECT_EQ(parseSettingInt("900"), 900);
  EXPECT_EQ(parseSettingInt("-5"), -5);
  EXPECT_EQ(parseSettingInt("+7"), 7);
  EXPECT_EQ(parseSettingInt("007"), 7);
  EXPECT_EQ(parseSettingInt("2147483647"), 2147483647);
  EXPECT_EQ(parseSettingInt("-2147483648"), INT32_MIN);
}

TEST(SettingValue, HexadecimalNeedsMoreThanThePrefix) {
  EXPECT_EQ(parseSettingInt("0x20"), 32);
  EXPECT_EQ(parseSettingInt("0X1f"), 31);
  EXPECT_EQ(parseSettingInt("0x0"), 0);
  EXPECT_EQ(parseSettingInt("0x"), std::nullopt);
  EXPECT_EQ(parseSettingInt("0X"), std::nullopt);
  // Colour numbers: the full 32-bit pattern, system colours included.
  EXPECT_EQ(parseSettingInt("0x00DCD9C5"), 0x00DCD9C5);
  EXPECT_EQ(parseSettingInt("0x8000000F"), static_cast<std::int32_t>(0x8000000Fu));
  EXPECT_EQ(parseSettingInt("0xFFFFFFFF"), -1);
  EXPECT_EQ(parseSettingInt("0x100000000"), std::nullopt);
  EXPECT_EQ(parseSettingInt("0x0000000000000010"), 16);
  EXPECT_EQ(parseSettingInt("0x1G"), std::nullopt);
}

TEST(SettingValue, AnythingElseIsNotANumber) {
  for (const char* text : {"", "abc", "-", "+", "1.5", "12abc", " 12", "12 ", "--1", "1e3", "$20",
                           "x20", "-0x20", "2147483648", "-2147483649", "99999999999"}) {
    EXPECT_EQ(parseSettingInt(text), std::nullopt) << text;
  }
  EXPECT_EQ(settingIntOr("abc", 110), 110);
  EXPECT_EQ(settingIntOr("", -3), -3);
  EXPECT_EQ(settingIntOr("0x20", 110), 32);
}
