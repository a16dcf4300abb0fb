// The whole workflow through the built plug-in, loaded with dlopen and shown with
// showdll exactly as a host does, driven by keyboard and mouse inside its modal
// loop; against the application server in-process, over gRPC to a server in this
// process, and over gRPC to the daemon qadj-appserver running as its own process.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "grid_probe.h"
#include "modal_script.h"
#include "qadj/appserver/costore_product.h"
#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/scoped_env.h"
#include "qadj/testing/server_under_test.h"
#include "qadj/testing/shorthand.h"
#include "qadj/widgets/message_box.h"
#include "support/quota_db.h"
#include "support/window_scene.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

using ShowDll = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t,
                         std::intptr_t);

ShowDll loadShowDll() {
  // Kept loaded for the life of the process, as a host does.
  static void* library = dlopen(QADJ_VSD_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  return reinterpret_cast<ShowDll>(dlsym(library, "showdll"));
}

// The window's controls, looked up by object name; the grids are seen through what
// they expose (grid_probe.h).
struct Controls {
  QWidget* window = nullptr;
  QComboBox* RYMC = nullptr;
  Grid dxDBGrid1, dxDBGrid2;
  QWidget* tbok = nullptr;
  QWidget* tbexit = nullptr;
  QDateEdit* DateTimePicker1 = nullptr;

  bool find() {
    window = ModalScript::findWindow(QStringLiteral("main"));
    if (!window || window->objectName() != QLatin1String("main")) return false;
    RYMC = window->findChild<QComboBox*>(QStringLiteral("RYMC"));
    dxDBGrid1.w = window->findChild<QAbstractScrollArea*>(QStringLiteral("dxDBGrid1"));
    dxDBGrid2.w = window->findChild<QAbstractScrollArea*>(QStringLiteral("dxDBGrid2"));
    tbok = window->findChild<QWidget*>(QStringLiteral("tbok"));
    tbexit = window->findChild<QWidget*>(QStringLiteral("tbexit"));
    DateTimePicker1 = window->findChild<QDateEdit*>(QStringLiteral("DateTimePicker1"));
    return RYMC && dxDBGrid1.w && dxDBGrid2.w && tbok && tbexit && DateTimePicker1;
  }
};

void clickCell(const Grid& g, int row, int column) {
  QTest::mouseClick(g.w->viewport(), Qt::LeftButton, {}, g.cellInViewport(row, column));
}

class Workflow : public ::testing::TestWithParam<Setup>, protected WindowScene {
 protected:
  ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    showdll = loadShowDll();
    ASSERT_NE(showdll, nullptr) << dlerror();
    // An empty settings drive: the window keeps its designed placement.
    ASSERT_TRUE(drive.isValid());
    db = quotaDatabaseFor(GetParam().dialect);
    if (!db) return;
    const std::string url = db->url();
    server = std::make_unique<ServerUnderTest>(GetParam().transport);
    if (GetParam().transport != Transport::Daemon)
      server->registerClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                            [url] { return appserver::createCoStoreProduct(url); });
    ASSERT_TRUE(daemonLogs.isValid());
    ASSERT_TRUE(server->start({"--db", url}, daemonLogs.path().toStdString())) << server->error();
    serverHost = server->host();
  }

  void TearDown() override { server.reset(); }

  // Opens the window as a host does; returns when it has closed.
  void runShowDll(const std::string& operatorCode) {
    script.start();
    showdll(0, 0, reinterpret_cast<std::intptr_t>(operatorCode.c_str()), 0, 0,
            reinterpret_cast<std::intptr_t>(serverHost.c_str()));
  }

  // Types a value into the adjustment cell of a receiver's row and confirms it.
  void adjust(const std::string& receiver, const char* value) {
    const Grid& g = w.dxDBGrid2;
    const int row = g.row("FXRY00", QString::fromStdString(receiver));
    ASSERT_GE(row, 0) << "no detail row for " << receiver;
    clickCell(g, row, adjustColumn);
    QTest::keyClicks(g.w, QString::fromLatin1(value));
    ASSERT_TRUE(g.editorVisible());
    // The keys go where the keyboard's go: to the widget with the focus, the editor.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(g.editorVisible());
  }

  QString adjustmentFooter() const { return w.dxDBGrid2.footer(adjustColumn); }

  ShowDll showdll = nullptr;
  QTemporaryDir drive;
  ScopedEnv driveC{"QADJ_DRIVE_C", drive.path().toStdString()};
  std::unique_ptr<QuotaDatabase> db;
  QTemporaryDir daemonLogs;
  std::unique_ptr<ServerUnderTest> server;
  std::string serverHost;
  ModalScript script;
  Controls w;
  int adjustColumn = -1;
};

