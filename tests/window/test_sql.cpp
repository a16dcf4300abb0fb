#include <gtest/gtest.h>

#include "qadj/window/sql.h"

namespace sql = qadj::window::sql;

TEST(WindowSql, LookupsAndListAsTheWindowSendsThem) {
  EXPECT_EQ(sql::warehouseLookup("0001"), "SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='0001'");
  EXPECT_EQ(sql::salespersonList("01"),
            "SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00='01'");
  EXPECT_EQ(sql::salespersonList(""),
            "SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00=''");
  EXPECT_EQ(sql::productQuery(),
            "SELECT A.SPDM00,SPMC00,XL0000,YFXSL0,KTZXL0  FROM PGTQADJ0 A,GSTJYGL1 B WHERE "
            "A.SPDM00=B.SPDM00 ORDER BY SPDM00");
  EXPECT_EQ(sql::documentLookup("2005-03-07"),
            "SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('2005-03-07','yyyy-mm-dd')");
}

TEST(WindowSql, DetailQueryFromItsElevenPieces) {
  EXPECT_EQ(sql::detailQuery("2005-03-07", "01", "0012", "P001"),
            "SELECT A.FXRY00,C.RYMC00,A.SPDM00,D.SPMC00,A.XL0000,0 TZXL00  FROM XSTXLGL01 "
            "A,XSTXLGL1 B,GSTRYGL0 C,GSTJYGL1 D  WHERE A.DHAO00=B.DHAO00 AND "
            "TRUNC(B.ZDRQ00)=TO_DATE('2005-03-07','yyyy-mm-dd') AND A.FXRY00=C.RYDM00 AND "
            "A.SPDM00=D.SPDM00 AND CKDM00='01' AND C.RYDM00<>'0012' AND A.SPDM00='P001'");
}

TEST(WindowSql, IncrementAndDecrementTexts) {
  EXPECT_EQ(sql::increment("5", "D1", "0013", "P001"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000+5 where  DHAO00='D1' AND FXRY00='0013' AND "
            "SPDM00='P001'");
  EXPECT_EQ(sql::increment("-2", "D1", "0013", "P001"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000+-2 where  DHAO00='D1' AND FXRY00='0013' AND "
            "SPDM00='P001'");
  EXPECT_EQ(sql::decrement("5.00", "D1", "0012", "P001"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000-5.00 WHERE  DHAO00='D1' AND FXRY00='0012' AND "
            "SPDM00='P001'");
}

TEST(WindowSql, NegativeTotalNeverFormsAComment) {
  const std::string s = sql::decrement("-3.00", "D1", "0012", "P001");
  EXPECT_EQ(s.find("--"), std::string::npos);
  EXPECT_EQ(s,
            "UPDATE XSTXLGL01 SET XL0000=XL0000-(-3.00) WHERE  DHAO00='D1' AND FXRY00='0012' AND "
            "SPDM00='P001'");
}

TEST(WindowSql, QuotesInValuesAreDoubled) {
  EXPECT_EQ(sql::warehouseLookup("x' OR '1'='1"),
            "SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='x'' OR ''1''=''1'");
  EXPECT_EQ(sql::increment("1", "D'1", "a'b", "'"),
            "UPDATE XSTXLGL01 SET XL0000=XL0000+1 where  DHAO00='D''1' AND FXRY00='a''b' AND "
            "SPDM00=''''");
  // A GBK character whose second byte is a backslash stays intact.
  EXPECT_EQ(sql::quoted("\x95\x5C'"), "\x95\x5C''");
}

TEST(WindowSql, SalespersonCodeIsTheFirstFourBytes) {
  EXPECT_EQ(sql::salespersonCodeOf("0012 | \xD5\xC5\xC8\xFD"), "0012");
  EXPECT_EQ(sql::salespersonCodeOf("00"), "00");
  EXPECT_EQ(sql::salespersonCodeOf("\xC7\xEB\xD1\xA1\xD4\xF1"), "\xC7\xEB\xD1\xA1");
  EXPECT_EQ(sql::salespersonEntry("0012", "\xD5\xC5\xC8\xFD"), "0012 | \xD5\xC5\xC8\xFD");
  EXPECT_EQ(sql::block({"A", "B"}), "BEGIN A; B; END;");
}
