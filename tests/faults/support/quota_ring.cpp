#include "support/quota_ring.h"

#include <iterator>

#include "qadj/testing/databases.h"
#include "qadj/testing/window_save.h"

namespace qadj::testing::ring {

const char* const kCodes[kPersons] = {"0101", "0102", "0103", "0104", "0105", "0106"};

Transfer transfer(int i) {
  return {i % kPersons, (i + 1) % kPersons, (i + 3) % kPersons, 0.25 * (i + 1), 0.5 * (i + 1)};
}

void seed(appserver::Database& db) {
  seedQuotaDocument(db, {std::begin(kCodes), std::end(kCodes)}, {"P001"}, kStartQuota);
}

std::vector<double> expectedAfter(int n) {
  std::vector<double> q(kPersons, kStartQuota);
  for (int i = 0; i < n; ++i) {
    const Transfer t = transfer(i);
    q[static_cast<std::size_t>(t.first)] += t.toFirst;
    q[static_cast<std::size_t>(t.second)] += t.toSecond;
    q[static_cast<std::size_t>(t.giver)] -= t.toFirst + t.toSecond;
  }
  return q;
}

std::string saveBlock(int i) {
  const Transfer t = transfer(i);
  return windowSave("D1", "P001", kCodes[t.giver],
                    {{kCodes[t.first], t.toFirst}, {kCodes[t.second], t.toSecond}});
}

std::vector<double> lines(appserver::Database& db) {
  const auto rs =
      db.query("SELECT FXRY00, XL0000 FROM XSTXLGL01 WHERE DHAO00='D1' ORDER BY FXRY00");
  std::vector<double> q;
  for (const auto& row : rs.rows) q.push_back(std::get<double>(row[1]));
  return q;
}

std::string describe(const std::vector<double>& q) {
  std::string s;
  for (double v : q) s += std::to_string(v) + " ";
  return s;
}

}  // namespace qadj::testing::ring
