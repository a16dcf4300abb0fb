// Numbers as text: the section formats of the footers, the general form, the reading of
// decimal text, and quantities in hundredths.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "qadj/platform/number_text.h"
#include "qadj/platform/quantity.h"

using namespace qadj;
using namespace qadj::numbers;

TEST(FormatFloat, TwoDecimalSectionsGiveSignFromTheNegativeSection) {
  EXPECT_EQ(formatFloat("0.00;-0.00", 12.5), "12.50");
  EXPECT_EQ(formatFloat("0.00;-0.00", -3), "-3.00");
  EXPECT_EQ(formatFloat("0.00;-0.00", 0), "0.00");
  EXPECT_EQ(formatFloat("0.00;-0.00", 1234567.891), "1234567.89");
  // The negative section carries the sign itself: the value is shown unsigned.
  EXPECT_EQ(formatFloat("0.00;(0.00)", -2.5), "(2.50)");
}

TEST(FormatFloat, PrefixesAndLiteralsAroundTheNumber) {
  EXPECT_EQ(formatFloat("MIN=0.00;MIN=-0.00", 1), "MIN=1.00");
  EXPECT_EQ(formatFloat("MAX=0.00;MAX=-0.00", -7.25), "MAX=-7.25");
  EXPECT_EQ(formatFloat("(COUNT=0)", 4), "(COUNT=4)");
  EXPECT_EQ(formatFloat("'Total: '0.0", 2.25), "Total: 2.3");
  EXPECT_EQ(formatFloat("\"x\"0", 9), "x9");
}

TEST(FormatFloat, RoundsHalfAwayFromZeroAndNeverShowsMinusZero) {
  EXPECT_EQ(formatFloat("0", 2.5), "3");
  EXPECT_EQ(formatFloat("0", -2.5), "-3");
  EXPECT_EQ(formatFloat("0.00;-0.00", 0.999), "1.00");
  EXPECT_EQ(formatFloat("0.00;-0.00", -0.001), "0.00");
  EXPECT_EQ(formatFloat("0.00", -0.001), "0.00");
}

TEST(FormatFloat, OptionalDigitsThousandsAndZeroSection) {
  EXPECT_EQ(formatFloat("#.##", 0.5), ".5");
  EXPECT_EQ(formatFloat("0.##", 2), "2");
  EXPECT_EQ(formatFloat("0.0#", 2.125), "2.13");
  EXPECT_EQ(formatFloat("#,##0.00", 1234567.5), "1,234,567.50");
  EXPECT_EQ(formatFloat("0.00;-0.00;'nil'", 0.001), "nil");
  EXPECT_EQ(formatFloat("0.00", -4), "-4.00");  // no negative section: leading minus
  EXPECT_EQ(formatFloat("000", 7), "007");
}

TEST(FormatFloat, ScientificAndGeneral) {
  EXPECT_EQ(formatFloat("0.00E+00", 12345), "1.23E+04");
  EXPECT_EQ(formatFloat("0.0E-0", 0.00125), "1.3E-3");
  EXPECT_EQ(formatFloat("0.00E+00", 9.999), "1.00E+01");
  EXPECT_EQ(formatFloat("", 2.5), "2.5");
  EXPECT_EQ(formatGeneral(-0.125), "-0.125");
  EXPECT_EQ(formatGeneral(1e-5), "1E-5");
  EXPECT_EQ(formatGeneral(2.5, ','), "2,5");
}

TEST(FormatFloat, DecimalSeparatorComesFromTheSettings) {
  FormatSettings german{',', '.'};
  EXPECT_EQ(formatFloat("#,##0.00", 1234.5, german), "1.234,50");
}

TEST(FormatFloat, ANegativeSectionThatRoundsToZeroKeepsTheSign) {
  EXPECT_EQ(formatFloat("0.00;-0", -0.3), "-0.30");
  EXPECT_EQ(formatFloat("0.00;(0)", -0.3), "-0.30");
  EXPECT_EQ(formatFloat("0.00;-0", -3), "-3");  // the section shows what it can
  EXPECT_EQ(formatFloat("0.00;-0;'zero'", -0.001), "zero");
}

