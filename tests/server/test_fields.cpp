// Field value conversions: the general number notation, text-to-number conversion
// and the characters a field accepts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "qadj/server/fields.h"
#include "support/dataset_fixture.h"

namespace qadj {
namespace {

using dstest::errorText;

TEST(FormatFloatGeneral, FifteenSignificantDigitsWithoutTrailingZeros) {
  EXPECT_EQ(FormatFloatGeneral(2.5), "2.5");
  EXPECT_EQ(FormatFloatGeneral(10), "10");
  EXPECT_EQ(FormatFloatGeneral(0), "0");
  EXPECT_EQ(FormatFloatGeneral(-0.0), "0");
  EXPECT_EQ(FormatFloatGeneral(-3.25), "-3.25");
  EXPECT_EQ(FormatFloatGeneral(0.1 + 0.2), "0.3");  // 15 digits hide the binary error
  EXPECT_EQ(FormatFloatGeneral(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FormatFloatGeneral(123456789012345.0), "123456789012345");
  EXPECT_EQ(FormatFloatGeneral(1e20), "1E20");
  EXPECT_EQ(FormatFloatGeneral(1.5e-5), "1.5E-5");
  EXPECT_EQ(FormatFloatGeneral(0.0001), "0.0001");
  EXPECT_EQ(FormatFloatGeneral(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatFloatGeneral(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FormatFloatGeneral(std::nan("")), "NAN");
}

TEST(ParseFloatText, AcceptsDecimalNumbersOnly) {
  double v = -1;
  EXPECT_TRUE(ParseFloatText("2.5", v));
  EXPECT_EQ(v, 2.5);
  EXPECT_TRUE(ParseFloatText(" +12 ", v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(ParseFloatText("-.5", v));
  EXPECT_EQ(v, -0.5);
  EXPECT_TRUE(ParseFloatText("5.", v));
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(ParseFloatText("1e3", v));
  EXPECT_EQ(v, 1000);
  EXPECT_TRUE(ParseFloatText("1E-2", v));
  EXPECT_EQ(v, 0.01);
  EXPECT_TRUE(ParseFloatText("1e999", v));
  EXPECT_TRUE(std::isinf(v));
  EXPECT_TRUE(ParseFloatText("1e-999", v));
  EXPECT_EQ(v, 0);
  for (const char* bad : {"", " ", "+", "-", ".", "e5", "1e", "1e+", "1,5", "1.2.3", "0x10", "inf",
                          "nan", "12abc", "1 2", "--1"}) {
    v = 42;
    EXPECT_FALSE(ParseFloatText(bad, v)) << bad;
    EXPECT_EQ(v, 42) << bad;
  }
}

TEST(FieldText, ConversionsBetweenTextAndNumber) {
  dstest::DetailFixture fx(1, [](packet::Packet& p) { p.rows[0][1] = std::string("12.5"); });
  auto& ds = fx.ds();
  TField* name = ds.FieldByName("RYMC00");
  name->SetReadOnly(false);
  EXPECT_EQ(name->AsFloat(), 12.5);
  ds.Edit();
  name->SetAsFloat(0.25);
  EXPECT_EQ(name->AsString(), "0.25");
  name->SetText("abc ");
  EXPECT_EQ(name->AsString(), "abc ");
  EXPECT_EQ(errorText([&] { (void)name->AsFloat(); }),
            "'abc ' is not a valid floating point value for field 'RYMC00'");
  TField* adj = ds.FieldByName("TZXL00");
  adj->SetAsString("1e2");
  EXPECT_EQ(adj->AsFloat(), 100);
  EXPECT_EQ(adj->Text(), "100");
  adj->Clear();
  EXPECT_TRUE(adj->IsNull());
  EXPECT_EQ(adj->DisplayText(), "");
}

}  // namespace
}  // namespace qadj
