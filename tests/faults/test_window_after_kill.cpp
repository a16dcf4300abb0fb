// The window against a daemon process that is killed under it: each action that calls
// the server shows the error box with the transport's text, the window stays usable
// (local actions, exit), and once the daemon is back a new window works. A window left
// open across the restart gets one clear error, never another window's server object,
// and then goes on on a new object of its own. With two daemons named, the window goes
// on on the other one.
#include <gtest/gtest.h>

#include <QDate>
#include <QTest>
#include <iostream>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/column.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/text.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/fields.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/daemon_process.h"
#include "qadj/testing/wait_until.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/window/date_picker.h"
#include "qadj/window/main_form.h"
#include "support/quota_db.h"
#include "support/window_fixture.h"

namespace qadj::testing {
namespace {

constexpr const char* kUnavailable = "The RPC server is unavailable";
constexpr const char* kDisconnected = "The object invoked has disconnected from its clients";

class WindowAfterKill : public ::testing::Test, protected WindowScene {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override { ASSERT_TRUE(daemon->start()) << daemon->error(); }

  // A new window on the daemon (or the servers of host), activated and shown.
  window::Tmain& openWindow(const std::string& host = "") {
    forms.push_back(std::make_unique<OperatorWindow>(host.empty() ? daemon->host() : host));
    forms.back()->form.show();
    return forms.back()->form;
  }

