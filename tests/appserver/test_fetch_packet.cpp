// FetchRecords writes its packet as the driver reads the rows (PacketEncoder): the
// bytes must be those of the same result held whole and built the plain way, whatever
// mix of texts, nulls, repeats and row limits the result has, and a text GBK cannot
// hold still fails naming its column and row.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "qadj/appserver/database.h"
#include "qadj/appserver/provider.h"
#include "qadj/platform/number_text.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/databases.h"

namespace qadj::appserver {
namespace {

class FetchPacketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = openDatabase(testing::freshDatabaseFor("sqlite", dir_));
    db_->executeScript(
        "CREATE TABLE T (K VARCHAR(4), NAME VARCHAR(6), NOTE VARCHAR(40), Q DOUBLE)");
  }
  void add(const Cell& k, const Cell& name, const Cell& note, const Cell& q) {
    db_->execute("INSERT INTO T VALUES ($1, $2, $3, $4)", {k, name, note, q});
  }
  std::vector<std::uint8_t> expected(std::int32_t count) {
    return packet::encode(heldPacket(db_->query(kAll), kColumns, count));
  }
  // The packet of a result held whole, built the plain way: each cell as its column
  // wants it (a number in general form in a text column, a text read as a number in a
  // number column), texts converted whole, widths the declared one or the longest text.
  static packet::Packet heldPacket(const ResultSet& rs, const std::vector<PacketColumn>& columns,
                                   std::int32_t maxRows) {
    const std::map<ColumnKind, const char*> types = {{ColumnKind::Text, "String"},
                                                     {ColumnKind::Number, "Float"},
                                                     {ColumnKind::Date, "Date"},
                                                     {ColumnKind::DateTime, "DateTime"}};
    packet::Packet p;
    p.noResetCall = true;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const bool text = columns[c].kind == ColumnKind::Text;
      p.columns.push_back({std::string(columns[c].name), types.at(columns[c].kind),
                           text ? std::max(rs.columns[c].width, 1) : 0, false});
    }
    const auto rows = std::min(rs.rows.size(), static_cast<std::size_t>(maxRows));  // -1: all
    for (std::size_t r = 0; r < rows; ++r) {
      auto& out = p.rows.emplace_back(columns.size());
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::string at =
            "column " + std::string(columns[c].name) + ", row " + std::to_string(r + 1) + ": ";
        const auto* s = std::get_if<std::string>(&rs.rows[r][c]);
        const auto* d = std::get_if<double>(&rs.rows[r][c]);
        if (columns[c].kind == ColumnKind::Text && (s || d)) {
          std::string gbk;
          try {
            gbk = text::utf8ToGbk(s ? *s : numbers::formatGeneral(*d));
          } catch (const std::exception&) {
            throw std::runtime_error(at + "the text cannot be represented in GBK");
          }
          p.columns[c].width = std::max(p.columns[c].width, static_cast<std::int32_t>(gbk.size()));
          out[c] = std::move(gbk);
        } else if (s) {
          const auto number = numbers::parseDecimal(*s);
          if (!number) throw std::runtime_error(at + "'" + *s + "' is not a number");
          out[c] = *number;
        } else if (d) {
          out[c] = *d;
        }
      }
    }
    return p;
  }
  FetchResult fetch(std::int32_t count) {
    PacketEncoder encoder(kColumns, count);
    db_->queryInto(kAll, {}, encoder);
    return encoder.finish();
  }
  // The packet of a result held whole, its rows handed over as a driver does.
  static FetchResult encoded(const ResultSet& rs, const std::vector<PacketColumn>& columns) {
    PacketEncoder encoder(columns, -1);
    encoder.columns(rs.columns);
    for (const auto& row : rs.rows) encoder.row(viewsOf(row));
    return encoder.finish();
  }

  static constexpr const char* kAll = "SELECT K, NAME, NOTE, Q, 0 FROM T ORDER BY rowid";
  const std::vector<PacketColumn> kColumns = {{"K", ColumnKind::Text},
                                              {"NAME", ColumnKind::Text},
                                              {"NOTE", ColumnKind::Text},
                                              {"Q", ColumnKind::Number},
                                              {"TZXL00", ColumnKind::Number}};
  static std::string failure(const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return {};
  }

  testing::TempDir dir_;
  std::unique_ptr<Database> db_;
};

