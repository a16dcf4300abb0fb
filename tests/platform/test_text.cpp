#include <gtest/gtest.h>

#include <string>

#include "qadj/platform/calendar.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"

using namespace qadj::text;

namespace {
const std::string kTishiGbk = "\xCC\xE1\xCA\xBE";           // 提示
const std::string kTishiUtf8 = "\xE6\x8F\x90\xE7\xA4\xBA";  // 提示
const std::u16string kTishiUtf16 = u"\u63D0\u793A";
}  // namespace

TEST(TextConversion, RoundTripsBetweenAllThreeForms) {
  const std::string gbk = "A1 " + kTishiGbk + " z";
  const std::string utf8 = "A1 " + kTishiUtf8 + " z";
  EXPECT_EQ(gbkToUtf8(gbk), utf8);
  EXPECT_EQ(utf8ToGbk(utf8), gbk);
  EXPECT_EQ(gbkToUtf16(gbk), u"A1 " + kTishiUtf16 + u" z");
  EXPECT_EQ(utf16ToGbk(gbkToUtf16(gbk)), gbk);
  EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(utf8)), utf8);
  EXPECT_EQ(utf8ToUtf16(utf8), u"A1 " + kTishiUtf16 + u" z");
}

TEST(TextConversion, EmptyAndEmbeddedNulSurvive) {
  EXPECT_EQ(gbkToUtf8(""), "");
  EXPECT_EQ(gbkToUtf16(""), u"");
  const std::string withNul("a\0b", 3);
  EXPECT_EQ(gbkToUtf8(withNul), withNul);
  EXPECT_EQ(utf16ToGbk(std::u16string(u"a\0b", 3)), withNul);
}

TEST(TextConversion, LongTextCrossesInternalBufferBoundaries) {
  std::string gbk;
  std::string utf8;
  for (int i = 0; i < 5000; ++i) {
    gbk += kTishiGbk + "x";
    utf8 += kTishiUtf8 + "x";
  }
  EXPECT_EQ(gbkToUtf8(gbk), utf8);
  EXPECT_EQ(utf8ToGbk(utf8), gbk);
}

TEST(TextConversion, InvalidInputThrowsConvertError) {
  EXPECT_THROW(gbkToUtf8("\xFF"), qadj::EConvertError);
  EXPECT_THROW(gbkToUtf8("ab\x81"), qadj::EConvertError);     // lone lead byte at the end
  EXPECT_THROW(gbkToUtf16("\x81\x20"), qadj::EConvertError);  // bad trail byte
  EXPECT_THROW(utf8ToGbk("\xC3"), qadj::EConvertError);
  EXPECT_THROW(utf8ToGbk("\xF0\x9F\x98\x80"), qadj::EConvertError);  // not in GBK
  EXPECT_THROW(utf16ToGbk(u"\U0001F600"), qadj::EConvertError);
  EXPECT_THROW(utf16ToUtf8(std::u16string(1, u'\xD800')), qadj::EConvertError);
  EXPECT_FALSE(isValidGbk("\x81\x20"));
  EXPECT_TRUE(isValidGbk(kTishiGbk + "abc"));
  EXPECT_TRUE(isValidGbk(""));
}

TEST(TextConversion, LossyFormsMarkEachBadCharacterOnce) {
  EXPECT_EQ(gbkToUtf8Lossy("a\xFF"
                           "b"),
            "a?b");
  EXPECT_EQ(gbkToUtf8Lossy("x\x81"), "x?");
  EXPECT_EQ(gbkToUtf8Lossy("\x81\x20" + kTishiGbk), "? " + kTishiUtf8);
  // A character GBK cannot hold becomes one '?', not one per UTF-8 byte.
  EXPECT_EQ(utf8ToGbkLossy("a\xF0\x9F\x98\x80z"), "a?z");
  EXPECT_EQ(utf8ToGbkLossy("a\xC3z"), "a?z");
  EXPECT_EQ(utf8ToGbkLossy(kTishiUtf8), kTishiGbk);
}

