// The paths an operator takes first, on a real X display (Xvfb) with real mouse and
// keyboard events (xdotool), through the built plug-in as a host loads it: the
// window is transient for the host's window, a click drops the salesperson list and
// a click on an entry chooses it, the detail shows its scroll bar at once, and a
// click after an edit in a sorted detail lands on the salesperson clicked.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "grid_probe.h"
#include "modal_script.h"
#include "qadj/appserver/costore_product.h"
#include "qadj/com/com.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/scoped_env.h"
#include "support/quota_db.h"
#include "support/window_scene.h"
#include "x_display.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

VirtualDisplay* gDisplay = nullptr;  // null when no display could be had

using ShowDll = void (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t,
                         std::intptr_t);

// Counts mouse releases as they reach the application's windows: once per real
// release, whichever widget then gets it.
struct Releases : QObject {
  Releases() { qApp->installEventFilter(this); }
  ~Releases() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonRelease && qobject_cast<QWindow*>(watched)) ++count;
    return false;
  }
  int count = 0;
};

// The X window an X window is transient for (WM_TRANSIENT_FOR), 0 when none.
quint32 transientFor(WId window) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11->connection();
  const auto cookie = xcb_get_property(c, 0, static_cast<xcb_window_t>(window),
                                       XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 0, 1);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
  quint32 owner = 0;
  if (reply && xcb_get_property_value_length(reply) == 4)
    owner = *static_cast<quint32*>(xcb_get_property_value(reply));
  std::free(reply);
  return owner;
}

class RealInput : public ::testing::Test, protected WindowScene {
 protected:
  ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    if (!gDisplay) GTEST_SKIP() << "no X display for real input";
    library = dlopen(QADJ_VSD_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    showdll = reinterpret_cast<ShowDll>(dlsym(library, "showdll"));
    ASSERT_TRUE(drive.isValid());
    db = std::make_unique<QuotaDatabase>("sqlite");
    // Twenty more colleagues with a line for P001: more than the detail shows at once.
    for (int i = 20; i < 40; ++i) {
      const std::string code = "00" + std::to_string(i);
      db->db().execute("INSERT INTO GSTRYGL0 VALUES ($1, $2, '01', 'Y')", {code, "N" + code});
      db->db().execute("INSERT INTO XSTXLGL01 VALUES ('D1', $1, 'P001', 1)", {code});
    }
    const std::string url = db->url();
    com::CoRegisterClass(CLSID_CoStoreProduct, kCoStoreProductProgId,
                         [url] { return appserver::createCoStoreProduct(url); });
    host.setWindowTitle(QStringLiteral("host"));
    host.setGeometry(0, 0, 200, 100);
    host.show();
  }
  void TearDown() override {
    if (!gDisplay) return;
    com::CoRevokeClass(CLSID_CoStoreProduct);
  }

  // Opens the window as the host does (operator 0001, the embedded server) with the
  // script running, until the window closes.
  void runScript() {
    script.start();
    const std::string operatorCode = "0001", serverHost;
    showdll(static_cast<std::intptr_t>(host.winId()), 0,
            reinterpret_cast<std::intptr_t>(operatorCode.c_str()), 0, 0,
            reinterpret_cast<std::intptr_t>(serverHost.c_str()));
    EXPECT_TRUE(script.finished()) << script.failure();
  }

  void* library = nullptr;
  ShowDll showdll = nullptr;
  QTemporaryDir drive;
  ScopedEnv driveC{"QADJ_DRIVE_C", drive.path().toStdString()};
  std::unique_ptr<QuotaDatabase> db;
  QWidget host;
  ModalScript script{std::chrono::seconds(20)};
  Releases releases;
};

