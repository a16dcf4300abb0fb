#include "qadj/appserver/quota.h"

#include <algorithm>
#include <cassert>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/server_error.h"
#include "qadj/protocol/save_request.h"

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

// The salesperson's quota on the documents of a day ("yyyy-mm-dd") and what the
// salesperson sold that day, per product.
struct QuotaAndSales {
  std::map<std::string, double> quotas, sold;
};

QuotaAndSales quotaAndSales(Database& db, const std::string& salespersonCode,
                            const std::string& day) {
  return {byProduct(db.query("SELECT A.SPDM00, SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B"
                             " WHERE A.DHAO00 = B.DHAO00 AND A.FXRY00 = $1"
                             " AND TRUNC(B.ZDRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY A.SPDM00",
                             {salespersonCode, day})),
          byProduct(db.query(
              "SELECT SPDM00, SUM(XSSL00) FROM XSTFXDD0"
              " WHERE FXRY00 = $1 AND TRUNC(XSRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY SPDM00",
              {salespersonCode, day}))};
}

// The salesperson's quota of product on the day of document (its lines in every
// document of that day) and what the salesperson sold of it that day, read in one
// statement; nullopt when there is no such document. A save asks for them under its
// lock, so they cost what they take to plan and run.
std::optional<std::pair<double, double>> quotaAndSalesOn(Database& db,
                                                         const std::string& salespersonCode,
                                                         const std::string& product,
                                                         const std::string& document) {
  const auto rs = db.query(
      "SELECT (SELECT SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B"
      " WHERE A.DHAO00 = B.DHAO00 AND A.FXRY00 = $1 AND A.SPDM00 = $2"
      " AND TRUNC(B.ZDRQ00) = TRUNC(C.ZDRQ00)),"
      " (SELECT SUM(D.XSSL00) FROM XSTFXDD0 D"
      " WHERE D.FXRY00 = $1 AND D.SPDM00 = $2 AND TRUNC(D.XSRQ00) = TRUNC(C.ZDRQ00))"
      " FROM XSTXLGL1 C WHERE C.DHAO00 = $3",
      {salespersonCode, product, document});
  if (rs.rows.empty()) return std::nullopt;
  const auto number = [&](std::size_t column) {
    const Cell* c = rs.rows[0].size() <= column ? nullptr : &rs.rows[0][column];
    return c && std::holds_alternative<double>(*c) ? std::get<double>(*c) : 0.0;
  };
  return std::pair{number(0), number(1)};
}

double soldOf(const QuotaAndSales& q, const std::string& product) {
  const auto it = q.sold.find(product);
  return it == q.sold.end() ? 0.0 : it->second;
}

}  // namespace

double adjustableQuantity(double quota, double sold) {
  return inHundredths(std::max(quota - sold, 0.0));
}

double inHundredths(double value) {
  const auto q = Quantity::round(value);
  return q ? q->value() : value;
}

std::string workingRowsInsert(std::size_t rows) {
  assert(rows > 0 && rows <= kWorkingRowsPerInsert);
  std::string sql = "INSERT INTO PGTQADJ0 (SPDM00, XL0000, YFXSL0, KTZXL0) VALUES ";
  for (std::size_t i = 0; i < rows; ++i) {
    const std::size_t n = 4 * i;
    sql += (i ? ", ($" : "($") + std::to_string(n + 1) + ", $" + std::to_string(n + 2) + ", $" +
           std::to_string(n + 3) + ", $" + std::to_string(n + 4) + ")";
  }
  return sql;
}

