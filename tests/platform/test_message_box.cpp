#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "qadj/widgets/message_box.h"
#include "qadj/widgets/message_box_qt.h"

using namespace qadj;

namespace {
const std::string kTishi = "\xCC\xE1\xCA\xBE";  // 提示

using MessageBoxTest = ::testing::Test;
}  // namespace

TEST_F(MessageBoxTest, ScriptedServiceRecordsCallsAndAnswersInOrder) {
  auto scripted = std::make_shared<ScriptedMessageBoxService>();
  ScopedMessageBoxService guard(scripted);
  scripted->answerNext(IDCANCEL);
  scripted->answerNext(IDNO);
  QWidget owner;
  EXPECT_EQ(MessageBox(OwnerWindow::fromWidget(&owner), "a", kTishi, MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBox(OwnerWindow::fromNative(0x4200007), "b", "c", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBox(OwnerWindow::none(), "d", "e", MB_OK | MB_ICONSTOP), IDOK);
  ASSERT_EQ(scripted->calls().size(), 3u);
  const auto& first = scripted->calls()[0];
  EXPECT_EQ(first.text, "a");
  EXPECT_EQ(first.caption, kTishi);
  EXPECT_EQ(first.flags, MB_OKCANCEL);
  EXPECT_EQ(first.owner.widget, &owner);
  EXPECT_EQ(scripted->calls()[1].owner.nativeHandle, 0x4200007u);
  EXPECT_EQ(scripted->calls()[2].flags, 0x10u);
  EXPECT_EQ(scripted->calls()[2].answer, IDOK);
  EXPECT_TRUE(scripted->calls()[2].owner.isNone());
}

TEST_F(MessageBoxTest, ScopedServiceRestoresThePreviousOne) {
  auto outer = std::make_shared<ScriptedMessageBoxService>();
  auto inner = std::make_shared<ScriptedMessageBoxService>();
  ScopedMessageBoxService outerGuard(outer);
  {
    ScopedMessageBoxService innerGuard(inner);
    EXPECT_EQ(&messageBoxService(), inner.get());
    MessageBox({}, "x", "y", MB_OK);
  }
  EXPECT_EQ(&messageBoxService(), outer.get());
  MessageBox({}, "z", "y", MB_OK);
  EXPECT_EQ(inner->calls().size(), 1u);
  ASSERT_EQ(outer->calls().size(), 1u);
  EXPECT_EQ(outer->calls()[0].text, "z");
}

TEST_F(MessageBoxTest, DefaultServiceIsTheQtOne) {
  auto previous = setMessageBoxService(nullptr);
  EXPECT_NE(dynamic_cast<QtMessageBoxService*>(&messageBoxService()), nullptr);
  setMessageBoxService(previous);
}

TEST_F(MessageBoxTest, FlagsChooseIconAndButtons) {
  EXPECT_EQ(messageBoxIcon(MB_OK), QMessageBox::NoIcon);
  EXPECT_EQ(messageBoxIcon(MB_ICONSTOP | MB_OK), QMessageBox::Critical);
  EXPECT_EQ(messageBoxIcon(MB_ICONQUESTION | MB_YESNO), QMessageBox::Question);
  EXPECT_EQ(messageBoxIcon(MB_ICONEXCLAMATION), QMessageBox::Warning);
  EXPECT_EQ(messageBoxIcon(MB_ICONINFORMATION | MB_OKCANCEL), QMessageBox::Information);
  EXPECT_EQ(messageBoxButtons(MB_OK), QMessageBox::Ok);
  EXPECT_EQ(messageBoxButtons(MB_OKCANCEL | MB_ICONSTOP), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(messageBoxButtons(MB_YESNOCANCEL),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(messageBoxButtons(0x0E), QMessageBox::Ok);
  EXPECT_EQ(messageBoxResult(QMessageBox::Ok), IDOK);
  EXPECT_EQ(messageBoxResult(QMessageBox::Cancel), IDCANCEL);
  EXPECT_EQ(messageBoxResult(QMessageBox::Yes), IDYES);
  EXPECT_EQ(messageBoxResult(QMessageBox::No), IDNO);
  EXPECT_EQ(messageBoxResult(QMessageBox::NoButton), IDCANCEL);
}

TEST_F(MessageBoxTest, BuiltBoxIsApplicationModalWithConvertedTexts) {
  QWidget owner;
  auto box = buildMessageBox(OwnerWindow::fromWidget(&owner), "line \xD6\xD0", kTishi,
                             MB_OKCANCEL | MB_DEFBUTTON2);
  EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
  EXPECT_EQ(box->text(), QString::fromUtf8("line \xE4\xB8\xAD"));
  EXPECT_EQ(box->windowTitle(), QString::fromUtf8("\xE6\x8F\x90\xE7\xA4\xBA"));
  EXPECT_EQ(box->parentWidget(), &owner);
  EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Cancel));
  EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::Cancel));
  // Rich text in a message is shown literally.
  EXPECT_EQ(box->textFormat(), Qt::PlainText);
  // A caption with a close box only; minimised by a window manager, it comes back.
  const Qt::WindowFlags flags = box->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  box->show();
  box->setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !box->isMinimized(); }));
  // Invalid GBK in a message never throws from the box.
  auto bad = buildMessageBox({}, "x\xFF", "", MB_OK);
  EXPECT_EQ(bad->text(), "x?");
  EXPECT_EQ(bad->parentWidget(), nullptr);
}

TEST_F(MessageBoxTest, QtServiceBlocksOtherWindowsAndReturnsTheClickedButton) {
  QMainWindow plugInWindow;
  auto* button = new QPushButton("save");
  plugInWindow.setCentralWidget(button);
  plugInWindow.resize(200, 100);
  plugInWindow.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&plugInWindow));
  int clicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  QString shownText;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    shownText = box->text();
    // A click on the other window, through the window system, must not arrive.
    const QPoint centre = button->mapTo(&plugInWindow, button->rect().center());
    QTest::mouseClick(plugInWindow.windowHandle(), Qt::LeftButton, {}, centre);
    box->button(QMessageBox::Cancel)->click();
  });
  QtMessageBoxService service;
  const int result =
      service.show(OwnerWindow::fromWidget(&plugInWindow), "question?", kTishi, MB_OKCANCEL);
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(shownText, "question?");
  EXPECT_EQ(clicks, 0);
  // After the box the window takes clicks again.
  QTest::mouseClick(plugInWindow.windowHandle(), Qt::LeftButton, {},
                    button->mapTo(&plugInWindow, button->rect().center()));
  EXPECT_EQ(clicks, 1);
}

TEST_F(MessageBoxTest, QtServiceAnswersOkWhenTheSingleButtonIsPressed) {
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    box->button(QMessageBox::Ok)->click();
  });
  QtMessageBoxService service;
  EXPECT_EQ(service.show(OwnerWindow::fromNative(0), "err", "Title", MB_OK | MB_ICONSTOP), IDOK);
}