TEST(FormatGeneral, FifteenSignificantDigitsWithoutTrailingZerosAndNoMinusZero) {
  EXPECT_EQ(formatGeneral(2.5), "2.5");
  EXPECT_EQ(formatGeneral(10), "10");
  EXPECT_EQ(formatGeneral(0), "0");
  EXPECT_EQ(formatGeneral(-0.0), "0");
  EXPECT_EQ(formatGeneral(-3.25), "-3.25");
  EXPECT_EQ(formatGeneral(0.1 + 0.2), "0.3");  // 15 digits hide the binary error
  EXPECT_EQ(formatGeneral(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(formatGeneral(123456789012345.0), "123456789012345");
  EXPECT_EQ(formatGeneral(1e20), "1E20");
  EXPECT_EQ(formatGeneral(1.5e-5), "1.5E-5");
  EXPECT_EQ(formatGeneral(0.0001), "0.0001");
  EXPECT_EQ(formatGeneral(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(formatGeneral(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(formatGeneral(std::nan("")), "NAN");
}

TEST(ParseDecimal, AcceptsDecimalNumbersOnly) {
  EXPECT_EQ(parseDecimal("2.5"), 2.5);
  EXPECT_EQ(parseDecimal(" +12 "), 12);
  EXPECT_EQ(parseDecimal("-.5"), -0.5);
  EXPECT_EQ(parseDecimal("5."), 5);
  EXPECT_EQ(parseDecimal("1e3"), 1000);
  EXPECT_EQ(parseDecimal("1E-2"), 0.01);
  EXPECT_TRUE(std::isinf(parseDecimal("1e999").value_or(0)));
  EXPECT_EQ(parseDecimal("1e-999"), 0);
  for (const char* bad : {"", " ", "+", "-", ".", "e5", "1e", "1e+", "1,5", "1.2.3", "0x10", "inf",
                          "nan", "12abc", "1 2", "--1"}) {
    EXPECT_EQ(parseDecimal(bad), std::nullopt) << bad;
  }
}

// What the operator typed is what moves: the decimal a double shows, rounded to
// hundredths half away from zero, never its binary neighbour.
TEST(Quantity, RoundsTheDecimalADoubleShows) {
  const struct {
    double value;
    std::int64_t hundredths;
    const char* text;
    const char* twoDecimals;
  } cases[] = {
      {2.675, 268, "2.68", "2.68"},
      {1.005, 101, "1.01", "1.01"},
      {0.125, 13, "0.13", "0.13"},
      {-0.125, -13, "-0.13", "-0.13"},
      {0.3 - 0.1, 20, "0.2", "0.20"},
      {-0.001, 0, "0", "0.00"},
      {-0.0, 0, "0", "0.00"},
      {2.004, 200, "2", "2.00"},
      {-2, -200, "-2", "-2.00"},
      {0.05, 5, "0.05", "0.05"},
      {4.9e-324, 0, "0", "0.00"},
      {999999999999.99, Quantity::kMostHundredths, "999999999999.99", "999999999999.99"},
  };
  for (const auto& c : cases) {
    const auto q = Quantity::round(c.value);
    ASSERT_TRUE(q) << c.value;
    EXPECT_EQ(q->hundredths(), c.hundredths) << c.value;
    EXPECT_EQ(q->text(), c.text);
    EXPECT_EQ(q->twoDecimals(), c.twoDecimals);
    EXPECT_EQ(Quantity::round(q->value()), q) << "a quantity's value reads back as itself";
  }
  for (const double beyond : {999999999999.995, 1e12, -1e13, std::nan(""), HUGE_VAL, -HUGE_VAL})
    EXPECT_EQ(Quantity::round(beyond), std::nullopt) << beyond;
  EXPECT_EQ(Quantity::ofHundredths(Quantity::kMostHundredths + 1), std::nullopt);
  QuantitySum sum;
  for (const char* typed : {"0.125", "0.375", "2.675"})
    sum.add(*Quantity::round(*parseDecimal(typed)));
  EXPECT_EQ(sum.quantity()->twoDecimals(), "3.19");  // 0.13 + 0.38 + 2.68, exactly
}