TEST_F(RealInput, AnOperatorsFirstMinutes) {
  QWidget* window = nullptr;
  QComboBox* rymc = nullptr;
  Grid products, detail;
  int clickedAt = 0;  // releases counted when the last click was sent
  QString clickedPerson;
  const auto click = [&](QPoint global) {
    clickedAt = releases.count;
    ASSERT_TRUE(xclick(global));
  };
  const auto clickDone = [&] { return releases.count > clickedAt; };

  script.add(
      "the window is shown and activated",
      [&] {
        window = ModalScript::findWindow(QStringLiteral("main"));
        auto* picker =
            window ? window->findChild<QDateEdit*>(QStringLiteral("DateTimePicker1")) : nullptr;
        return picker && picker->date() == QDate(2026, 12, 8) && window->isActiveWindow();
      },
      [&] {
        rymc = window->findChild<QComboBox*>(QStringLiteral("RYMC"));
        products.w = window->findChild<QAbstractScrollArea*>(QStringLiteral("dxDBGrid1"));
        detail.w = window->findChild<QAbstractScrollArea*>(QStringLiteral("dxDBGrid2"));
        ASSERT_TRUE(rymc && products.w && detail.w);
        // Owned by the host's window on the display itself, a normal window still.
        EXPECT_EQ(transientFor(window->winId()), static_cast<quint32>(host.winId()));
      });
  // Whatever the scale factor, within what the window manager takes to move it.
  script.add(
      "the window lies wholly on the host's screen",
      [&] { return host.screen()->geometry().contains(window->frameGeometry()); },
      [&] {
        // Typed at once, a code replaces the prompt. (Without a window manager the
        // keyboard follows the pointer: it rests on the window's title.)
        QWidget* title = window->findChild<QWidget*>(QStringLiteral("Panel1"));
        ASSERT_TRUE(xmove(title->mapToGlobal(QPoint(4, 4))));
        ASSERT_TRUE(xtype(QStringLiteral("0013")));
      });
  script.add(
      "the code typed first lists its products",
      [&] { return rymc->currentText() == QStringLiteral("0013") && products.rows() > 0; },
      [&] { click(rymc->mapToGlobal(QPoint(rymc->width() - 6, rymc->height() / 2))); });
  script.add("the click on the arrow is over", clickDone, [&] {
    ASSERT_TRUE(rymc->view()->isVisible()) << "the list closed on the release of its click";
    int entry = -1;
    for (int i = 0; i < rymc->count(); ++i)
      if (rymc->itemText(i).startsWith(QStringLiteral("0012"))) entry = i;
    ASSERT_GE(entry, 0);
    QAbstractItemView* view = rymc->view();
    click(view->viewport()->mapToGlobal(view->visualRect(rymc->model()->index(entry, 0)).center()));
  });
  script.add(
      "the salesperson is chosen", [&] { return clickDone() && products.rows() > 0; },
      [&] {
        EXPECT_FALSE(rymc->view()->isVisible());
        EXPECT_TRUE(rymc->currentText().startsWith(QStringLiteral("0012")));
        click(products.cell(products.row("SPDM00", QStringLiteral("P001")), 1));
      });
  script.add(
      "the colleagues are listed", [&] { return clickDone() && detail.rows() == 23; }, [&] {});
  // Shown as soon as the rows are loaded, not after some later resize.
  script.add(
      "the detail has its scroll bar", [&] { return detail.w->verticalScrollBar()->isVisible(); },
      [&] { click(detail.header(detail.column("TZXL00"))); });
  script.add("the detail is sorted by the adjustment", clickDone, [&] {
    // Ties sort by code: the second row shows the second code.
    clickedPerson = detail.text(1, detail.column("FXRY00"));
    click(detail.cell(0, detail.column("TZXL00")));
  });
  script.add(
      "the adjustment editor is open", [&] { return clickDone() && detail.editorVisible(); },
      [&] { ASSERT_TRUE(xtype(QStringLiteral("5"))); });
  script.add(
      "5 is typed",
      [&] {
        auto* editor = detail.w->findChild<QLineEdit*>();
        return editor && editor->text() == QStringLiteral("5");
      },
      [&] {
        // The close of the editor posts, and the post re-sorts: the first row moves to
        // the bottom while the click is on its way.
        click(detail.cell(1, detail.column("FXRY00")));
      });
  script.add("the click after the edit is over", clickDone, [&] {
    EXPECT_EQ(detail.text(detail.focusedRow(), detail.column("FXRY00")), clickedPerson)
        << "the click landed on another salesperson";
    EXPECT_EQ(detail.footer(detail.column("TZXL00")), QStringLiteral("5.00"));
    QWidget* exit = window->findChild<QWidget*>(QStringLiteral("tbexit"));
    click(exit->mapToGlobal(exit->rect().center()));
  });

  runScript();
  EXPECT_EQ(script.failure(), "");
  EXPECT_TRUE(boxes->calls().empty()) << "unexpected message: " << boxes->calls().front().text;
}

// Sizes in the settings file that leave no client area: the window still appears
// (its caption bar under a window manager) and can be closed.
TEST_F(RealInput, ASettingsFileCannotHideTheWindow) {
  QFile settings(drive.filePath(QStringLiteral("mis_system.ini")));
  ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
  settings.write("[mainform]\nheight=20\nwidth=5\n");
  settings.close();
  QWidget* window = nullptr;
  script.add(
      "the window is shown",
      [&] {
        window = ModalScript::findWindow(QStringLiteral("main"));
        return window && window->windowHandle() && window->windowHandle()->isExposed();
      },
      [&] {
        EXPECT_EQ(window->size(), QSize(1, 1));
        window->close();
      });
  runScript();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The second run of this suite goes through a window manager at a scale factor.
  const char* wm = std::getenv("QADJ_TEST_WM");
  VirtualDisplay display;
  if (display.start(wm ? wm : "")) {
    setenv("DISPLAY", display.name().c_str(), 1);
    gDisplay = &display;
  } else {
    std::fprintf(stderr, "e2e_x11: skipped: %s\n", display.whyNot().c_str());
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  if (gDisplay) setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
