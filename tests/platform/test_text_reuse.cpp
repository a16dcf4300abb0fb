// Conversions reuse one iconv descriptor per thread and skip iconv for plain ASCII:
// neither may change a result, also after a failed or lossy conversion in between.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "qadj/platform/error.h"
#include "qadj/platform/text.h"

using namespace qadj::text;

namespace {
const std::string kTishiGbk = "\xCC\xE1\xCA\xBE";           // 提示
const std::string kTishiUtf8 = "\xE6\x8F\x90\xE7\xA4\xBA";  // 提示
}  // namespace

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
