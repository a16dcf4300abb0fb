#include "support/window_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/column.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/number_text.h"
#include "qadj/plugin/error_box.h"
#include "qadj/protocol/appserver.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/fields.h"
#include "qadj/widgets/error_frame.h"

namespace qadj::testing {

void WindowFixture::SetUp() {
  db = quotaDatabaseFor(GetParam().dialect);
  if (!db) return;
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
}

OperatorWindow::OperatorWindow(const std::string& host, const std::string& operatorCode)
    : form(context) {
  plugin::installErrorReporter();
  context.ServerHost = host;  // read from the activation on, as the host sets it
  context.OperatorCode = operatorCode;
  guarded([&] { form.FormActivate(); });
}

window::Tmain& WindowFixture::openWindow(const std::string& operatorCode) {
  context.OperatorCode = operatorCode;
  context.ServerHost = server->host();
  const std::size_t fetches = log->snapshotFetches().size(), shown = boxes->calls().size();
  form = std::make_unique<window::Tmain>(context);
  // Shown at its designed size, so that the operator's clicks land where the cells are;
  // showing activates it, as the host's modal showing does.
  form->show();
  // The activation runs from the event loop, in one go: it has run once the server saw
  // its warehouse lookup, or a box reported its failure.
  const auto activated = [&] {
    return log->snapshotFetches().size() > fetches || boxes->calls().size() > shown;
  };
  for (int turns = 0; turns < 1000 && !activated(); ++turns)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(activated());
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

namespace {

// The display row of the detail grid whose salesperson is receiver; -1 when none is.
int detailRow(const grid::TdxDBGrid& g, const std::string& receiver) {
  for (int r = 0; r < g.RowCount(); ++r)
    if (g.cellText(r, g.columnOfField(QStringLiteral("FXRY00"))) ==
        QString::fromStdString(receiver))
      return r;
  return -1;
}

}  // namespace

void adjust(window::Tmain& w, const std::string& receiver, double value) {
  ASSERT_TRUE(w.ClientDataSet2->Locate("FXRY00", TValue(receiver)));
  w.ClientDataSet2->Edit();
  w.ClientDataSet2->FieldByName("TZXL00")->SetAsFloat(value);
  guarded([&] { w.dxDBGrid2Edited(); });
}

void typeAdjustment(window::Tmain& w, const std::string& receiver, const std::string& typed) {
  grid::TdxDBGrid& g = *w.dxDBGrid2;
  const int column = g.columnOfField(QStringLiteral("TZXL00"));
  const int row = detailRow(g, receiver);
  ASSERT_GE(row, 0) << "no detail row for '" << receiver << "'";
  // A click on the cell, the keys of the number, then Return, as the keyboard sends
  // them: the grid opens its editor at the first key and writes the text at Return.
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.CellRect(row, column).center());
  if (typed.empty()) {
    // Emptying the cell: Return opens the editor, Delete clears what it shows.
    QTest::keyClick(&g, Qt::Key_Return);
    QTest::keyClick(g.Editor(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(g.Editor(), Qt::Key_Delete);
  } else {
    QTest::keyClicks(&g, QString::fromStdString(typed));
  }
  ASSERT_TRUE(g.EditorVisible()) << "the cell took no key of '" << typed << "'";
  QTest::keyClick(g.Editor(), Qt::Key_Return);
}

void WindowFixture::pickSalesperson(const std::string& code) {
  testing::pickSalesperson(*form, code);
}

void WindowFixture::clickProduct(const std::string& productCode) {
  testing::clickProduct(*form, productCode);
}

void WindowFixture::adjust(const std::string& receiver, double value) {
  testing::typeAdjustment(*form, receiver, numbers::formatGeneral(value));
}

void WindowFixture::type(const std::string& receiver, const std::string& typed) {
  testing::typeAdjustment(*form, receiver, typed);
}

std::string WindowFixture::adjustmentFooter() const {
  return form->dxDBGrid2->ColumnByName("dxDBGrid2TZXL00")->SummaryFooterText();
}

std::string WindowFixture::shownAdjustment(const std::string& receiver) const {
  const grid::TdxDBGrid& g = *form->dxDBGrid2;
  const int row = detailRow(g, receiver);
  return row < 0 ? "(no row)"
                 : g.cellText(row, g.columnOfField(QStringLiteral("TZXL00"))).toStdString();
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