  QTemporaryDir logDir;
  QuotaDatabase data{"sqlite"};
  std::unique_ptr<DaemonProcess> daemon = std::make_unique<DaemonProcess>(
      std::vector<std::string>{"--db", data.url()}, logDir.path().toStdString());
  std::vector<std::unique_ptr<OperatorWindow>> forms;
};

TEST_F(WindowAfterKill, ServerActionsShowTheErrorAndTheWindowStaysUsable) {
  window::Tmain& w = openWindow();
  pickSalesperson(w, "0012");
  clickProduct(w, "P001");
  ASSERT_EQ(w.ClientDataSet2->RecordCount(), 3);
  ASSERT_TRUE(boxes->calls().empty()) << lastBox();

  daemon->kill();
  // Local actions still work: typing an adjustment updates the footer.
  adjust(w, "0013", 1);
  EXPECT_EQ(w.dxDBGrid2->ColumnByName("dxDBGrid2TZXL00")->SummaryFooterText(), "1.00");
  EXPECT_TRUE(boxes->calls().empty()) << lastBox();
  // Saving: the confirmation, then the error; nothing is written.
  const double before = data.quota("D1", "0013", "P001");
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_EQ(text::gbkToUtf8Lossy(boxes->calls()[0].text), "确定是否修改限量吗?");
  EXPECT_NE(lastBox().find(kUnavailable), std::string::npos) << lastBox();
  EXPECT_EQ(data.quota("D1", "0013", "P001"), before);
  // Clicking a product calls the server: the error box.
  clickProduct(w, "P002");
  ASSERT_EQ(boxes->calls().size(), 3u);
  EXPECT_NE(lastBox().find(kUnavailable), std::string::npos) << lastBox();
  // Choosing a salesperson calls the server too.
  pickSalesperson(w, "0013");
  ASSERT_EQ(boxes->calls().size(), 4u);
  EXPECT_NE(lastBox().find(kUnavailable), std::string::npos) << lastBox();
  // Changing the date closes both grids without a call.
  w.DateTimePicker1->setFocus();
  QTest::keyClick(w.DateTimePicker1, Qt::Key_Up);
  EXPECT_FALSE(w.ClientDataSet1->Active());
  EXPECT_FALSE(w.ClientDataSet2->Active());
  EXPECT_EQ(boxes->calls().size(), 4u) << lastBox();
  // A window opened meanwhile tells the same at activation and stays usable.
  {
    window::Tmain& meanwhile = openWindow();
    ASSERT_EQ(boxes->calls().size(), 5u);
    EXPECT_NE(lastBox().find(kUnavailable), std::string::npos) << lastBox();
    EXPECT_EQ(meanwhile.RYMC->count(), 0);
    guarded([&] { meanwhile.tbexitClick(); });
    EXPECT_FALSE(meanwhile.isVisible());
  }
  // Exit closes the window.
  ASSERT_TRUE(w.isVisible());
  guarded([&] { w.tbexitClick(); });
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(boxes->calls().size(), 5u) << lastBox();
  forms.clear();

  // The daemon is back: a new window works from activation to a save.
  ASSERT_TRUE(daemon->start()) << daemon->error();
  boxes->clear();
  window::Tmain& again = openWindow();
  EXPECT_EQ(again.RYMC->count(), 4);
  pickSalesperson(again, "0012");
  clickProduct(again, "P001");
  adjust(again, "0013", 2);
  guarded([&] { again.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 1u) << lastBox();  // the confirmation only
  EXPECT_EQ(data.quota("D1", "0013", "P001"), before + 2);
  EXPECT_EQ(data.quota("D1", "0012", "P001"), 8);
}

TEST_F(WindowAfterKill, AWindowLeftOpenAcrossARestartFailsOnceThenGoesOnOnItsOwnObject) {
  window::Tmain& old = openWindow();
  pickSalesperson(old, "0012");
  ASSERT_TRUE(boxes->calls().empty()) << lastBox();
  daemon->kill();
  ASSERT_TRUE(daemon->start()) << daemon->error();

  // A second window while the first is still open: same process, same connection to
  // the daemon.
  window::Tmain& fresh = openWindow();
  ASSERT_TRUE(boxes->calls().empty()) << lastBox();
  pickSalesperson(fresh, "0013");
  ASSERT_TRUE(boxes->calls().empty()) << lastBox();
  ASSERT_EQ(fresh.ClientDataSet1->RecordCount(), 3);  // 0013: P001, P003 in D1, P002 in D2

  // The first window's object died with the old daemon: its request must fail, not
  // land on the second window's object (whose working rows are 0013's).
  clickProduct(old, "P001");
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_NE(lastBox().find(kDisconnected), std::string::npos) << lastBox();
  clickProduct(fresh, "P001");
  EXPECT_EQ(boxes->calls().size(), 1u) << lastBox();
  EXPECT_EQ(fresh.ClientDataSet2->RecordCount(), 3);

  // One error, then the old window goes on: choosing the salesperson again builds its
  // working rows on a new object of the restarted daemon.
  pickSalesperson(old, "0012");
  clickProduct(old, "P001");
  EXPECT_EQ(boxes->calls().size(), 1u) << lastBox();
  ASSERT_EQ(old.ClientDataSet2->RecordCount(), 3);
  adjust(old, "0013", 1);
  guarded([&] { old.tbokClick(); });
  EXPECT_EQ(boxes->calls().size(), 2u) << lastBox();  // the confirmation only
  EXPECT_EQ(data.quota("D1", "0012", "P001"), 9);
  // The second window's working rows are still 0013's.
  clickProduct(fresh, "P003");
  EXPECT_EQ(boxes->calls().size(), 2u) << lastBox();
  EXPECT_EQ(fresh.ClientDataSet1->RecordCount(), 3);
}

TEST_F(WindowAfterKill, WithTwoDaemonsNamedTheWindowGoesOnOnTheOtherAfterOneError) {
  QTemporaryDir otherLogs;
  DaemonProcess other({"--db", data.url()}, otherLogs.path().toStdString());
  ASSERT_TRUE(other.start()) << other.error();
  window::Tmain& w = openWindow(daemon->host() + ", " + other.host());
  pickSalesperson(w, "0012");
  clickProduct(w, "P001");
  ASSERT_TRUE(boxes->calls().empty()) << lastBox();
  // The window's object lives on one of them: that one stops.
  DaemonProcess* holder = nullptr;
  ASSERT_TRUE(waitUntil([&] {
    for (DaemonProcess* d : {daemon.get(), &other})
      if (d->log().find(" Activate ") != std::string::npos) holder = d;
    return holder != nullptr;
  }));
  DaemonProcess& survivor = holder == &other ? *daemon : other;
  std::cout << "the window's object is on daemon " << (holder == &other ? 2 : 1) << " of 2\n";
  EXPECT_EQ(survivor.log().find(" Activate "), std::string::npos) << survivor.log();
  holder->kill();

  // One error box, then the next request creates the window's object on the other.
  clickProduct(w, "P002");
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_TRUE(lastBox().find(kUnavailable) != std::string::npos ||
              lastBox().find(kDisconnected) != std::string::npos)
      << lastBox();
  pickSalesperson(w, "0012");
  clickProduct(w, "P001");
  ASSERT_EQ(w.ClientDataSet2->RecordCount(), 3);
  adjust(w, "0013", 1);
  guarded([&] { w.tbokClick(); });
  EXPECT_EQ(boxes->calls().size(), 2u) << lastBox();  // the confirmation only
  EXPECT_EQ(data.quota("D1", "0012", "P001"), 9);
  EXPECT_NE(survivor.log().find(" Activate "), std::string::npos) << survivor.log();
}

}  // namespace
}  // namespace qadj::testing