TEST_P(Workflow, OperatorMovesQuotaFromOneSalespersonToColleagues) {
  const double before = db->sum("D1", "P001");

  script.add(
      "activation fills the list", [&] { return w.find() && w.RYMC->count() > 0; },
      [&] {
        EXPECT_EQ(w.RYMC->count(), 4);
        EXPECT_EQ(w.RYMC->currentIndex(), -1);
        EXPECT_EQ(w.RYMC->currentText(), QStringLiteral("请选择访销员"));
        EXPECT_EQ(w.DateTimePicker1->date(), QDate(2026, 12, 8));
        EXPECT_EQ(w.dxDBGrid1.rows(), 0);
        // The detail grid's adjustment column, found by its caption.
        for (int c = 0; c < w.dxDBGrid2.columns(); ++c)
          if (w.dxDBGrid2.caption(c) == QStringLiteral("调整量")) adjustColumn = c;
        ASSERT_EQ(adjustColumn, w.dxDBGrid2.column("TZXL00"));
      });
  script.add(
      "pick 0012 with the keyboard", [] { return true; },
      [&] {
        w.RYMC->setFocus();
        for (int i = 0;
             i < w.RYMC->count() && !w.RYMC->currentText().startsWith(QStringLiteral("0012")); ++i)
          QTest::keyClick(w.RYMC, Qt::Key_Down);
        ASSERT_TRUE(w.RYMC->currentText().startsWith(QStringLiteral("0012")));
      });
  script.add(
      "the products are listed", [&] { return w.dxDBGrid1.rows() == 3; },
      [&] {
        const Grid& g = w.dxDBGrid1;
        const int row = g.row("SPDM00", QStringLiteral("P001"));
        ASSERT_GE(row, 0);
        EXPECT_EQ(g.text(row, g.column("KTZXL0")), "10");
        clickCell(g, row, g.column("SPMC00"));
        EXPECT_EQ(g.focusedRow(), row);
      });
  script.add(
      "the colleagues are listed", [&] { return w.dxDBGrid2.rows() == 3; },
      [&] {
        const Grid& g = w.dxDBGrid2;
        for (const char* code : {"0013", "0015", "0016"})
          EXPECT_GE(g.row("FXRY00", QString::fromLatin1(code)), 0) << code;
        EXPECT_EQ(g.row("FXRY00", QStringLiteral("0012")), -1);  // never to oneself
        EXPECT_EQ(g.row("FXRY00", QStringLiteral("0099")), -1);  // another warehouse
        EXPECT_EQ(adjustmentFooter(), "0.00");
      });
  script.add(
      "adjust up to the limit, then over it", [] { return true; },
      [&] {
        adjust("0013", "4");
        adjust("0015", "6");
        EXPECT_EQ(adjustmentFooter(), "10.00");
        EXPECT_TRUE(boxes->calls().empty());
        adjust("0013", "5");  // 11 > 10
        ASSERT_EQ(boxes->calls().size(), 1u);
        EXPECT_EQ(boxes->calls()[0].text, gbk("超过访销员的限量"));
        EXPECT_EQ(adjustmentFooter(), "6.00");
        adjust("0013", "3");
        EXPECT_EQ(adjustmentFooter(), "9.00");
        EXPECT_EQ(boxes->calls().size(), 1u);
      });
  script.add(
      "save", [] { return true; },
      [&] {
        boxes->answerNext(IDOK);
        QTest::mouseClick(w.tbok, Qt::LeftButton, {}, w.tbok->rect().center());
        ASSERT_EQ(boxes->calls().size(), 2u);
        EXPECT_EQ(boxes->calls()[1].text, gbk("确定是否修改限量吗?"));
        EXPECT_EQ(boxes->calls()[1].flags, MB_OKCANCEL);
        EXPECT_EQ(db->quota("D1", "0013", "P001"), 8);
        EXPECT_EQ(db->quota("D1", "0015", "P001"), 13);
        EXPECT_EQ(db->quota("D1", "0016", "P001"), 2);
        EXPECT_EQ(db->quota("D1", "0012", "P001"), 1);
        EXPECT_DOUBLE_EQ(db->sum("D1", "P001"), before);
        // Both grids reloaded: the new quotas shown, the adjustments back at 0.
        EXPECT_EQ(adjustmentFooter(), "0.00");
        const Grid& p = w.dxDBGrid1;
        const int row = p.row("SPDM00", QStringLiteral("P001"));
        ASSERT_GE(row, 0);
        EXPECT_EQ(p.text(row, p.column("KTZXL0")), "1");
      });
  script.add(
      "a cancelled save changes nothing", [] { return true; },
      [&] {
        adjust("0016", "1");
        boxes->answerNext(IDCANCEL);
        QTest::mouseClick(w.tbok, Qt::LeftButton, {}, w.tbok->rect().center());
        ASSERT_EQ(boxes->calls().size(), 3u);
        EXPECT_EQ(db->quota("D1", "0016", "P001"), 2);
        EXPECT_EQ(db->quota("D1", "0012", "P001"), 1);
        EXPECT_EQ(adjustmentFooter(), "1.00");
      });
  script.add(
      "change the date", [] { return true; },
      [&] {
        w.DateTimePicker1->setFocus();
        QTest::keyClick(w.DateTimePicker1, Qt::Key_Up);
        EXPECT_NE(w.DateTimePicker1->date(), QDate(2026, 12, 8));
        EXPECT_EQ(w.dxDBGrid1.rows(), 0);
        EXPECT_EQ(w.dxDBGrid2.rows(), 0);
        EXPECT_EQ(w.RYMC->count(), 4);
      });
  script.add(
      "exit", [] { return true; },
      [&] { QTest::mouseClick(w.tbexit, Qt::LeftButton, {}, w.tbexit->rect().center()); });

  runShowDll("0001");

  EXPECT_TRUE(script.finished()) << script.failure();
  EXPECT_EQ(script.failure(), "");
  EXPECT_EQ(boxes->calls().size(), 3u) << "last message box: " << lastBox();
  EXPECT_EQ(ModalScript::findWindow(QStringLiteral("main")), nullptr);
}

