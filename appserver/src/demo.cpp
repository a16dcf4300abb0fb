#include "qadj/appserver/demo.h"

#include <array>

#include "qadj/appserver/dates.h"
#include "qadj/appserver/schema.h"

namespace qadj::appserver {
namespace {

struct Person {
  const char* code;
  const char* name;
};

constexpr Person kOperator{"0001", "李建国"};
constexpr std::array<Person, 8> kSalespersons{{{"0011", "王芳"},
                                               {"0012", "张三"},
                                               {"0013", "李娜"},
                                               {"0014", "刘洋"},
                                               {"0015", "陈静"},
                                               {"0016", "杨帆"},
                                               {"0017", "赵磊"},
                                               {"0018", "黄敏"}}};

constexpr std::array<const char*, 20> kProducts{
    "康师傅红烧牛肉面", "统一老坛酸菜面", "农夫山泉550ml",   "怡宝纯净水555ml", "可口可乐330ml",
    "百事可乐330ml",    "雪碧500ml",      "王老吉310ml",     "加多宝310ml",     "青岛啤酒500ml",
    "雪花啤酒500ml",    "燕京啤酒500ml",  "伊利纯牛奶250ml", "蒙牛纯牛奶250ml", "旺旺雪饼84g",
    "奥利奥饼干116g",   "德芙巧克力43g",  "乐事薯片70g",     "金龙鱼调和油5L",  "海天酱油500ml"};

std::string productCode(std::size_t j) {
  return "1001" + std::string(j + 1 < 10 ? "000" : "00") + std::to_string(j + 1);
}

std::string compact(const std::string& isoDay) {
  std::string out;
  for (char c : isoDay)
    if (c != '-') out += c;
  return out;
}

void removeDemoRows(Database& db) {
  db.execute("DELETE FROM XSTXLGL01 WHERE DHAO00 LIKE 'DEMO%'");
  db.execute("DELETE FROM XSTXLGL1 WHERE DHAO00 LIKE 'DEMO%'");
  db.execute("DELETE FROM XSTFXDD0 WHERE DHAO00 LIKE 'DEMO%'");
  db.execute("DELETE FROM GSTRYGL0 WHERE RYDM00 = $1", {std::string(kOperator.code)});
  for (const auto& p : kSalespersons)
    db.execute("DELETE FROM GSTRYGL0 WHERE RYDM00 = $1", {std::string(p.code)});
  for (std::size_t j = 0; j < kProducts.size(); ++j)
    db.execute("DELETE FROM GSTJYGL1 WHERE SPDM00 = $1", {productCode(j)});
}

// One quota document for a day with lines for most salesperson/product pairs, and one
// visit-sales order per salesperson selling part (now and then all) of some quotas.
void seedDay(Database& db, double day, int variant) {
  const std::string iso = dates::formatDate(day);
  const std::string doc = "DEMO" + compact(iso) + "01";
  db.execute("INSERT INTO XSTXLGL1 (DHAO00, ZDRQ00, ZDRY00) VALUES ($1, $2, $3)",
             {doc, iso + " 08:30:00", std::string(kOperator.code)});
  for (std::size_t i = 0; i < kSalespersons.size(); ++i) {
    const std::string order = "DEMOS" + compact(iso) + std::string(kSalespersons[i].code);
    int line = 0;
    for (std::size_t j = 0; j < kProducts.size(); ++j) {
      if ((i + j + static_cast<std::size_t>(variant)) % 3 == 0) continue;
      const double quota =
          10.0 +
          static_cast<double>((i * 7 + j * 13 + static_cast<std::size_t>(variant)) % 9) * 5.0;
      db.execute("INSERT INTO XSTXLGL01 (DHAO00, FXRY00, SPDM00, XL0000) VALUES ($1, $2, $3, $4)",
                 {doc, std::string(kSalespersons[i].code), productCode(j), quota});
      const std::size_t pick = (i * 5 + j * 3 + static_cast<std::size_t>(variant)) % 7;
      if (pick > 2) continue;
      // pick 0: a few units; 1: about half; 2: the whole quota and more (nothing left).
      const double sold = pick == 0 ? 3.0 : pick == 1 ? quota / 2.0 : quota + 5.0;
      db.execute(
          "INSERT INTO XSTFXDD0 (DHAO00, HH0000, FXRY00, SPDM00, XSSL00, XSRQ00)"
          " VALUES ($1, $2, $3, $4, $5, $6)",
          {order, static_cast<double>(++line), std::string(kSalespersons[i].code), productCode(j),
           sold, iso + " 10:15:00"});
    }
  }
}

}  // namespace

DemoSummary seedDemoData(Database& db, double today) {
  createSchema(db);
  const double day = static_cast<double>(static_cast<long long>(today));
  inTransaction(db, [&] {
    removeDemoRows(db);
    const std::string warehouse = kDemoWarehouseCode;
    db.execute("INSERT INTO GSTRYGL0 (RYDM00, RYMC00, CKDM00, FXY000) VALUES ($1, $2, $3, 'N')",
               {std::string(kOperator.code), std::string(kOperator.name), warehouse});
    for (const auto& p : kSalespersons)
      db.execute("INSERT INTO GSTRYGL0 (RYDM00, RYMC00, CKDM00, FXY000) VALUES ($1, $2, $3, 'Y')",
                 {std::string(p.code), std::string(p.name), warehouse});
    for (std::size_t j = 0; j < kProducts.size(); ++j)
      db.execute("INSERT INTO GSTJYGL1 (SPDM00, SPMC00) VALUES ($1, $2)",
                 {productCode(j), std::string(kProducts[j])});
    seedDay(db, day, 0);
    seedDay(db, day - 1, 1);
  });
  DemoSummary s;
  s.operatorCode = kOperator.code;
  s.operatorName = kOperator.name;
  s.warehouseCode = kDemoWarehouseCode;
  s.salespersons = static_cast<int>(kSalespersons.size());
  s.products = static_cast<int>(kProducts.size());
  s.today = dates::formatDate(day);
  s.yesterday = dates::formatDate(day - 1);
  return s;
}

}  // namespace qadj::appserver
