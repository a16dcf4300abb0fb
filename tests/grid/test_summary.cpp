#include <gtest/gtest.h>

#include "qadj/grid/summary.h"

using namespace qadj::grid;

TEST(SummaryAccumulator, KindsFollowTheHasValueRule) {
  struct Case {
    TSummaryType type;
    std::vector<double> values;
    std::string text;
    bool quantities = false;  // a field held in hundredths: sums counted exactly
    std::int64_t hundredths = 0;
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
      // 0.1 + 0.2 added in binary is above 0.3, and a check against 0.3 would refuse it.
      {TSummaryType::cstSum, {0.1, 0.2}, "0.30", true, 30},
      {TSummaryType::cstSum,
       {999999999999.99, -0.01, 0.07},
       "1000000000000.05",
       true,
       100000000000005},
      {TSummaryType::cstAvg, {0.01, 0.02}, "AVG=0.02", true, 3},
      {TSummaryType::cstMax, {0.1, 0.2}, "MAX=0.20", true, 0},
  };
  for (const Case& c : cases) {
    SummaryAccumulator acc;
    acc.value = 99;  // leftover from an earlier load
    acc.hasValue = true;
    acc.reset(c.quantities);
    for (double v : c.values) acc.add(c.type, c.type == TSummaryType::cstCount ? 0 : v);
    acc.finish(c.type, static_cast<long>(c.values.size()));
    EXPECT_EQ(footerText(c.type, "", acc.value), c.text) << static_cast<int>(c.type);
    EXPECT_EQ(acc.hundredths, c.hundredths) << c.text;
  }
}

TEST(SummaryAccumulator, ExplicitFormatReplacesTheDefault) {
  EXPECT_EQ(footerText(TSummaryType::cstSum, "0.0 'kg'", 2.25), "2.3 kg");
  EXPECT_EQ(footerText(TSummaryType::cstNone, "0.00", 5), "");
  EXPECT_EQ(defaultFooterFormat(TSummaryType::cstCount), "0");
  EXPECT_EQ(defaultFooterFormat(TSummaryType::cstAvg), "AVG=0.00;AVG=-0.00");
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
