#include "qadj/window/sql.h"

namespace qadj::window::sql {

std::string quoted(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 2);
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string warehouseLookup(std::string_view operatorCode) {
  return "SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='" + quoted(operatorCode) + "'";
}

std::string salespersonList(std::string_view warehouseCode) {
  return "SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00='" +
         quoted(warehouseCode) + "'";
}

std::string productQuery() {
  return "SELECT A.SPDM00,SPMC00,XL0000,YFXSL0,KTZXL0  FROM PGTQADJ0 A,GSTJYGL1 B WHERE "
         "A.SPDM00=B.SPDM00 ORDER BY SPDM00";
}

std::string detailQuery(std::string_view dateText, std::string_view warehouseCode,
                        std::string_view salespersonCode, std::string_view productCode) {
  std::string s =
      "SELECT A.FXRY00,C.RYMC00,A.SPDM00,D.SPMC00,A.XL0000,0 TZXL00  FROM XSTXLGL01 "
      "A,XSTXLGL1 B,GSTRYGL0 C,GSTJYGL1 D  WHERE A.DHAO00=B.DHAO00 AND "
      "TRUNC(B.ZDRQ00)=TO_DATE('";
  s += quoted(dateText);
  s += "','yyyy-mm-dd')";
  s += " AND A.FXRY00=C.RYDM00 AND A.SPDM00=D.SPDM00 AND CKDM00='";
  s += quoted(warehouseCode);
  s += "' AND C.RYDM00<>'";
  s += quoted(salespersonCode);
  s += "'";
  s += " AND A.SPDM00='";
  s += quoted(productCode);
  s += "'";
  return s;
}

std::string documentLookup(std::string_view dateText) {
  return "SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('" + quoted(dateText) +
         "','yyyy-mm-dd')";
}

namespace {

std::string quotaLineUpdate(std::string_view head, std::string_view amount, std::string_view where,
                            std::string_view documentNumber, std::string_view salespersonCode,
                            std::string_view productCode) {
  std::string s(head);
  s += amount;
  s += where;
  s += " DHAO00='";
  s += quoted(documentNumber);
  s += "' AND FXRY00='";
  s += quoted(salespersonCode);
  s += "' AND SPDM00='";
  s += quoted(productCode);
  s += "'";
  return s;
}

}  // namespace

std::string increment(std::string_view adjustment, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode) {
  return quotaLineUpdate("UPDATE XSTXLGL01 SET XL0000=XL0000+", adjustment, " where ",
                         documentNumber, salespersonCode, productCode);
}

std::string decrement(std::string_view total, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode) {
  const std::string amount =
      total.starts_with('-') ? "(" + std::string(total) + ")" : std::string(total);
  return quotaLineUpdate("UPDATE XSTXLGL01 SET XL0000=XL0000-", amount, " WHERE ", documentNumber,
                         salespersonCode, productCode);
}

std::string block(const std::vector<std::string>& statements) {
  std::string s = "BEGIN ";
  for (const std::string& statement : statements) {
    s += statement;
    s += "; ";
  }
  s += "END;";
  return s;
}

std::string salespersonCodeOf(std::string_view gbkText) {
  return std::string(gbkText.substr(0, 4));
}

std::string salespersonEntry(std::string_view code, std::string_view name) {
  std::string s(code);
  s += " | ";
  s += name;
  return s;
}

}  // namespace qadj::window::sql
