#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <memory>

#include "qadj/widgets/owner_window.h"

using namespace qadj;

namespace {
using OwnerWindowTest = ::testing::Test;
}  // namespace

TEST_F(OwnerWindowTest, ApplicationOwnerHandleIsProcessWide) {
  EXPECT_EQ(applicationOwnerHandle(), 0u);
  EXPECT_TRUE(applicationOwner().isNone());
  setApplicationOwnerHandle(0x3a00005);
  EXPECT_EQ(applicationOwnerHandle(), 0x3a00005u);
  EXPECT_EQ(applicationOwner().nativeHandle, 0x3a00005u);
  EXPECT_EQ(applicationOwner().widget, nullptr);
  setApplicationOwnerHandle(0);
  EXPECT_TRUE(applicationOwner().isNone());
}

TEST_F(OwnerWindowTest, ZeroHandleSetsNoTransientParent) {
  QWidget w;
  EXPECT_FALSE(setTransientForNative(&w, 0));
  EXPECT_FALSE(applyOwner(&w, OwnerWindow::none()));
  EXPECT_FALSE(setTransientForNative(static_cast<QWidget*>(nullptr), 5));
}

TEST_F(OwnerWindowTest, WidgetOwnerBecomesTheTransientParent) {
  QWidget owner;
  QWidget child(&owner);
  QWidget dialog;
  EXPECT_TRUE(applyOwner(&dialog, OwnerWindow::fromWidget(&child)));
  ASSERT_NE(dialog.windowHandle(), nullptr);
  EXPECT_EQ(dialog.windowHandle()->transientParent(), owner.windowHandle());
  // A window is never its own owner.
  EXPECT_FALSE(applyOwner(&owner, OwnerWindow::fromWidget(&child)));
}

TEST_F(OwnerWindowTest, NativeOwnerWrapsTheForeignWindowWhenThePlatformCan) {
  QWidget dialog;
  QWidget host;
  host.winId();
  const quintptr hostId = host.winId();
  const bool set = setTransientForNative(&dialog, hostId);
  const std::unique_ptr<QWindow> probe(QWindow::fromWinId(hostId));
  const bool foreignSupported = probe != nullptr;
  EXPECT_EQ(set, foreignSupported);
  if (set) {
    EXPECT_NE(dialog.windowHandle()->transientParent(), nullptr);
  }
}
