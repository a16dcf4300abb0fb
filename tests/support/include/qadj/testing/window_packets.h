// The packets of the window's two queries, as the application server sends them:
// the product query (SPDM00, SPMC00, XL0000, YFXSL0, KTZXL0) and the detail query
// (FXRY00, RYMC00, SPDM00, SPMC00, XL0000, TZXL00). Texts are GBK.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "qadj/protocol/packet.h"

namespace qadj::testing {

struct DetailRow {
  std::string fxry;  // salesperson code (key)
  std::string name;
  double quota;
  std::optional<double> adjustment;  // null when empty
  std::string product = "P001";
  std::string productName = "Tea";
};

struct ProductRow {
  std::string code;
  std::string name;
  double quota, sold, adjustable;
};

packet::Packet detailPacket(const std::vector<DetailRow>& rows);
packet::Packet productPacket(const std::vector<ProductRow>& rows);

// Column shapes: a text of `width` characters, a floating-point number, any type.
packet::Column textColumn(std::string name, int width);
packet::Column floatColumn(std::string name);
packet::Column column(std::string name, std::string typeName);

}  // namespace qadj::testing
