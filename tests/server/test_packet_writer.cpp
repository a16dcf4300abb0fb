// PacketWriter, the row-by-row encoder that the application server writes large
// results with: its bytes must be encode()'s for the same packet, and it refuses what
// encode() refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qadj/protocol/packet.h"

namespace qadj::packet {
namespace {

Packet sample(int rows) {
  Packet p;
  p.columns = {{"FXRY00", "String", 4, false},
               {"RYMC00", "String", 8, true},
               {"XL0000", "Float", 0, false},
               {"NOTE", "Blob", 0, false}};
  for (int i = 0; i < rows; ++i) {
    std::vector<Value> row;
    row.emplace_back(std::to_string(1000 + i));
    if (i % 3 == 0)
      row.emplace_back(std::monostate{});
    else
      row.emplace_back(std::string("\xD5\xC5\xC8\xFD\0x", 6));  // GBK text with a NUL
    row.emplace_back(10.5 * i);
    if (i % 2)
      row.emplace_back(std::string("any"));
    else
      row.emplace_back(static_cast<double>(-i));
    p.rows.push_back(std::move(row));
  }
  p.disableDeletes = true;
  p.noResetCall = true;
  return p;
}

void writeRows(PacketWriter& w, const Packet& p) {
  for (const auto& row : p.rows)
    for (const auto& v : row) {
      if (const auto* s = std::get_if<std::string>(&v))
        w.text(*s);
      else if (const auto* d = std::get_if<double>(&v))
        w.number(*d);
      else
        w.null();
    }
}

TEST(PacketWriter, WritesTheBytesOfEncodeWhateverTheSizeGuess) {
  for (const int rows : {0, 1, 7, 5000}) {
    const Packet p = sample(rows);
    for (const std::size_t guess : {std::size_t{0}, std::size_t{30}, std::size_t{1} << 20}) {
      PacketWriter w(p, guess);
      writeRows(w, p);
      EXPECT_EQ(w.finish(), encode(p)) << rows << " rows, guess " << guess;
    }
  }
}

TEST(PacketWriter, WidthsSetAfterTheRowsLandInTheDescriptors) {
  Packet p = sample(4);
  PacketWriter w(p);
  writeRows(w, p);
  w.setWidth(0, 12);
  w.setWidth(1, 0);
  p.columns[0].width = 12;
  p.columns[1].width = 0;
  const auto bytes = w.finish();
  EXPECT_EQ(bytes, encode(p));
  const Packet back = decode(bytes);
  EXPECT_EQ(back.columns[0].width, 12);
  EXPECT_EQ(back.columns[1].width, 0);
  EXPECT_TRUE(back.columns[1].hidden);
  EXPECT_EQ(back.rows, p.rows);
  EXPECT_TRUE(back.noResetCall);
  EXPECT_TRUE(back.disableDeletes);
}

TEST(PacketWriter, RefusesWhatEncodeRefuses) {
  const Packet p = sample(0);
  {
    PacketWriter w(p);
    EXPECT_THROW(w.number(1), PacketError);  // FXRY00 holds text
    w.text("0001");
    w.null();
    EXPECT_THROW(w.text("x"), PacketError);  // XL0000 holds numbers
    w.number(2);
    w.text("t");  // NOTE takes either
    w.null();     // a row begun and not finished
    EXPECT_THROW(w.finish(), PacketError);
  }
  {
    PacketWriter w(p);
    EXPECT_THROW(w.setWidth(4, 1), PacketError);
    EXPECT_THROW(w.setWidth(0, -1), PacketError);
  }
  Packet bad = p;
  bad.columns[2].typeName.clear();
  EXPECT_THROW(PacketWriter{bad}, PacketError);
  Packet none;
  PacketWriter w(none);
  EXPECT_THROW(w.null(), PacketError);  // no column to hold a cell
}

// Rows without columns have no cells for the writer to count; encode() still writes
// their number (which decode() then refuses as a packet of rows without columns).
TEST(PacketEncode, KeepsTheCountOfRowsWithoutColumns) {
  Packet p;
  p.rows.resize(3);
  const auto bytes = encode(p);
  ASSERT_EQ(bytes.size(), kMinPacketSize);
  std::uint32_t rows = 0;
  std::memcpy(&rows, bytes.data() + 12, sizeof rows);
  EXPECT_EQ(rows, 3u);
  EXPECT_THROW(decode(bytes), PacketError);
}

}  // namespace
}  // namespace qadj::packet
