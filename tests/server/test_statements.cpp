// The templates of the window's statements: the texts the window builds, character for
// character, and the server's reading of them, which accepts exactly what the builder
// writes and nothing else.
#include <gtest/gtest.h>

#include <random>

#include "qadj/protocol/statements.h"
#include "qadj/testing/shorthand.h"

namespace qadj::statements {
namespace {

using testing::q;

TEST(Statements, LookupsAndListAsTheWindowSendsThem) {
  EXPECT_EQ(warehouseLookup("0001"), "SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='0001'");
  EXPECT_EQ(salespersonList("01"),
            "SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00='01'");
  EXPECT_EQ(salespersonList(""),
            "SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00=''");
  EXPECT_EQ(productQuery(),
            "SELECT A.SPDM00,SPMC00,XL0000,YFXSL0,KTZXL0  FROM PGTQADJ0 A,GSTJYGL1 B WHERE "
            "A.SPDM00=B.SPDM00 ORDER BY SPDM00");
  EXPECT_EQ(documentLookup("2005-03-07"),
            "SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('2005-03-07','yyyy-mm-dd')");
  EXPECT_EQ(detailQuery("2005-03-07", "01", "0012", "P001"),
            "SELECT A.FXRY00,C.RYMC00,A.SPDM00,D.SPMC00,A.XL0000,0 TZXL00  FROM XSTXLGL01 "
            "A,XSTXLGL1 B,GSTRYGL0 C,GSTJYGL1 D  WHERE A.DHAO00=B.DHAO00 AND "
            "TRUNC(B.ZDRQ00)=TO_DATE('2005-03-07','yyyy-mm-dd') AND A.FXRY00=C.RYDM00 AND "
            "A.SPDM00=D.SPDM00 AND CKDM00='01' AND C.RYDM00<>'0012' AND A.SPDM00='P001'");
}

TEST(Statements, IncrementDecrementAndBlockTexts) {
  EXPECT_EQ(increment(q(5), "D1", "0013", "P001"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000+5 where  DHAO00='D1' AND FXRY00='0013' AND "
            "SPDM00='P001'");
  EXPECT_EQ(increment(q(-2), "D1", "0013", "P001"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000+-2 where  DHAO00='D1' AND FXRY00='0013' AND "
            "SPDM00='P001'");
  EXPECT_EQ(decrement(q(5), "D1", "0012", "P001"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000-5.00 WHERE  DHAO00='D1' AND FXRY00='0012' AND "
            "SPDM00='P001'");
  // A negative total never forms a comment with the minus before it.
  const std::string negative = decrement(q(-3), "D1", "0012", "P001");
  EXPECT_EQ(negative.find("--"), std::string::npos);
  EXPECT_EQ(negative,
            "UPDATE XSTXLGL01 SET XL0000=XL0000-(-3.00) WHERE  DHAO00='D1' AND FXRY00='0012' AND "
            "SPDM00='P001'");
  EXPECT_EQ(block({"A", "B"}), "BEGIN A; B; END;");
}

TEST(Statements, QuotesInValuesAreDoubled) {
  EXPECT_EQ(warehouseLookup("x' OR '1'='1"),
            "SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='x'' OR ''1''=''1'");
  EXPECT_EQ(increment(q(1), "D'1", "a'b", "'"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000+1 where  DHAO00='D''1' AND FXRY00='a''b' AND "
            "SPDM00=''''");
  // A GBK character whose second byte is a backslash stays intact.
  EXPECT_EQ(warehouseLookup("\x95\x5C'"), "SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='\x95\x5C'''");
}

// The statements of one workflow, built with values of every kind the slots take.
std::vector<std::string> windowTexts(std::mt19937& random) {
  const char* codes[] = {
      "0012",           "",        "a'b", "''", "\xC7\xEB\xD1\xA1", "\x95\x5C", "P'01'", "D1",
      "DEMO2026121001", "10010001"};
  const auto code = [&](std::size_t width) {
    for (;;) {
      const std::string c = codes[random() % std::size(codes)];
      if (c.size() <= width) return c;
    }
  };
  const auto amount = [&] {
    return *Quantity::ofHundredths(static_cast<std::int64_t>(random() % 2'000'001) - 1'000'000);
  };
  std::vector<std::string> save;
  QuantitySum total;
  for (std::uint32_t i = random() % 4; i > 0; --i) {
    const Quantity a = amount();
    save.push_back(increment(a, code(20), code(4), code(8)));
    total.add(a);
  }
  save.push_back(decrement(*total.quantity(), code(20), code(4), code(8)));
  return {warehouseLookup(code(4)),
          salespersonList(code(4)),
          productQuery(),
          detailQuery("2026-02-28", code(4), code(4), code(8)),
          documentLookup("0001-01-01"),
          save.front(),
          save.back(),
          block(save)};
}

// For any text the server accepts, the window's builder given the values read from it
// writes exactly that text: a text of any other shape (a mutated statement, a random
// one) is never accepted. Every statement the window writes is accepted.
TEST(Statements, AcceptedTextsAreExactlyWhatTheBuilderWrites) {
  std::mt19937 random(20261210);
  const std::string alphabet = "' -+.,;()=<>0123456789eExX:@$\\/*\0\n\x95\xC7WHEREwhere";
  int accepted = 0, mutants = 0;
  for (int round = 0; round < 400; ++round) {
    for (const std::string& text : windowTexts(random)) {
      const auto query = matchQuery(text);
      const auto command = matchCommand(text);
      ASSERT_TRUE(query || command) << text << "\n" << query.refusal << "\n" << command.refusal;
      EXPECT_EQ(query ? build(*query.value) : build(*command.value), text);
      // One to three bytes changed, inserted or dropped.
      std::string mutant = text;
      for (std::uint32_t k = 1 + random() % 3; k > 0; --k) {
        const std::size_t at = random() % (mutant.size() + 1);
        const char c = alphabet[random() % alphabet.size()];
        switch (random() % 3) {
          case 0:
            if (at < mutant.size()) mutant[at] = c;
            break;
          case 1:
            mutant.insert(mutant.begin() + static_cast<std::ptrdiff_t>(at), c);
            break;
          default:
            if (at < mutant.size()) mutant.erase(at, 1);
        }
      }
      if (const auto m = matchQuery(mutant)) {
        ++mutants;
        EXPECT_EQ(build(*m.value), mutant);
      }
      if (const auto m = matchCommand(mutant)) {
        ++mutants;
        EXPECT_EQ(build(*m.value), mutant);
      }
      ++accepted;
    }
  }
  EXPECT_EQ(accepted, 400 * 8);
  // Some mutants are statements still (a digit for a digit); most are refused.
  EXPECT_GT(mutants, 0);
  EXPECT_LT(mutants, accepted / 2);
}

// What the window never sends is refused, with the statement it came closest to and
// what that one expects there.
TEST(Statements, TextsOfOtherShapesAreRefusedNamingWhatWasExpected) {
  const std::string update = "UPDATE XSTXLGL01 SET XL0000=XL0000";
  const std::string where = " where  DHAO00='D1' AND FXRY00='0013' AND SPDM00='P001'";
  const struct {
    std::string text;
    const char* expected;
  } refused[] = {
      {update + " = CASE WHEN :WHERE IS NULL THEN XL0000 END, FXRY00='0099' WHERE DHAO00='D1'",
       "the increment, which at byte 35"},
      {update + "+1" + std::string("\0", 1) + where, "expects \" where  DHAO00='\""},
      {update + "+1" + where + " AND 1=1", "expects the end of the text"},
      {update + "+0x64" + where, "expects \" where  DHAO00='\""},
      {update + "+'1e2'" + where, "the amount as the window writes it"},
      {update + "+1e309" + where, "expects \" where  DHAO00='\""},
      {update + "+2.50" + where, "the amount as the window writes it"},
      {update + "+-0" + where, "the amount as the window writes it"},
      {update + "+0.125" + where, "the amount as the window writes it"},
      {update + "+1000000000000" + where, "the amount as the window writes it"},
      {update + "-5" + " WHERE  DHAO00='D1' AND FXRY00='0012' AND SPDM00='P001'",
       "the total as the window writes it"},
      {update + "-(-0.00)" + " WHERE  DHAO00='D1' AND FXRY00='0012' AND SPDM00='P001'",
       "the total as the window writes it"},
      {update + "+1 where  DHAO00='D1' AND FXRY00='00123' AND SPDM00='P001'",
       "the salesperson code of at most 4 bytes"},
      {update + "+1 where  DHAO00='D1' AND FXRY00='0013' AND SPDM00='P001'||''",
       "the end of the text"},
      {update + "+1 where  DHAO00='D1' AND FXRY00='00\n3' AND SPDM00='P001'",
       "without control characters"},
      {"SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='\x95'", "as GBK text"},
      {documentLookup("2026-13-45"), "the date as a real day yyyy-mm-dd"},
      {documentLookup("2026-12-1"), "the date as a real day yyyy-mm-dd"},
      {"SELECT lo_from_bytea(0, 'x')", "the warehouse lookup, which at byte 8"},
      {"select ckdm00 from gstrygl0 where rydm00='0001'", "at byte 1"},
      {"BEGIN " + increment(q(1), "D1", "0013", "P001") + "; END;", "the decrement"},
      {"BEGIN " + decrement(q(1), "D1", "0012", "P001") + "; " +
           increment(q(1), "D1", "0013", "P001") + "; END;",
       "expects \"END;\""},
      {"BEGIN " + decrement(q(1), "D1", "0012", "P001") + "; END; --", "the end of the text"},
      {"", "at byte 1"},
  };
  for (const auto& r : refused) {
    const auto query = matchQuery(r.text);
    const auto command = matchCommand(r.text);
    EXPECT_FALSE(query) << r.text;
    EXPECT_FALSE(command) << r.text;
    const std::string why = command.refusal.size() > 0 ? command.refusal : query.refusal;
    const bool named = query.refusal.find(r.expected) != std::string::npos ||
                       command.refusal.find(r.expected) != std::string::npos;
    EXPECT_TRUE(named) << r.text << "\n" << query.refusal << "\n" << command.refusal;
    EXPECT_EQ(why.rfind("The statement is refused: ", 0), 0u) << why;
  }
}

TEST(Statements, ReadingGivesTheValuesBack) {
  const auto detail = matchQuery(detailQuery("2026-12-08", "01", "a'b", "\xC7\xEB"));
  ASSERT_TRUE(detail);
  EXPECT_EQ(detail.value->kind, Kind::DetailQuery);
  EXPECT_EQ(detail.value->text(0), "2026-12-08");
  EXPECT_EQ(detail.value->text(2), "a'b");
  EXPECT_EQ(detail.value->text(3), "\xC7\xEB");
  const auto save = matchCommand(
      block({increment(q(0.13), "D1", "0013", "P001"), decrement(q(0.13), "D1", "0012", "P001")}));
  ASSERT_TRUE(save);
  EXPECT_TRUE(save.value->block);
  ASSERT_EQ(save.value->statements.size(), 2u);
  EXPECT_EQ(save.value->statements[0].quantity(0).hundredths(), 13);
  EXPECT_EQ(save.value->statements[1].kind, Kind::Decrement);
  EXPECT_EQ(shapeOf(increment(q(2.5), "D'1", "0013", "P01")),
            "UPDATE XSTXLGL01 SET XL0000=XL0000+? where  DHAO00=? AND FXRY00=? AND SPDM00=?");
}

}  // namespace
}  // namespace qadj::statements