TEST(GbkCharacters, CharLengthCountsDoubleByteCharacters) {
  const std::string s = "a" + kTishiGbk + "\x81";
  EXPECT_EQ(gbkCharLength(s, 0), 1u);
  EXPECT_EQ(gbkCharLength(s, 1), 2u);
  EXPECT_EQ(gbkCharLength(s, 3), 2u);
  EXPECT_EQ(gbkCharLength(s, 5), 1u);  // lone lead byte at the end
  // A trail byte in the ASCII range belongs to its lead byte.
  EXPECT_EQ(gbkCharLength("\x81\x5C", 0), 2u);
  EXPECT_EQ(gbkCharLength("\x80"
                          "a",
                          0),
            1u);
  EXPECT_EQ(gbkCharLength("\xFF"
                          "a",
                          0),
            1u);
}

TEST(GbkCharacters, LastCharOffsetFindsTheStartOfTheLastCharacter) {
  EXPECT_EQ(gbkLastCharOffset(""), std::string_view::npos);
  EXPECT_EQ(gbkLastCharOffset("abc"), 2u);
  EXPECT_EQ(gbkLastCharOffset("ab" + kTishiGbk), 4u);
  // The trail byte 0x2E of a double-byte character is not a period of its own.
  EXPECT_EQ(gbkLastCharOffset("a\x81\x2E"), 1u);
  EXPECT_EQ(gbkLastCharOffset(kTishiGbk + "\x81"), 4u);
  EXPECT_EQ(gbkLastCharOffset("\xD6\xD0"
                              "."),
            2u);
}

TEST(AsciiHelpers, CaseFoldsAsciiLettersOnly) {
  EXPECT_TRUE(asciiEqualsNoCase("Select", "SELECT"));
  EXPECT_FALSE(asciiEqualsNoCase("SELECT", "SELECTS"));
  // '[' and '{' sit 0x20 apart like letters; bytes of GBK text are never folded.
  EXPECT_FALSE(asciiEqualsNoCase("[", "{"));
  EXPECT_FALSE(asciiEqualsNoCase("\xC1", "\xE1"));
  EXPECT_TRUE(asciiEqualsNoCase(kTishiGbk + "ab", kTishiGbk + "AB"));
  EXPECT_EQ(hexDigitValue('0'), 0);
  EXPECT_EQ(hexDigitValue('f'), 15);
  EXPECT_EQ(hexDigitValue('F'), 15);
  EXPECT_EQ(hexDigitValue('g'), -1);
  EXPECT_EQ(hexDigitValue('/'), -1);
}

TEST(Calendar, DayNumbersRoundTripAcrossCenturiesAndLeapDays) {
  using namespace qadj::calendar;
  EXPECT_EQ(daysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(daysFromCivil(1899, 12, 30), -25569);  // the origin of date values
  EXPECT_EQ(daysFromCivil(2000, 3, 1) - daysFromCivil(2000, 2, 28), 2);
  EXPECT_EQ(daysFromCivil(1900, 3, 1) - daysFromCivil(1900, 2, 28), 1);
  for (long day = daysFromCivil(1600, 1, 1); day <= daysFromCivil(2400, 12, 31); day += 17) {
    long y = 0;
    int m = 0, d = 0;
    civilFromDays(day, y, m, d);
    ASSERT_TRUE(isValidDate(y, m, d)) << day;
    ASSERT_EQ(daysFromCivil(y, m, d), day);
  }
  EXPECT_TRUE(isValidDate(2024, 2, 29));
  EXPECT_FALSE(isValidDate(2026, 2, 29));
  EXPECT_FALSE(isValidDate(2100, 2, 29));
  EXPECT_FALSE(isValidDate(2026, 4, 31));
  EXPECT_FALSE(isValidDate(2026, 13, 1));
}
