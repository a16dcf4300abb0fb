#include <gtest/gtest.h>

#include "qadj/grid/number_format.h"
#include "qadj/grid/summary.h"

using namespace qadj::grid;

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
  EXPECT_EQ(formatGeneral(10), "10");
  EXPECT_EQ(formatGeneral(-0.125), "-0.125");
  EXPECT_EQ(formatGeneral(0.1 + 0.2), "0.3");
  EXPECT_EQ(formatGeneral(1e20), "1E20");
  EXPECT_EQ(formatGeneral(1e-5), "1E-5");
  EXPECT_EQ(formatGeneral(2.5, ','), "2,5");
}

TEST(FormatFloat, DecimalSeparatorComesFromTheSettings) {
  NumberFormatSettings german{',', '.'};
  EXPECT_EQ(formatFloat("#,##0.00", 1234.5, german), "1.234,50");
}

TEST(SummaryAccumulator, KindsFollowTheHasValueRule) {
  struct Case {
    TSummaryType type;
    std::vector<double> values;
    std::string text;
  };
  const std::vector<Case> cases = {
      {TSummaryType::cstSum, {}, "0.00"},
      {TSummaryType::cstSum, {2, 0.5, 0}, "2.50"},
      {TSummaryType::cstSum, {-1, -2}, "-3.00"},
      {TSummaryType::cstMin, {3, 0, 5}, "MIN=0.00"},  // a null counted as 0
      {TSummaryType::cstMin, {-3, 4}, "MIN=-3.00"},
      {TSummaryType::cstMax, {-3, -4}, "MAX=-3.00"},  // first value taken, not 0
      {TSummaryType::cstCount, {0, 0, 0}, "3"},
      {TSummaryType::cstAvg, {1, 2, 4}, "AVG=2.33"},
      {TSummaryType::cstAvg, {}, "AVG=0.00"},
      {TSummaryType::cstNone, {1, 2}, ""},
  };
  for (const Case& c : cases) {
    SummaryAccumulator acc;
    acc.value = 99;  // leftover from an earlier load
    acc.hasValue = true;
    acc.reset();
    for (double v : c.values) acc.add(c.type, c.type == TSummaryType::cstCount ? 0 : v);
    acc.finish(c.type, static_cast<long>(c.values.size()));
    EXPECT_EQ(footerText(c.type, "", acc.value), c.text) << static_cast<int>(c.type);
  }
}

TEST(SummaryAccumulator, ExplicitFormatReplacesTheDefault) {
  EXPECT_EQ(footerText(TSummaryType::cstSum, "0.0 'kg'", 2.25), "2.3 kg");
  EXPECT_EQ(footerText(TSummaryType::cstNone, "0.00", 5), "");
  EXPECT_EQ(defaultFooterFormat(TSummaryType::cstCount), "0");
  EXPECT_EQ(defaultFooterFormat(TSummaryType::cstAvg), "AVG=0.00;AVG=-0.00");
}

TEST(FormatFloat, ANegativeSectionThatRoundsToZeroKeepsTheSign) {
  EXPECT_EQ(formatFloat("0.00;-0", -0.3), "-0.30");
  EXPECT_EQ(formatFloat("0.00;(0)", -0.3), "-0.30");
  EXPECT_EQ(formatFloat("0.00;-0", -3), "-3");  // the section shows what it can
  EXPECT_EQ(formatFloat("0.00;-0;'zero'", -0.001), "zero");
}

TEST(SummaryAccumulator, DateTotalsShowAPrefixAndTheDate) {
  const long double day = 46364;     // 2026-12-08
  const long double noon = 46364.5;  // 2026-12-08 12:00
  EXPECT_EQ(footerText(TSummaryType::cstMin, "", day, {}, true), "MIN=2026-12-08");
  EXPECT_EQ(footerText(TSummaryType::cstMax, "", noon, {}, true), "MAX=2026-12-08 12:00:00");
  EXPECT_EQ(footerText(TSummaryType::cstAvg, "", day, {}, true), "AVG=2026-12-08");
  EXPECT_EQ(footerText(TSummaryType::cstSum, "", day, {}, true), "2026-12-08");
  EXPECT_EQ(footerText(TSummaryType::cstMin, "First: ", day, {}, true), "First: 2026-12-08");
  EXPECT_EQ(footerText(TSummaryType::cstCount, "", 3, {}, true), "3");  // a count is a number
}
