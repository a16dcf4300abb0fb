// A data set whose rows come from a record-set packet held in memory: the grid tests'
// and the grid benchmarks' stand-in for a client data set.
#pragma once

#include <memory>
#include <string>

#include "qadj/protocol/packet.h"
#include "qadj/server/dataset.h"

namespace qadj::testing {

class PacketDataSet : public TDataSet {
 public:
  explicit PacketDataSet(std::string name, packet::Packet rows = {})
      : TDataSet(std::move(name)), packet(std::move(rows)) {}

  // What the next Open reads, encoded then as a fetch's reply hands its bytes over.
  packet::Packet packet;

 protected:
  std::unique_ptr<RecordSet> DoOpen() override;
};

}  // namespace qadj::testing
