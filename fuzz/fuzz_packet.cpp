// Record-set packet decoder: every input is either refused with PacketError or
// decodes to a packet that encodes back to exactly the same bytes.
#include <cstdint>
#include <cstring>
#include <span>

#include "fuzz_check.h"
#include "packet_compare.h"
#include "qadj/protocol/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qadj::packet;
  Packet p;
  try {
    p = decode(std::span<const std::uint8_t>(data, size));
  } catch (const PacketError&) {
    return 0;
  }
  for (const auto& row : p.rows) FUZZ_CHECK(row.size() == p.columns.size());
  const auto again = encode(p);
  FUZZ_CHECK(again.size() == size);
  FUZZ_CHECK(size == 0 || std::memcmp(again.data(), data, size) == 0);
  FUZZ_CHECK(qadj::fuzz::samePacket(decode(again), p));
  return 0;
}
