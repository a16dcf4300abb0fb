#include "qadj/appserver/quota.h"

#include <algorithm>
#include <cassert>
#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/server_error.h"
#include "qadj/protocol/save_request.h"

namespace qadj::appserver {
namespace {

// Sums column 1 per product code (column 0) of a grouped result, as it is read.
class SumsByProduct final : public RowReader {
 public:
  void columns(const std::vector<ResultColumn>&) override {}
  void row(std::span<const CellView> values) override {
    const auto* product =
        values.size() < 2 ? nullptr : std::get_if<std::string_view>(&values.front());
    if (!product) return;
    const auto* value = std::get_if<double>(&values.back());
    sums[std::string(*product)] += value ? *value : 0.0;
  }
  double of(const std::string& product) const {
    const auto it = sums.find(product);
    return it == sums.end() ? 0.0 : it->second;
  }

  std::map<std::string, double> sums;
};

// The salesperson's quota on the documents of a day, and what the salesperson sold
// that day, per product. Parameters: salesperson, day ("yyyy-mm-dd").
constexpr const char* kQuotasOfDay =
    "SELECT A.SPDM00, SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B WHERE A.DHAO00 = B.DHAO00"
    " AND A.FXRY00 = $1 AND TRUNC(B.ZDRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY A.SPDM00";
constexpr const char* kSalesOfDay =
    "SELECT SPDM00, SUM(XSSL00) FROM XSTFXDD0"
    " WHERE FXRY00 = $1 AND TRUNC(XSRQ00) = TO_DATE($2, 'yyyy-mm-dd') GROUP BY SPDM00";

// The salesperson's quota of product on the day of document (its lines in every
// document of that day) and what the salesperson sold of it that day, in one row; no
// row when there is no such document. Parameters: salesperson, product, document. A save
// asks for them under its lock, so they cost what they take to plan and run.
constexpr const char* kQuotaAndSalesOn =
    "SELECT (SELECT SUM(A.XL0000) FROM XSTXLGL01 A, XSTXLGL1 B"
    " WHERE A.DHAO00 = B.DHAO00 AND A.FXRY00 = $1 AND A.SPDM00 = $2"
    " AND TRUNC(B.ZDRQ00) = TRUNC(C.ZDRQ00)),"
    " (SELECT SUM(D.XSSL00) FROM XSTFXDD0 D"
    " WHERE D.FXRY00 = $1 AND D.SPDM00 = $2 AND TRUNC(D.XSRQ00) = TRUNC(C.ZDRQ00))"
    " FROM XSTXLGL1 C WHERE C.DHAO00 = $3";

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

std::string quotaLineLockQuery(std::size_t salespersons) {
  assert(salespersons > 0);
  std::string codes;
  for (std::size_t i = 0; i < salespersons; ++i) codes += (i ? ", $" : "$") + std::to_string(i + 3);
  return "SELECT 1 FROM XSTXLGL01 A WHERE A.SPDM00 = $1 AND A.FXRY00 IN (" + codes +
         ") AND A.DHAO00 IN (SELECT B.DHAO00 FROM XSTXLGL1 B, XSTXLGL1 C"
         " WHERE TRUNC(B.ZDRQ00) = TRUNC(C.ZDRQ00) AND C.DHAO00 = $2)"
         " ORDER BY A.DHAO00, A.FXRY00, A.SPDM00 FOR UPDATE OF A";
}

// The read of one salesperson's limit: what the transfer takes from them, and their
// quota and sales (kQuotaAndSalesOn; none when there is no such document).
struct SaveChecks::Read final : RowReader {
  Read(std::string salesperson, std::int64_t taken)
      : salesperson(std::move(salesperson)), taken(taken) {}
  void columns(const std::vector<ResultColumn>&) override {}
  void row(std::span<const CellView> values) override {
    const auto number = [&](std::size_t column) {
      const double* d = column < values.size() ? std::get_if<double>(&values[column]) : nullptr;
      return d ? *d : 0.0;
    };
    if (!quotaAndSales) quotaAndSales = std::pair{number(0), number(1)};
  }

