#include "qadj/testing/window_packets.h"

namespace qadj::testing {

packet::Column textColumn(std::string name, int width) {
  return {std::move(name), "String", width, false};
}
packet::Column floatColumn(std::string name) {
  return {std::move(name), "Float", 0, false};
}
packet::Column column(std::string name, std::string typeName) {
  return {std::move(name), std::move(typeName), 0, false};
}

packet::Packet detailPacket(const std::vector<DetailRow>& rows) {
  packet::Packet p;
  p.columns = {textColumn("FXRY00", 4),  textColumn("RYMC00", 8), textColumn("SPDM00", 8),
               textColumn("SPMC00", 30), floatColumn("XL0000"),   floatColumn("TZXL00")};
  p.rows.reserve(rows.size());
  for (const DetailRow& r : rows) {
    std::vector<packet::Value> row{r.fxry, r.name, r.product, r.productName, r.quota};
    if (r.adjustment)
      row.emplace_back(std::in_place_type<double>, *r.adjustment);
    else
      row.emplace_back(std::in_place_type<std::monostate>);
    p.rows.push_back(std::move(row));
  }
  return p;
}

packet::Packet productPacket(const std::vector<ProductRow>& rows) {
  packet::Packet p;
  p.columns = {textColumn("SPDM00", 8), textColumn("SPMC00", 30), floatColumn("XL0000"),
               floatColumn("YFXSL0"), floatColumn("KTZXL0")};
  p.rows.reserve(rows.size());
  for (const ProductRow& r : rows)
    p.rows.push_back({r.code, r.name, r.quota, r.sold, r.adjustable});
  return p;
}

}  // namespace qadj::testing
