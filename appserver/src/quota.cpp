#include "qadj/appserver/quota.h"

#include <algorithm>
#include <map>

#include "qadj/appserver/dates.h"

namespace qadj::appserver {
namespace {

// Sums column 1 per product code (column 0) of a grouped result.
std::map<std::string, double> byProduct(const ResultSet& rs) {
  std::map<std::string, double> out;
  for (const auto& row : rs.rows) {
    if (row.size() < 2 || !std::holds_alternative<std::string>(row.front())) continue;
    const Cell& value = row.back();
    out[std::get<std::string>(row.front())] +=
        std::holds_alternative<double>(value) ? std::get<double>(value) : 0.0;
  }
  return out;
}

}  // namespace

std::size_t fillAdjustableQuotas(Database& db, const std::string& salespersonCode,
                                 double quotaDate) {
  const std::string day = dates::formatDate(quotaDate);
  return inTransaction(
      db,
      [&] {
        db.execute("DELETE FROM PGTQADJ0");
        const auto quotas =
            byProduct(db.query("SELECT A.SPDM00, SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B"
                               " WHERE A.DHAO00 = B.DHAO00 AND A.FXRY00 = $1"
                               " AND TRUNC(B.ZDRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY A.SPDM00",
                               {salespersonCode, day}));
        const auto sold = byProduct(db.query(
            "SELECT SPDM00, SUM(XSSL00) FROM XSTFXDD0"
            " WHERE FXRY00 = $1 AND TRUNC(XSRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY SPDM00",
            {salespersonCode, day}));
        for (const auto& [product, quota] : quotas) {
          const auto it = sold.find(product);
          const double already = it == sold.end() ? 0.0 : it->second;
          db.execute(
              "INSERT INTO PGTQADJ0 (SPDM00, XL0000, YFXSL0, KTZXL0) VALUES ($1, $2, $3, $4)",
              {product, quota, already, std::max(quota - already, 0.0)});
        }
        return quotas.size();
      },
      Database::TxMode::Private);
}

}  // namespace qadj::appserver
