// FetchRecords writes its packet straight from the query's result: the bytes must be
// those of toPacket() (with the no-reset-call property), whatever mix of texts, nulls,
// repeats and row limits the result has, and a text GBK cannot hold still fails
// naming its column and row.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qadj/appserver/database.h"
#include "qadj/appserver/provider.h"
#include "qadj/protocol/appserver.h"
#include "support/databases.h"

namespace qadj::appserver {
namespace {

class FetchPacketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    db_ = openDatabase(testing::freshDatabaseUrl("sqlite", dir_, whyNot));
    db_->executeScript(
        "CREATE TABLE T (K VARCHAR(4), NAME VARCHAR(6), NOTE VARCHAR(40), Q DOUBLE)");
  }
  void add(const Cell& k, const Cell& name, const Cell& note, const Cell& q) {
    db_->execute("INSERT INTO T VALUES ($1, $2, $3, $4)", {k, name, note, q});
  }
  // The packet as toPacket() builds it, with the property fetchRecords adds.
  std::vector<std::uint8_t> expected(const std::string& sql, std::int32_t count) {
    packet::Packet p = toPacket(db_->query(sql), sql::Query(sql), count);
    p.noResetCall = true;
    return packet::encode(p);
  }
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

constexpr const char* kAll = "SELECT K, NAME, NOTE, Q, 0 TZXL00 FROM T ORDER BY rowid";

TEST_F(FetchPacketTest, BytesAreThoseOfToPacketForEveryMixAndLimit) {
  add(std::string("0001"), std::string("张三"), std::string("矿泉水 550ml"), 1.5);
  add(std::string("0002"), std::string("张三"), std::string("矿泉水 550ml"), Cell{});
  add(std::string("0003"), std::string("李四"), Cell{}, 2.0);
  add(Cell{}, std::string("李四"), std::string("矿泉水 550ml"), 3.0);  // repeat after a null
  add(std::string("0005"), std::string(""), std::string("plain ascii, longer than declared"), 4.0);
  add(std::string("0006"), std::string("王五王五王五"),
      std::string("plain ascii, longer than declared"), 5.0);
  for (int i = 0; i < 300; ++i)
    add(std::to_string(1000 + i), std::string("赵") + std::to_string(i % 7),
        std::string("可乐") + std::to_string(i / 50), static_cast<double>(i));
  for (const std::int32_t count : {-1, 0, 1, 2, 5, 306, 1000}) {
    const auto r = fetchRecords(*db_, kAll, count, 0);
    EXPECT_EQ(r.packet, expected(kAll, count)) << "count " << count;
    EXPECT_EQ(r.recordsSent, count < 0 || count > 306 ? 306 : count);
  }
  const packet::Packet back = packet::decode(fetchRecords(*db_, kAll, -1, 0).packet);
  EXPECT_TRUE(back.noResetCall);
  EXPECT_EQ(back.columns[1].width, 12);  // 王五王五王五: 12 GBK bytes over VARCHAR(6)
  EXPECT_EQ(std::get<std::string>(back.rows[1][1]), "\xD5\xC5\xC8\xFD");  // 张三 again
}

TEST_F(FetchPacketTest, TextsHoldingNulAreConvertedOneByOne) {
  add(std::string("0001"), std::string("张\0三", 7), std::string("a\0b", 3), 1.0);
  add(std::string("0002"), std::string("李四"), std::string("可乐"), 2.0);
  const auto r = fetchRecords(*db_, kAll, -1, 0);
  EXPECT_EQ(r.packet, expected(kAll, -1));
  const packet::Packet back = packet::decode(r.packet);
  EXPECT_EQ(std::get<std::string>(back.rows[0][1]), std::string("\xD5\xC5\0\xC8\xFD", 5));
  EXPECT_EQ(std::get<std::string>(back.rows[1][2]), "\xBF\xC9\xC0\xD6");
}

TEST_F(FetchPacketTest, TextWithoutGbkFormFailsNamingColumnAndRow) {
  add(std::string("0001"), std::string("张三"), std::string("可乐"), 1.0);
  add(std::string("0002"), std::string("李四"), std::string("可乐"), 2.0);
  add(std::string("0003"), std::string("李四"), std::string("smile \xF0\x9F\x98\x80"), 3.0);
  add(std::string("0004"), std::string("王五"), std::string("smile \xF0\x9F\x98\x80"), 4.0);
  const std::string fetched = failure([&] { fetchRecords(*db_, kAll, -1, 0); });
  EXPECT_EQ(fetched, failure([&] { toPacket(db_->query(kAll), sql::Query(kAll), -1); }));
  EXPECT_NE(fetched.find("column NOTE, row 3"), std::string::npos) << fetched;
  // Rows before the culprit still go when the limit stops short of it.
  EXPECT_EQ(fetchRecords(*db_, kAll, 2, 0).packet, expected(kAll, 2));
}

// Hands every call to the real database, counting how queries come: as text the
// driver must read, or as a text the provider has read.
class CountingDatabase final : public Database {
 public:
  explicit CountingDatabase(Database& real) : real_(real) {}
  std::string dialect() const override { return real_.dialect(); }
  ResultSet query(std::string_view text, const std::vector<Cell>& params) override {
    ++textQueries;
    return real_.query(text, params);
  }
  ResultSet query(const sql::Query& q, const std::vector<Cell>& params) override {
    ++readQueries;
    return real_.query(q, params);
  }
  std::int64_t execute(std::string_view text, const std::vector<Cell>& params) override {
    return real_.execute(text, params);
  }
  void executeScript(std::string_view text) override { real_.executeScript(text); }
  void begin(TxMode mode) override { real_.begin(mode); }
  void commit() override { real_.commit(); }
  void rollback() noexcept override { real_.rollback(); }
  void guardClientText(bool on) override { real_.guardClientText(on); }

  int textQueries = 0, readQueries = 0;

 private:
  Database& real_;
};

TEST_F(FetchPacketTest, TheTextIsReadOnceAndWhatWasReadGoesToTheDriver) {
  add(std::string("0002"), std::string("李四"), std::string("可乐"), 2.0);
  add(std::string("0001"), std::string("张三"), std::string("可乐"), 1.0);
  // ORDER BY K names an output column: SQLite runs it by position, rewritten from
  // what the provider read.
  const std::string text = "SELECT T.K, NAME AS \"Who\", 0 TZXL00 FROM T ORDER BY K";
  CountingDatabase counting(*db_);
  const packet::Packet back = packet::decode(fetchRecords(counting, text, -1, 0).packet);
  EXPECT_EQ(counting.readQueries, 1);
  EXPECT_EQ(counting.textQueries, 0);
  ASSERT_EQ(back.columns.size(), 3u);
  EXPECT_EQ(back.columns[1].name, "Who");
  EXPECT_EQ(back.columns[2].typeName, "Float");
  ASSERT_EQ(back.rows.size(), 2u);
  EXPECT_EQ(std::get<std::string>(back.rows[0][0]), "0001");
}

}  // namespace
}  // namespace qadj::appserver
