// The record-set packet codec: round trips, and rejection of every malformed input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "qadj/protocol/packet.h"

namespace qadj::packet {
namespace {

Packet sample() {
  Packet p;
  p.columns = {{"SPDM00", "String", 8, false},
               {"SPMC00", "FixedChar", 30, false},
               {"XL0000", "Float", 0, false},
               {"ZDRQ00", "DateTime", 0, true},
               {"NOTE", "Blob", 0, false}};
  // "可乐" in GBK; a text with an embedded NUL and trailing blanks.
  p.rows.push_back(
      {std::string("10000001"), std::string("\xBF\xC9\xC0\xD6"), 12.5, 46364.25, std::string("x")});
  p.rows.push_back({std::monostate{}, std::string("a\0b  ", 5), -0.0, std::monostate{}, 7.0});
  p.rows.push_back({std::string(""), std::monostate{}, std::monostate{}, 1.0, std::monostate{}});
  p.disableInserts = true;
  p.noResetCall = true;
  return p;
}

void expectSame(const Packet& a, const Packet& b) {
  ASSERT_EQ(a.columns.size(), b.columns.size());
  for (std::size_t i = 0; i < a.columns.size(); ++i) {
    EXPECT_EQ(a.columns[i].name, b.columns[i].name);
    EXPECT_EQ(a.columns[i].typeName, b.columns[i].typeName);
    EXPECT_EQ(a.columns[i].width, b.columns[i].width);
    EXPECT_EQ(a.columns[i].hidden, b.columns[i].hidden);
  }
  EXPECT_EQ(a.rows, b.rows);
  EXPECT_EQ(a.readOnly, b.readOnly);
  EXPECT_EQ(a.disableEdits, b.disableEdits);
  EXPECT_EQ(a.disableInserts, b.disableInserts);
  EXPECT_EQ(a.disableDeletes, b.disableDeletes);
  EXPECT_EQ(a.noResetCall, b.noResetCall);
}

std::string rejection(const std::vector<std::uint8_t>& bytes) {
  try {
    decode(bytes);
  } catch (const PacketError& e) {
    return e.what();
  }
  return {};
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  std::memcpy(b.data() + at, &v, 4);
}

TEST(PacketRoundTrip, KeepsColumnsRowsNullsAndFlags) {
  const auto p = sample();
  const auto bytes = encode(p);
  expectSame(decode(bytes), p);
  EXPECT_TRUE(std::signbit(std::get<double>(decode(bytes).rows[1][2])));

  Packet flags;
  flags.readOnly = flags.disableEdits = flags.disableDeletes = true;
  expectSame(decode(encode(flags)), flags);
}

TEST(PacketRoundTrip, EmptyPacketIsTheBareHeader) {
  const auto bytes = encode(Packet{});
  EXPECT_EQ(bytes.size(), kMinPacketSize);
  const auto back = decode(bytes);
  EXPECT_TRUE(back.columns.empty());
  EXPECT_TRUE(back.rows.empty());

  Packet columnsOnly;
  columnsOnly.columns = {{"TZXL00", "Float", 0, false}};
  const auto b2 = encode(columnsOnly);
  EXPECT_GT(b2.size(), kMinPacketSize);
  expectSame(decode(b2), columnsOnly);
}

TEST(PacketEncode, RefusesWhatTheFormatCannotHold) {
  Packet ragged = sample();
  ragged.rows[1].pop_back();
  EXPECT_THROW(encode(ragged), PacketError);

  Packet textInFloat;
  textInFloat.columns = {{"XL0000", "Float", 0, false}};
  textInFloat.rows = {{std::string("5")}};
  EXPECT_THROW(encode(textInFloat), PacketError);

  // Every text type of the one table, the wide and memo kinds too.
  for (const char* type :
       {"String", "FixedChar", "Guid", "WideString", "FixedWideChar", "Memo", "WideMemo"}) {
    Packet numberInText;
    numberInText.columns = {{"SPDM00", type, 8, false}};
    numberInText.rows = {{1.0}};
    EXPECT_THROW(encode(numberInText), PacketError) << type;
  }

  Packet unnamed;
  unnamed.columns = {{"", "String", 1, false}};
  EXPECT_THROW(encode(unnamed), PacketError);
}

TEST(PacketDecode, RejectsEveryTruncation) {
  const auto bytes = encode(sample());
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    EXPECT_FALSE(rejection(cut).empty()) << "prefix of " << n << " bytes accepted";
  }
  // Truncated with the body length adjusted to match: the row data runs out.
  auto shorter = bytes;
  shorter.resize(bytes.size() - 3);
  put32(shorter, 16, static_cast<std::uint32_t>(shorter.size() - kMinPacketSize));
  EXPECT_NE(rejection(shorter).find("truncated"), std::string::npos) << rejection(shorter);
}

TEST(PacketDecode, RejectsCountsBeyondTheData) {
  auto bytes = encode(sample());
  auto manyColumns = bytes;
  put32(manyColumns, 8, 0xFFFFFFFFu);
  EXPECT_NE(rejection(manyColumns).find("column count"), std::string::npos);

  auto manyRows = bytes;
  put32(manyRows, 12, 0x7FFFFFFFu);
  EXPECT_NE(rejection(manyRows).find("row count"), std::string::npos);

  auto rowsNoColumns = encode(Packet{});
  put32(rowsNoColumns, 12, 1000000u);
  EXPECT_FALSE(rejection(rowsNoColumns).empty());

  auto longText = bytes;
  // First cell of the first row is a text: its length follows the tag.
  const std::size_t firstCell = bytes.size() - encode([] {
                                                 Packet p = sample();
                                                 p.rows.clear();
                                                 return p;
                                               }())
                                                   .size();
  ASSERT_GT(firstCell, 0u);
  const std::size_t cellAt = bytes.size() - firstCell;
  ASSERT_EQ(bytes[cellAt], 1);  // text tag
  put32(longText, cellAt + 1, 0xFFFFFF00u);
  EXPECT_NE(rejection(longText).find("truncated"), std::string::npos);
}

TEST(PacketDecode, RejectsGarbage) {
  const auto good = encode(sample());
  auto badMagic = good;
  badMagic[0] = 'X';
  EXPECT_NE(rejection(badMagic).find("magic"), std::string::npos);
  auto badVersion = good;
  badVersion[4] = 9;
  EXPECT_NE(rejection(badVersion).find("version"), std::string::npos);
  auto badFlags = good;
  badFlags[7] = 0x80;
  EXPECT_NE(rejection(badFlags).find("flags"), std::string::npos);
  auto trailing = good;
  trailing.push_back(0);
  EXPECT_FALSE(rejection(trailing).empty());
  auto trailingCounted = trailing;
  put32(trailingCounted, 16, static_cast<std::uint32_t>(trailing.size() - kMinPacketSize));
  EXPECT_NE(rejection(trailingCounted).find("after the last row"), std::string::npos);
  // The first cell's tag follows the column descriptors.
  const auto withoutRows = [] {
    Packet p = sample();
    p.rows.clear();
    return encode(p);
  }();
  auto badTag = good;
  badTag[withoutRows.size()] = 7;
  EXPECT_NE(rejection(badTag).find("tag"), std::string::npos);

  std::vector<std::uint8_t> noise(64);
  std::mt19937 rng(42);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  EXPECT_FALSE(rejection(noise).empty());
}

TEST(PacketDecode, RejectsValuesOfTheWrongKind) {
  Packet p;
  p.columns = {{"XL0000", "Float", 0, false}};
  p.rows = {{3.0}};
  auto bytes = encode(p);
  Packet t;
  t.columns = {{"XL0000", "String", 0, false}};
  t.rows = {{std::string("abcdefgh")}};
  auto textBytes = encode(t);
  // A text cell under a Float column: take the text packet and rename its type.
  const auto at =
      std::search(textBytes.begin(), textBytes.end(), std::begin("String"), std::end("String") - 1);
  ASSERT_NE(at, textBytes.end());
  std::vector<std::uint8_t> forged(textBytes.begin(), at - 1);
  forged.push_back(5);
  for (char c : std::string("Float")) forged.push_back(static_cast<std::uint8_t>(c));
  forged.insert(forged.end(), at + 6, textBytes.end());
  put32(forged, 16, static_cast<std::uint32_t>(forged.size() - kMinPacketSize));
  EXPECT_NE(rejection(forged).find("text in numeric column"), std::string::npos)
      << rejection(forged);
  EXPECT_EQ(std::get<double>(decode(bytes).rows[0][0]), 3.0);
}

TEST(PacketDecode, SurvivesRandomCorruption) {
  const auto good = encode(sample());
  std::mt19937 rng(7);
  int rejected = 0;
  for (int i = 0; i < 5000; ++i) {
    auto bytes = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
    if (rng() % 3 == 0) bytes.resize(rng() % bytes.size());
    try {
      const auto p = decode(bytes);
      for (const auto& row : p.rows) EXPECT_EQ(row.size(), p.columns.size());
    } catch (const PacketError&) {
      ++rejected;
    }
  }
  EXPECT_GT(rejected, 0);
}

}  // namespace
}  // namespace qadj::packet
