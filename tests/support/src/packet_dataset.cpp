#include "qadj/testing/packet_dataset.h"

namespace qadj::testing {

std::unique_ptr<RecordSet> PacketDataSet::DoOpen() {
  return std::make_unique<RecordSet>(packet::encode(packet));
}

}  // namespace qadj::testing
