// The data set's own packet reader (it indexes the packet in place instead of
// decoding it): it must accept exactly the inputs the packet decoder accepts and
// show the same columns, properties and cells.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "packet_compare.h"
#include "qadj/protocol/packet.h"
#include "qadj/server/record_set.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qadj::packet;
  std::optional<Packet> decoded;
  try {
    decoded = decode(std::span<const std::uint8_t>(data, size));
  } catch (const PacketError&) {
  }
  std::optional<qadj::RecordSet> set;
  try {
    set.emplace(std::vector<std::uint8_t>(data, data + size));
  } catch (const PacketError&) {
  }
  FUZZ_CHECK(decoded.has_value() == set.has_value());
  if (!decoded) return 0;

  FUZZ_CHECK(set->ReadOnly() == decoded->readOnly);
  FUZZ_CHECK(set->DisableEdits() == decoded->disableEdits);
  FUZZ_CHECK(set->DisableInserts() == decoded->disableInserts);
  FUZZ_CHECK(set->DisableDeletes() == decoded->disableDeletes);
  FUZZ_CHECK(set->NoResetCall() == decoded->noResetCall);
  FUZZ_CHECK(set->Columns().size() == decoded->columns.size());
  for (std::size_t c = 0; c < decoded->columns.size(); ++c)
    FUZZ_CHECK(qadj::fuzz::sameColumn(set->Columns()[c], decoded->columns[c]));
  FUZZ_CHECK(set->Count() == static_cast<int>(decoded->rows.size()));
  for (int r = 0; r < set->Count(); ++r)
    for (std::size_t c = 0; c < decoded->columns.size(); ++c)
      FUZZ_CHECK(qadj::fuzz::sameValue(set->ValueAt(r, static_cast<int>(c)),
                                       decoded->rows[static_cast<std::size_t>(r)][c]));
  return 0;
}
