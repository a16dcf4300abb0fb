// Test support for the grid: an in-memory data set fed from a record-set packet,
// the window's detail and product field layouts, and an application object.
#pragma once

#include <QApplication>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qadj/protocol/packet.h"
#include "qadj/server/data_source.h"
#include "qadj/server/dataset.h"
#include "qadj/testing/packet_dataset.h"
#include "qadj/testing/window_packets.h"
#include "qadj/window/window_datasets.h"

namespace gridtest {

using qadj::testing::detailPacket;
using qadj::testing::DetailRow;
using qadj::testing::PacketDataSet;
using qadj::testing::productPacket;
using qadj::testing::ProductRow;

// Values of a field over all records, in data-set order (GBK text of each).
std::vector<std::string> columnTexts(qadj::TDataSet& ds, const char* field);

// The window's own field declarations.
using qadj::declareDetailFields;
using qadj::declareProductFields;

}  // namespace gridtest
