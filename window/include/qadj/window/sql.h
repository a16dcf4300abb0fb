// The statements of the quota-adjustment window, assembled from their fixed pieces
// and values. Every value written between single quotes has its quotes doubled, so
// no typed or host-supplied text can change a statement. All texts are GBK.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qadj::window::sql {

// value with every single quote doubled (for use between quotes).
std::string quoted(std::string_view value);

// SELECT CKDM00 FROM GSTRYGL0 WHERE RYDM00='<operator>'
std::string warehouseLookup(std::string_view operatorCode);
// SELECT CKDM00,RYDM00,RYMC00 FROM GSTRYGL0 WHERE FXY000='Y' AND CKDM00='<warehouse>'
std::string salespersonList(std::string_view warehouseCode);
// The product quotas of the working table, ordered by product code.
std::string productQuery();
// The other salespersons' quota lines for one product on one date.
std::string detailQuery(std::string_view dateText, std::string_view warehouseCode,
                        std::string_view salespersonCode, std::string_view productCode);
// SELECT DHAO00 FROM XSTXLGL1 WHERE TRUNC(ZDRQ00)=TO_DATE('<date>','yyyy-mm-dd')
std::string documentLookup(std::string_view dateText);
// Raises one salesperson's quota line by adjustment (a number in general form).
std::string increment(std::string_view adjustment, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode);
// Lowers the giver's quota line by total (two decimals). A negative total is
// written in parentheses, so the statement never holds "--".
std::string decrement(std::string_view total, std::string_view documentNumber,
                      std::string_view salespersonCode, std::string_view productCode);
// Several statements as one unit: "BEGIN s1; s2; ... END;", which the application
// server runs in one transaction.
std::string block(const std::vector<std::string>& statements);

// The first four bytes of a text (fewer when it is shorter): the salesperson code
// that every handler takes from the salesperson list's text.
std::string salespersonCodeOf(std::string_view gbkText);
// An entry of the salesperson list: code, " | ", name.
std::string salespersonEntry(std::string_view code, std::string_view name);

}  // namespace qadj::window::sql