  std::string salesperson;
  std::int64_t taken;  // hundredths
  std::optional<std::pair<double, double>> quotaAndSales;
};

SaveChecks::SaveChecks(const Database& db, const Transfer& transfer,
                       std::vector<Database::Command>& batch)
    : transfer_(transfer) {
  // What the statements do to each salesperson's line (a transfer is one document and
  // one product; the lines of that day in other documents are counted by the read).
  std::map<std::string, QuantitySum> change;
  for (const auto& line : transfer.lines) {
    assert(line.document == transfer.document && line.product == transfer.product);
    change[line.salesperson].add(line.change);
  }
  if (db.dialect() == "postgresql" && !change.empty()) {
    lockSql_ = quotaLineLockQuery(change.size());
    std::vector<Cell> params{transfer.product, transfer.document};
    for (const auto& person : change) params.emplace_back(person.first);
    batch.push_back({lockSql_, std::move(params)});
  }
  for (const auto& [salesperson, delta] : change) {
    if (delta.hundredths() >= 0) continue;  // receiving is never over a limit
    reads_.push_back(std::make_unique<Read>(salesperson, -delta.hundredths()));
    batch.push_back({kQuotaAndSalesOn,
                     {salesperson, transfer.product, transfer.document},
                     reads_.back().get()});
  }
}

SaveChecks::~SaveChecks() = default;

void SaveChecks::refuseOverGiving(Database& db) const {
  for (const auto& read : reads_) {
    // A line of no document changes nothing: the save fails on it anyway.
    if (!read->quotaAndSales) continue;
    const double limit =
        adjustableQuantity(read->quotaAndSales->first, read->quotaAndSales->second);
    if (!overAdjustable(read->taken, limit)) continue;
    if (read->salesperson == transfer_.giver) throw OverLimit(kOverLimitText);
    // A colleague would be taken below what they sold: say who, and what can still be
    // taken back from them.
    const auto named =
        db.query("SELECT RYMC00 FROM GSTRYGL0 WHERE RYDM00 = $1", {read->salesperson});
    const auto* name = named.rows.empty() ? nullptr : std::get_if<std::string>(&named.rows[0][0]);
    const auto limitQ = Quantity::round(limit);
    const auto taken = Quantity::ofHundredths(read->taken);
    throw OverLimit("访销员 " + read->salesperson + (name ? " " + *name : std::string()) +
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
        // Two exchanges: the old rows go and the sums are read, then the rows go in.
        SumsByProduct quotas, sold;
        const std::vector<Database::Command> reads{{"DELETE FROM PGTQADJ0", {}},
                                                   {kQuotasOfDay, {salespersonCode, day}, &quotas},
                                                   {kSalesOfDay, {salespersonCode, day}, &sold}};
        std::vector<std::int64_t> counts;
        db.executeBatch(reads, counts);
        std::deque<std::string> texts;  // the inserts' texts, kept while they run
        std::vector<Database::Command> inserts;
        std::vector<Cell> values;
        const auto flush = [&] {
          if (values.empty()) return;
          texts.push_back(workingRowsInsert(values.size() / 4));
          inserts.push_back({texts.back(), std::move(values)});
          values.clear();
        };
        for (const auto& [product, quota] : quotas.sums) {
          const double already = sold.of(product);
          values.insert(values.end(), {product, inHundredths(quota), inHundredths(already),
                                       adjustableQuantity(quota, already)});
          if (values.size() == 4 * kWorkingRowsPerInsert) flush();
        }
        flush();
        if (!inserts.empty()) db.executeBatch(inserts, counts);
        return quotas.sums.size();
      },
      Database::TxMode::Private);
}

}  // namespace qadj::appserver
