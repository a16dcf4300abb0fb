// Text conversions between GBK, UTF-8 and UTF-16. They reuse one iconv descriptor per
// thread and skip iconv for plain ASCII: neither may change a result, also after a
// failed or lossy conversion in between.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

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
  // Cut, stray, overlong, a surrogate, beyond the plane GBK draws from: the table
  // converts none of them, and iconv refuses them.
  for (const char* bad : {"\xC3", "a\xE6\x8F", "\x80", "\xC0\x80", "\xE0\x80\xAF", "\xED\xA0\x80",
                          "\xF0\x9F\x98\x80", "\xE6\x8F\x90\xFE"}) {
    std::string out = "kept";
    EXPECT_FALSE(appendUtf8AsGbk(bad, out)) << bad;
    EXPECT_EQ(out, "kept");
    EXPECT_THROW(utf8ToGbk(bad), qadj::EConvertError) << bad;
  }
  EXPECT_THROW(utf16ToGbk(u"\U0001F600"), qadj::EConvertError);
  EXPECT_THROW(utf16ToUtf8(std::u16string(1, u'\xD800')), qadj::EConvertError);
  EXPECT_FALSE(isValidGbk("\x81\x20"));
  EXPECT_TRUE(isValidGbk(kTishiGbk + "abc"));
  EXPECT_TRUE(isValidGbk(""));
}

// The table gives every character the GBK form iconv gives it, and none where iconv
// has none (iconv's lossy form then writes '?').
TEST(TextConversion, TheTableConvertsEveryCharacterAsIconvDoes) {
  int held = 0;
  for (std::uint32_t cp = 1; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string utf8 = utf16ToUtf8(std::u16string(1, static_cast<char16_t>(cp)));
    std::string table = "x";
    const std::string iconv = utf8ToGbkLossy(utf8);
    if (appendUtf8AsGbk(utf8, table)) {
      ++held;
      EXPECT_EQ(table, "x" + iconv) << std::hex << cp;
    } else {
      EXPECT_EQ(iconv, "?") << std::hex << cp;
    }
  }
  EXPECT_GT(held, 21000);  // GBK's 21 886 characters and ASCII, less what Unicode lacks
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

TEST(TextConversionReuse, AsciiTakesTheSameFormInEveryDirection) {
  const std::string ascii = "SELECT 1 FROM GSTRYGL0 WHERE RYDM00='0012'";
  const std::u16string wide(ascii.begin(), ascii.end());
  EXPECT_EQ(utf8ToGbk(ascii), ascii);
  EXPECT_EQ(gbkToUtf8(ascii), ascii);
  EXPECT_EQ(gbkToUtf16(ascii), wide);
  EXPECT_EQ(utf8ToUtf16(ascii), wide);
  EXPECT_EQ(utf16ToGbk(wide), ascii);
  EXPECT_EQ(utf16ToUtf8(wide), ascii);
  // The byte after ASCII is not ASCII: it still goes through the real conversion.
  EXPECT_THROW(gbkToUtf8("abc\xCC"), qadj::EConvertError);
  EXPECT_EQ(gbkToUtf8Lossy("abc\xFF"), "abc?");
  // A UTF-16 unit above 0x7F is no ASCII either, even with a zero low byte.
  EXPECT_EQ(utf16ToUtf8(u"a\u0100"), "a\xC4\x80");
}

TEST(TextConversionReuse, FailuresAndLossyMarksLeaveLaterConversionsIntact) {
  for (int round = 0; round < 3; ++round) {
    // A truncated character ends a conversion half-way through the descriptor.
    EXPECT_THROW(gbkToUtf8("x" + kTishiGbk.substr(0, 3)), qadj::EConvertError);
    EXPECT_EQ(gbkToUtf8(kTishiGbk), kTishiUtf8);
    EXPECT_THROW(utf8ToGbk(kTishiUtf8.substr(0, 4)), qadj::EConvertError);
    EXPECT_EQ(utf8ToGbk(kTishiUtf8), kTishiGbk);
    EXPECT_THROW(utf8ToGbk("\xF0\x9F\x98\x80"), qadj::EConvertError);  // no GBK form
    EXPECT_EQ(utf8ToGbkLossy("a\xF0\x9F\x98\x80" + kTishiUtf8), "a?" + kTishiGbk);
    EXPECT_EQ(utf8ToGbk(kTishiUtf8 + "b"), kTishiGbk + "b");
  }
}

TEST(TextConversionReuse, ResultsOfEverySizeAreExact) {
  // Around the size of the buffer kept on the stack, and far beyond it.
  for (const std::size_t count : {1u, 40u, 41u, 42u, 43u, 64u, 65u, 100u, 20000u}) {
    std::string gbk, utf8;
    for (std::size_t i = 0; i < count; ++i) {
      gbk += kTishiGbk;
      utf8 += kTishiUtf8;
    }
    EXPECT_EQ(utf8ToGbk(utf8), gbk) << count;
    EXPECT_EQ(gbkToUtf8(gbk), utf8) << count;
    EXPECT_EQ(utf16ToGbk(gbkToUtf16(gbk)), gbk) << count;
  }
}

TEST(TextConversionReuse, ThreadsConvertAtTheSameTime) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string utf8 = kTishiUtf8 + std::to_string(t * 10000 + i);
        if (gbkToUtf8(utf8ToGbk(utf8)) != utf8) ++wrong[static_cast<std::size_t>(t)];
        if (i % 100 == 0) {
          try {
            (void)utf8ToGbk("\xF0\x9F\x98\x80");
            ++wrong[static_cast<std::size_t>(t)];
          } catch (const qadj::EConvertError&) {
          }
        }
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(wrong[static_cast<std::size_t>(t)], 0) << "thread " << t;
}
