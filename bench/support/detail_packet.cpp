#include "support/detail_packet.h"

#include <cstdio>
#include <string>

namespace qadj::bench {

packet::Packet detailPacket(int rows) {
  packet::Packet p;
  p.columns = {{"FXRY00", "String", 4, false}, {"RYMC00", "String", 8, false},
               {"SPDM00", "String", 8, false}, {"SPMC00", "String", 30, false},
               {"XL0000", "Float", 0, false},  {"TZXL00", "Float", 0, false}};
  p.rows.reserve(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "%04d", i % 10000);
    p.rows.push_back(
        {std::string(code), "\xD5\xC5\xC8\xFD" + std::to_string(i % 100),
         std::to_string(10000000 + i % 5000),
         std::string("\xBF\xC9\xBF\xDA\xBF\xC9\xC0\xD6 330ml ") + std::to_string(i % 977),
         50.0 + i % 300, 0.0});
  }
  return p;
}

const std::vector<std::uint8_t>& detailPacketBytes() {
  static const std::vector<std::uint8_t> bytes = packet::encode(detailPacket(kDetailPacketRows));
  return bytes;
}

}  // namespace qadj::bench
