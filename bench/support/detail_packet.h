// A large packet of the detail query's shape (FXRY00, RYMC00, SPDM00, SPMC00, XL0000,
// TZXL00; GBK texts, repeating as a real detail's do), for the benchmarks of the
// packet's encoding, decoding and opening.
#pragma once

#include <cstdint>
#include <vector>

#include "qadj/protocol/packet.h"

namespace qadj::bench {

inline constexpr int kDetailPacketRows = 100000;

// The packet of rows rows.
packet::Packet detailPacket(int rows);

// detailPacket(kDetailPacketRows) encoded, made at the first call.
const std::vector<std::uint8_t>& detailPacketBytes();

}  // namespace qadj::bench
