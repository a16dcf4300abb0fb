// The window against a real application server on a test database, reached either
// in-process (empty host text) or over gRPC (a remote object server on loopback).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "qadj/testing/com_scope.h"
#include "qadj/testing/server_under_test.h"
#include "qadj/window/main_form.h"
#include "support/quota_db.h"
#include "support/spy_server.h"
#include "support/window_scene.h"

namespace qadj::testing {

// What the operator does in a window, as its controls report it to the handlers:
// picks the entry whose code is given (with the arrow keys), clicks a product row;
// an adjustment for a receiver's row written as the cell editor writes it, and the
// detail grid's edited handler raised (adjust: a window that need not be shown); or
// typed into the row (typeAdjustment: a click on its cell, the keys, Return; "" is the
// row without a salesperson), which needs the window shown and laid out.
void pickSalesperson(window::Tmain& w, const std::string& code);
void clickProduct(window::Tmain& w, const std::string& productCode);
void adjust(window::Tmain& w, const std::string& receiver, double value);
void typeAdjustment(window::Tmain& w, const std::string& receiver, const std::string& typed);

// An operator's window on the servers of host, activated as the host shows it (its
// failures shown in boxes, as the plug-in reports them); not shown on screen.
struct OperatorWindow {
  explicit OperatorWindow(const std::string& host, const std::string& operatorCode = "0001");
  PluginContext context;  // first: the window holds it
  window::Tmain form;
};

class WindowFixture : public ::testing::TestWithParam<Setup>, protected WindowScene {
 protected:
  ComScope com_;  // first: it outlives every object below
  void SetUp() override;
  void TearDown() override;

  // Creates the window for an operator (the server host is the fixture's).
  window::Tmain& openWindow(const std::string& operatorCode = "0001");
  // Opens the window for operator 0001, picks the giver and clicks the product.
  window::Tmain& openDetail(const std::string& giver, const std::string& productCode);
  // Picks the entry whose code is given, as the operator would with the arrow keys.
  void pickSalesperson(const std::string& code);
  // Makes a product row current and raises the product grid's click handler.
  void clickProduct(const std::string& productCode);
  // Types an adjustment into a receiver's row of the shown window, as the operator
  // does: the number in general form, or the keys as given.
  void adjust(const std::string& receiver, double value);
  void type(const std::string& receiver, const std::string& typed);
  // The detail grid's adjustment footer text.
  std::string adjustmentFooter() const;
  // The adjustment the detail grid shows in a receiver's row.
  std::string shownAdjustment(const std::string& receiver) const;
  // FXRY00 of every detail row, in data-set order.
  std::vector<std::string> detailReceivers() const;

  std::unique_ptr<QuotaDatabase> db;
  QuotaDatabase& data() { return *db; }
  std::shared_ptr<ServerLog> log = std::make_shared<ServerLog>();
  std::unique_ptr<ServerUnderTest> server;
  PluginContext context;
  std::unique_ptr<window::Tmain> form;
};

}  // namespace qadj::testing
