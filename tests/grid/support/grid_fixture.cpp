#include "support/grid_fixture.h"

namespace gridtest {

using qadj::packet::Column;
using qadj::packet::Packet;
using qadj::packet::Value;

std::unique_ptr<qadj::RecordSet> MemDataSet::DoOpen() {
  return std::make_unique<qadj::RecordSet>(qadj::packet::encode(packet));
}

Packet detailPacket(const std::vector<DetailRow>& rows) {
  Packet p;
  p.columns = {Column{"FXRY00", "String", 4}, Column{"RYMC00", "String", 8},
               Column{"SPDM00", "String", 8}, Column{"SPMC00", "String", 30},
               Column{"XL0000", "Float", 0},  Column{"TZXL00", "Float", 0}};
  for (const DetailRow& r : rows) {
    std::vector<Value> row{r.fxry, r.name, std::string("P001"), std::string("Tea"), r.quota};
    if (r.adjustment)
      row.emplace_back(std::in_place_type<double>, *r.adjustment);
    else
      row.emplace_back(std::in_place_type<std::monostate>);
    p.rows.push_back(std::move(row));
  }
  return p;
}

Packet productPacket(const std::vector<ProductRow>& rows) {
  Packet p;
  p.columns = {Column{"SPDM00", "String", 8}, Column{"SPMC00", "String", 30},
               Column{"XL0000", "Float", 0}, Column{"YFXSL0", "Float", 0},
               Column{"KTZXL0", "Float", 0}};
  for (const ProductRow& r : rows)
    p.rows.push_back({r.code, r.name, r.quota, r.sold, r.adjustable});
  return p;
}

std::vector<std::string> columnTexts(qadj::TDataSet& ds, const char* field) {
  std::vector<std::string> out;
  qadj::TField* f = ds.FieldByName(field);
  for (int i = 0; i < ds.RecordCount(); ++i) out.push_back(f->DisplayTextAt(i));
  return out;
}

}  // namespace gridtest
