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
  // A field of quantities holds what it shows: typed numbers rounded to hundredths.
  auto* quantity = dynamic_cast<TFloatField*>(adj);
  ASSERT_NE(quantity, nullptr);
  quantity->SetInHundredths(true);
  adj->SetText("2.675");
  EXPECT_EQ(adj->Text(), "2.68");
  adj->SetAsFloat(-0.001);
  EXPECT_EQ(adj->Text(), "0");
  EXPECT_NE(errorText([&] { adj->SetAsFloat(1e13); }).find("TZXL00"), std::string::npos);
  EXPECT_EQ(adj->Text(), "0");  // refused, nothing stored
}

}  // namespace
}  // namespace qadj
