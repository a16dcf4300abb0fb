#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <memory>

#include "qadj/platform/error.h"
#include "qadj/plugin/entry.h"
#include "qadj/widgets/message_box.h"
#include "qadj/window/main_form.h"

using qadj::plugin::pluginContext;
using qadj::plugin::showWindow;
using qadj::window::Tmain;

namespace {

// Closes the window from inside its modal loop, once the loop runs.
void closeWhenShown(Tmain& form) {
  QTimer::singleShot(0, &form, [&form] { form.close(); });
}

bool anyFormAlive() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (dynamic_cast<Tmain*>(w)) return true;
  return false;
}

class ShowWindowTest : public ::testing::Test {
 protected:
  std::shared_ptr<qadj::ScriptedMessageBoxService> boxes =
      std::make_shared<qadj::ScriptedMessageBoxService>();
  qadj::ScopedMessageBoxService scope{boxes};
};

}  // namespace

TEST_F(ShowWindowTest, SecondCallOverwritesHostTextsOnly) {
  showWindow(0, "0001", "alpha", closeWhenShown);
  EXPECT_EQ(pluginContext().OperatorCode, "0001");
  EXPECT_EQ(pluginContext().ServerHost, "alpha");
  pluginContext().ProductCode = "P0042";
  pluginContext().AdjustableQuantity = 12.5;
  pluginContext().WarehouseCode = "W1";

  showWindow(0, "0002", "beta", closeWhenShown);
  EXPECT_EQ(pluginContext().OperatorCode, "0002");
  EXPECT_EQ(pluginContext().ServerHost, "beta");
  EXPECT_EQ(pluginContext().ProductCode, "P0042");
  EXPECT_EQ(pluginContext().AdjustableQuantity, 12.5);
  EXPECT_FALSE(anyFormAlive());
  EXPECT_EQ(qadj::window::currentForm(), nullptr);
}

TEST_F(ShowWindowTest, NullTextsReadAsEmpty) {
  showWindow(0, nullptr, nullptr, closeWhenShown);
  EXPECT_EQ(pluginContext().OperatorCode, "");
  EXPECT_EQ(pluginContext().ServerHost, "");
}

TEST_F(ShowWindowTest, ErrorInHandlerIsShownAndWindowStaysUsable) {
  bool stillOpenAfterBox = false;
  int modalResult = -1;
  showWindow(0x77, "0001", "", [&](Tmain& form) {
    form.OnActivate = [] { throw qadj::Exception("The RPC server is unavailable"); };
    // Runs after the activation's error box was answered.
    QTimer::singleShot(0, &form, [&] {
      QTimer::singleShot(0, &form, [&] {
        stillOpenAfterBox = form.isVisible() && form.isEnabled();
        form.tbexitClick();
        modalResult = form.ModalResult();
      });
    });
  });
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_EQ(boxes->calls()[0].text, "The RPC server is unavailable.");
  EXPECT_EQ(boxes->calls()[0].flags, 0x10u);
  EXPECT_EQ(boxes->calls()[0].owner.nativeHandle, 0x77u);
  EXPECT_TRUE(stillOpenAfterBox);
  EXPECT_EQ(modalResult, qadj::window::mrCancel);
  EXPECT_FALSE(anyFormAlive());
}

TEST_F(ShowWindowTest, ActivationRunsOnceForTheFirstShowingOnly) {
  int activations = 0;
  showWindow(0, "0001", "", [&](Tmain& form) {
    form.OnActivate = [&] {
      ++activations;
      // The plug-in's own message box is not an activation of another form.
      qadj::MessageBox(qadj::OwnerWindow::none(), "x", "y", 0);
    };
    QTimer::singleShot(0, &form, [&form] {
      form.activateWindow();
      QTimer::singleShot(0, &form, [&form] { form.close(); });
    });
  });
  EXPECT_EQ(activations, 1);
}

TEST_F(ShowWindowTest, ErrorOutsideModalLoopFreesWindowAndShowsNothing) {
  EXPECT_THROW(
      showWindow(0, "0001", "", [](Tmain&) { throw qadj::Exception("settings could not apply"); }),
      qadj::Exception);
  EXPECT_TRUE(boxes->calls().empty());
  EXPECT_FALSE(anyFormAlive());
  EXPECT_EQ(qadj::window::currentForm(), nullptr);
}