// A second showing in the same process, for an operator without a warehouse.
TEST_P(Workflow, UnknownOperatorGetsAnEmptyListAndCanLeave) {
  // The activation, queued when the window was shown, has run once the picker shows
  // today (a new picker holds another date).
  script.add(
      "the window is activated",
      [&] {
        return w.find() && w.window->isVisible() && w.DateTimePicker1->date() == QDate(2026, 12, 8);
      },
      [] {});
  script.add(
      "the list is empty", [] { return true; },
      [&] {
        EXPECT_EQ(w.RYMC->count(), 0);
        EXPECT_EQ(w.RYMC->currentText(), QStringLiteral("请选择访销员"));
        EXPECT_EQ(w.DateTimePicker1->date(), QDate(2026, 12, 8));
        QTest::mouseClick(w.tbexit, Qt::LeftButton, {}, w.tbexit->rect().center());
      });
  runShowDll("9999");
  EXPECT_TRUE(script.finished()) << script.failure();
  EXPECT_EQ(script.failure(), "");
  EXPECT_TRUE(boxes->calls().empty());
  EXPECT_EQ(ModalScript::findWindow(QStringLiteral("main")), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Transports, Workflow,
                         ::testing::ValuesIn(setupsOver({Transport::InProcess, Transport::Grpc,
                                                         Transport::Daemon})),
                         setupName);

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The host's application object; the plug-in uses it rather than making its own.
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
