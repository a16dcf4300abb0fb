#include "support/window_fixture.h"

#include <QApplication>
#include <QTest>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/column.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/error_frame.h"
#include "qadj/plugin/error_box.h"
#include "qadj/protocol/appserver.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/fields.h"

namespace qadj::testing {

void WindowFixture::SetUp() {
  db = quotaDatabaseFor(GetParam().dialect);
  if (!db) return;
  com::CoInitialize();
  boxScope = std::make_unique<ScopedMessageBoxService>(boxes);
  fakeToday = std::make_unique<ScopedFakeToday>(Date{2026, 12, 8});
  plugin::installErrorReporter();
  const std::string url = db->url();
  auto log = this->log;
  server = std::make_unique<ServerUnderTest>(GetParam().transport);
  server->registerClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                        [url, log] { return createSpyServer(url, log); });
  ASSERT_TRUE(server->start()) << server->error();
}

void WindowFixture::TearDown() {
  if (!db) return;
  form.reset();
  server.reset();
  boxScope.reset();
  fakeToday.reset();
  com::CoUninitialize();
}

window::Tmain& WindowFixture::openWindow(const std::string& operatorCode) {
  context.OperatorCode = operatorCode;
  context.ServerHost = server->host();
  form = std::make_unique<window::Tmain>(context);
  form->FormActivate();
  return *form;
}

window::Tmain& WindowFixture::openDetail(const std::string& giver, const std::string& productCode) {
  window::Tmain& w = openWindow();
  pickSalesperson(giver);
  clickProduct(productCode);
  return w;
}

void pickSalesperson(window::Tmain& w, const std::string& code) {
  TFlatComboBox* box = w.RYMC;
  int target = -1;
  for (int i = 0; i < box->count(); ++i)
    if (box->itemText(i).startsWith(QString::fromStdString(code))) target = i;
  ASSERT_GE(target, 0) << "no entry " << code;
  box->setFocus();
  // From "no entry chosen", each Down moves one entry on and reports a change.
  box->setCurrentIndex(target - 1 >= 0 ? target - 1 : -1);
  QTest::keyClick(box, Qt::Key_Down);
  ASSERT_EQ(box->currentIndex(), target);
}

void clickProduct(window::Tmain& w, const std::string& productCode) {
  ASSERT_TRUE(w.ClientDataSet1->Locate("SPDM00", TValue(productCode)));
  guarded([&] { w.dxDBGrid1Click(); });
}

void adjust(window::Tmain& w, const std::string& receiver, double value) {
  ASSERT_TRUE(w.ClientDataSet2->Locate("FXRY00", TValue(receiver)));
  w.ClientDataSet2->Edit();
  w.ClientDataSet2->FieldByName("TZXL00")->SetAsFloat(value);
  guarded([&] { w.dxDBGrid2Edited(); });
}

void WindowFixture::pickSalesperson(const std::string& code) {
  testing::pickSalesperson(*form, code);
}

void WindowFixture::clickProduct(const std::string& productCode) {
  testing::clickProduct(*form, productCode);
}

void WindowFixture::adjust(const std::string& receiver, double value) {
  testing::adjust(*form, receiver, value);
}

std::string WindowFixture::adjustmentFooter() const {
  return form->dxDBGrid2->ColumnByName("dxDBGrid2TZXL00")->SummaryFooterText();
}

std::vector<std::string> WindowFixture::detailReceivers() const {
  std::vector<std::string> out;
  TClientDataSet& ds = *form->ClientDataSet2;
  if (!ds.Active()) return out;
  for (int i = 0; i < ds.RecordCount(); ++i) {
    const TValue v = ds.FieldByName("FXRY00")->ValueAt(i);
    out.push_back(std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : "");
  }
  return out;
}

}  // namespace qadj::testing
