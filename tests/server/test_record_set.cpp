// The record-set engine reading packets in place: it must agree with the packet codec
// on every valid packet and refuse every packet the codec refuses, without reading
// outside the bytes; and its editing keeps copied-out and in-place rows apart.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "qadj/server/record_set.h"
#include "support/fake_app_server.h"

namespace qadj {
namespace {

packet::Packet mixedPacket() {
  packet::Packet p;
  p.columns = {dstest::textColumn("A", 4), dstest::floatColumn("B"),
               dstest::column("C", "Whatever"), dstest::textColumn("D", 8)};
  p.columns[3].hidden = true;
  p.rows = {{std::string("ab "), 1.5, std::string("x"), std::monostate{}},
            {std::monostate{}, -2.0, 3.0, std::string("\xD5\xC5")},
            {std::string(), std::monostate{}, std::monostate{}, std::string("long text value!")}};
  p.disableDeletes = true;
  p.noResetCall = true;
  return p;
}

// Equal values; a corrupted number may be NaN, which equals itself here.
bool sameValue(const packet::Value& a, const packet::Value& b) {
  const double* da = std::get_if<double>(&a);
  const double* db = std::get_if<double>(&b);
  if (da && db) return std::memcmp(da, db, sizeof(double)) == 0;
  return a == b;
}

void expectSameAsDecoded(const RecordSet& rs, const packet::Packet& p) {
  ASSERT_EQ(rs.Columns().size(), p.columns.size());
  for (std::size_t c = 0; c < p.columns.size(); ++c) {
    EXPECT_EQ(rs.Columns()[c].name, p.columns[c].name);
    EXPECT_EQ(rs.Columns()[c].typeName, p.columns[c].typeName);
    EXPECT_EQ(rs.Columns()[c].width, p.columns[c].width);
    EXPECT_EQ(rs.Columns()[c].hidden, p.columns[c].hidden);
  }
  ASSERT_EQ(rs.Count(), static_cast<int>(p.rows.size()));
  for (int r = 0; r < rs.Count(); ++r)
    for (std::size_t c = 0; c < p.columns.size(); ++c)
      EXPECT_TRUE(sameValue(rs.ValueAt(r, static_cast<int>(c)), p.rows[r][c])) << r << "," << c;
  EXPECT_EQ(rs.ReadOnly(), p.readOnly);
  EXPECT_EQ(rs.DisableEdits(), p.disableEdits);
  EXPECT_EQ(rs.DisableInserts(), p.disableInserts);
  EXPECT_EQ(rs.DisableDeletes(), p.disableDeletes);
  EXPECT_EQ(rs.NoResetCall(), p.noResetCall);
}

TEST(RecordSetPacket, ReadsWhatTheCodecWrote) {
  const packet::Packet p = mixedPacket();
  RecordSet rs(packet::encode(p));
  expectSameAsDecoded(rs, p);
  EXPECT_EQ(rs.FindColumn("b"), 1);
  EXPECT_EQ(rs.FindColumn("E"), -1);
  RecordSet empty(packet::encode(packet::Packet{}));
  EXPECT_EQ(empty.Count(), 0);
  EXPECT_EQ(empty.Current(), -1);
  EXPECT_TRUE(empty.Eof());
}

// Decides as the codec does on every truncation and every single-byte corruption.
TEST(RecordSetPacket, AcceptsExactlyWhatTheCodecAccepts) {
  const std::vector<std::uint8_t> good = packet::encode(mixedPacket());
  auto agree = [](std::vector<std::uint8_t> bytes, const std::string& what) {
    std::optional<packet::Packet> decoded;
    try {
      decoded = packet::decode(bytes);
    } catch (const packet::PacketError&) {
    }
    try {
      RecordSet rs(std::move(bytes));
      ASSERT_TRUE(decoded.has_value()) << what << ": accepted what the codec refuses";
      expectSameAsDecoded(rs, *decoded);
    } catch (const packet::PacketError& e) {
      EXPECT_FALSE(decoded.has_value()) << what << ": refused a valid packet: " << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("Invalid data packet", 0), 0u) << e.what();
    }
  };
  for (std::size_t n = 0; n < good.size(); ++n)
    agree(std::vector<std::uint8_t>(good.begin(), good.begin() + n), "cut at " + std::to_string(n));
  for (std::size_t i = 0; i < good.size(); ++i)
    for (std::uint8_t v : {std::uint8_t{0x00}, std::uint8_t{0x01}, std::uint8_t{0x03},
                           std::uint8_t{0x7F}, std::uint8_t{0xFF}}) {
      auto bytes = good;
      bytes[i] = v;
      agree(std::move(bytes), "byte " + std::to_string(i) + "=" + std::to_string(v));
    }
  auto longer = good;
  longer.push_back(0);
  agree(longer, "one byte more");
}

TEST(RecordSetEditing, EditedRowsAreCopiedOutOthersStayInPlace) {
  RecordSet rs(packet::encode(mixedPacket()));
  rs.MoveTo(1);
  rs.BeginEdit();
  rs.SetValue(0, std::string("new"));
  EXPECT_TRUE(rs.Modified());
  rs.EndEdit(false);
  EXPECT_EQ(rs.ValueAt(1, 0), packet::Value{});
  rs.BeginEdit();
  rs.SetValue(1, 9.0);
  rs.EndEdit(true);
  EXPECT_EQ(rs.ValueAt(1, 1), packet::Value{9.0});
  EXPECT_EQ(rs.ValueAt(1, 3), packet::Value{std::string("\xD5\xC5")});
  EXPECT_EQ(rs.ValueAt(0, 0), packet::Value{std::string("ab ")});
  rs.BeginInsert(false);
  EXPECT_EQ(rs.Current(), 1);
  EXPECT_EQ(rs.ValueAt(2, 1), packet::Value{9.0});  // the edited row moved down
  rs.EndEdit(true);
  rs.MoveTo(0);
  rs.DeleteCurrent();
  ASSERT_EQ(rs.ChangeLog().size(), 3u);
  EXPECT_EQ(rs.ChangeLog()[2].kind, RecordSet::ChangeKind::Deleted);
  EXPECT_EQ(rs.ChangeLog()[2].oldValues[0], packet::Value{std::string("ab ")});
  EXPECT_EQ(rs.Count(), 3);
  EXPECT_EQ(rs.IndexOf(rs.IdAt(2)), 2);
}

}  // namespace
}  // namespace qadj
