// Opens the window's data sets on the fake application server, for tests that work
// on the rows of an open data set.
#pragma once

#include <functional>
#include <string>

#include "qadj/platform/error.h"
#include "qadj/window/window_datasets.h"
#include "support/fake_app_server.h"

namespace qadj::dstest {

// The message of the qadj::Exception that f throws, or "(no error)".
std::string errorText(const std::function<void()>& f);

// ClientDataSet2 (the detail data set) open on `rows` detail rows; FXRY00 of row i
// is "%04d" of i, XL0000 is 50 + i, TZXL00 is 0.
struct DetailFixture {
  explicit DetailFixture(int rows, const std::function<void(packet::Packet&)>& adjust = {});
  TClientDataSet& ds() { return *sets.clientDataSet2; }
  // FXRY00 of every record, in data-set order, joined by ",".
  std::string codes();

  FakeRemoteServer server;
  WindowDataSets sets;
};

}  // namespace qadj::dstest