TEST_F(FetchPacketTest, BytesAreThoseOfTheResultHeldWholeForEveryMixAndLimit) {
  add(std::string("0001"), std::string("张三"), std::string("矿泉水 550ml"), 1.5);
  add(std::string("0002"), std::string("张三"), std::string("矿泉水 550ml"), Cell{});
  add(std::string("0003"), std::string("李四"), Cell{}, 2.0);
  add(Cell{}, std::string("李四"), std::string("矿泉水 550ml"), 3.0);  // repeat after a null
  add(std::string("0005"), std::string(""), std::string("plain ascii, longer than declared"), 4.0);
  add(std::string("0006"), std::string("王五王五王五"),
      std::string("plain ascii, longer than declared"), 5.0);
  // Names change in every row, then repeat in runs; notes start with ASCII words.
  for (int i = 0; i < 300; ++i)
    add(std::to_string(1000 + i), std::string("赵") + std::to_string(i < 100 ? i % 7 : i / 40),
        "bottles of " + std::to_string(i / 50) + " 可乐", static_cast<double>(i));
  for (const std::int32_t count : {-1, 0, 1, 2, 5, 306, 1000}) {
    const auto r = fetch(count);
    EXPECT_EQ(r.packet, expected(count)) << "count " << count;
    EXPECT_EQ(r.recordsSent, count < 0 || count > 306 ? 306 : count);
  }
  const packet::Packet back = packet::decode(fetch(-1).packet);
  EXPECT_TRUE(back.noResetCall);
  EXPECT_EQ(back.columns[1].width, 12);  // 王五王五王五: 12 GBK bytes over VARCHAR(6)
  EXPECT_EQ(std::get<std::string>(back.rows[1][1]), "\xD5\xC5\xC8\xFD");  // 张三 again
}

TEST_F(FetchPacketTest, TextsHoldingNulAreConvertedOneByOne) {
  add(std::string("0001"), std::string("张\0三", 7), std::string("a\0b", 3), 1.0);
  add(std::string("0002"), std::string("李四"), std::string("可乐"), 2.0);
  const auto r = fetch(-1);
  EXPECT_EQ(r.packet, expected(-1));
  const packet::Packet back = packet::decode(r.packet);
  EXPECT_EQ(std::get<std::string>(back.rows[0][1]), std::string("\xD5\xC5\0\xC8\xFD", 5));
  EXPECT_EQ(std::get<std::string>(back.rows[1][2]), "\xBF\xC9\xC0\xD6");
}

TEST_F(FetchPacketTest, TextWithoutGbkFormFailsNamingColumnAndRow) {
  add(std::string("0001"), std::string("张三"), std::string("可乐"), 1.0);
  add(std::string("0002"), std::string("李四"), std::string("可乐"), 2.0);
  add(std::string("0003"), std::string("李四"), std::string("smile \xF0\x9F\x98\x80"), 3.0);
  add(std::string("0004"), std::string("王五"), std::string("smile \xF0\x9F\x98\x80"), 4.0);
  const std::string fetched = failure([&] { fetch(-1); });
  EXPECT_EQ(fetched, failure([&] { heldPacket(db_->query(kAll), kColumns, -1); }));
  EXPECT_NE(fetched.find("column NOTE, row 3"), std::string::npos) << fetched;
  // Rows before the culprit still go when the limit stops short of it.
  EXPECT_EQ(fetch(2).packet, expected(2));
}

// A driver gives each column the kind the database declares; a host's database may
// declare one otherwise than the window's query reads it. The packet still types each
// column as the window's query does, converting the cells.
TEST_F(FetchPacketTest, CellsAreWrittenAsTheirColumnsWantThem) {
  ResultSet rs;
  rs.columns = {{"CODE", ColumnKind::Number, 0}, {"Q", ColumnKind::Text, 8}};
  rs.rows = {{7.0, std::string("12.5")}, {Cell{}, std::string("-1")}};
  const std::vector<PacketColumn> columns = {{"CODE", ColumnKind::Text}, {"Q", ColumnKind::Number}};
  EXPECT_EQ(encoded(rs, columns).packet, packet::encode(heldPacket(rs, columns, -1)));
  const packet::Packet back = packet::decode(encoded(rs, columns).packet);
  EXPECT_EQ(back.columns[0].typeName, "String");
  EXPECT_EQ(std::get<std::string>(back.rows[0][0]), "7");
  EXPECT_EQ(back.columns[1].typeName, "Float");
  EXPECT_EQ(std::get<double>(back.rows[0][1]), 12.5);
  EXPECT_EQ(std::get<double>(back.rows[1][1]), -1);
  rs.rows.push_back({std::string("x"), std::string("abc")});
  EXPECT_EQ(failure([&] { encoded(rs, columns); }), "column Q, row 3: 'abc' is not a number");
}

}  // namespace
}  // namespace qadj::appserver