std::string quotaLineLockQuery(std::size_t people, std::size_t documents) {
  assert(people > 0 && documents > 0);
  std::string pairs, days;
  std::size_t n = 0;
  const auto next = [&] { return "$" + std::to_string(++n); };
  for (std::size_t i = 0; i < people; ++i) {
    pairs += (i ? ", (" : "(") + next();
    pairs += ", " + next() + ")";
  }
  for (std::size_t i = 0; i < documents; ++i) days += (i ? ", " : "") + next();
  return "SELECT 1 FROM XSTXLGL01 A WHERE (A.FXRY00, A.SPDM00) IN (" + pairs +
         ") AND A.DHAO00 IN (SELECT B.DHAO00 FROM XSTXLGL1 B, XSTXLGL1 C"
         " WHERE TRUNC(B.ZDRQ00) = TRUNC(C.ZDRQ00) AND C.DHAO00 IN (" +
         days + ")) ORDER BY A.DHAO00, A.FXRY00, A.SPDM00 FOR UPDATE OF A";
}

void lockQuotaLines(Database& db, const std::vector<QuotaLineChange>& lines) {
  if (db.dialect() != "postgresql") return;
  std::set<std::pair<std::string, std::string>> people;  // salesperson, product
  std::set<std::string> documents;
  for (const auto& line : lines) {
    people.emplace(line.salesperson, line.product);
    documents.insert(line.document);
  }
  if (people.empty()) return;
  std::vector<Cell> params;
  for (const auto& [salesperson, product] : people) {
    params.emplace_back(salesperson);
    params.emplace_back(product);
  }
  params.insert(params.end(), documents.begin(), documents.end());
  db.query(quotaLineLockQuery(people.size(), documents.size()), params);
}

void refuseOverGiving(Database& db, const Transfer& transfer) {
  // What the statements do to each salesperson's line (a transfer is one document and
  // one product; the lines of that day in other documents are counted by the read).
  std::map<std::string, QuantitySum> change;
  for (const auto& line : transfer.lines) {
    assert(line.document == transfer.document && line.product == transfer.product);
    change[line.salesperson].add(line.change);
  }
  for (const auto& [salesperson, delta] : change) {
    if (delta.hundredths() >= 0) continue;  // receiving is never over a limit
    const auto quotaAndSales =
        quotaAndSalesOn(db, salesperson, transfer.product, transfer.document);
    // A line of no document changes nothing: the save fails on it anyway.
    if (!quotaAndSales) continue;
    const double limit = adjustableQuantity(quotaAndSales->first, quotaAndSales->second);
    if (!overAdjustable(-delta.hundredths(), limit)) continue;
    if (salesperson == transfer.giver) throw OverLimit(kOverLimitText);
    // A colleague would be taken below what they sold: say who, and what can still be
    // taken back from them.
    const auto named = db.query("SELECT RYMC00 FROM GSTRYGL0 WHERE RYDM00 = $1", {salesperson});
    const auto* name = named.rows.empty() ? nullptr : std::get_if<std::string>(&named.rows[0][0]);
    const auto limitQ = Quantity::round(limit);
    const auto taken = Quantity::ofHundredths(-delta.hundredths());
    throw OverLimit("访销员 " + salesperson + (name ? " " + *name : std::string()) +
                    " 的限量最多还能调回 " +
                    (limitQ ? limitQ->twoDecimals() : std::string("0.00")) + "，这次要调回 " +
                    (taken ? taken->twoDecimals() : std::string("更多")) + "，没有修改任何限量");
  }
}

std::size_t fillAdjustableQuotas(Database& db, const std::string& salespersonCode,
                                 double quotaDate) {
  const std::string day = dates::formatDate(quotaDate);
  return inTransaction(
      db,
      [&] {
        db.execute("DELETE FROM PGTQADJ0");
        const auto q = quotaAndSales(db, salespersonCode, day);
        std::vector<Cell> values;
        const auto flush = [&] {
          if (values.empty()) return;
          db.execute(workingRowsInsert(values.size() / 4), values);
          values.clear();
        };
        for (const auto& [product, quota] : q.quotas) {
          const double already = soldOf(q, product);
          values.insert(values.end(), {product, inHundredths(quota), inHundredths(already),
                                       adjustableQuantity(quota, already)});
          if (values.size() == 4 * kWorkingRowsPerInsert) flush();
        }
        flush();
        return q.quotas.size();
      },
      Database::TxMode::Private);
}

}  // namespace qadj::appserver
