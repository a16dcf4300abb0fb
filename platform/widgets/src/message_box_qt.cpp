// The Qt message box: an application-modal QMessageBox built from Windows flags.
#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QTimer>
#include <cstdio>

#include "qadj/platform/text.h"
#include "qadj/widgets/message_box.h"
#include "qadj/widgets/message_box_qt.h"
#include "qadj/widgets/qt_text.h"

namespace qadj {
namespace {

// Brings a box back as soon as the window manager minimises it: a window manager
// that keeps a minimise button on every dialog (openbox does) would otherwise hide
// the one window that answers while its owner waits for it.
class StayShown : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* e) override {
    auto* box = static_cast<QWidget*>(watched);
    if (e->type() == QEvent::WindowStateChange && box->isMinimized())
      QTimer::singleShot(0, box, [box] { box->showNormal(); });
    return false;
  }
};

QList<QMessageBox::StandardButton> orderedButtons(unsigned flags) {
  using B = QMessageBox::StandardButton;
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {B::Ok, B::Cancel};
    case MB_ABORTRETRYIGNORE:
      return {B::Abort, B::Retry, B::Ignore};
    case MB_YESNOCANCEL:
      return {B::Yes, B::No, B::Cancel};
    case MB_YESNO:
      return {B::Yes, B::No};
    case MB_RETRYCANCEL:
      return {B::Retry, B::Cancel};
    default:
      return {B::Ok};
  }
}

// A box closed without a button: Windows answers Cancel where there is one, and
// OK for a box with only OK.
int closedResult(unsigned flags) {
  const auto buttons = orderedButtons(flags);
  if (buttons.contains(QMessageBox::Cancel)) return IDCANCEL;
  if (buttons.size() == 1) return IDOK;
  return messageBoxResult(buttons.back());
}

}  // namespace

QMessageBox::StandardButtons messageBoxButtons(unsigned flags) {
  QMessageBox::StandardButtons result;
  for (auto b : orderedButtons(flags)) result |= b;
  return result;
}

QMessageBox::Icon messageBoxIcon(unsigned flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONHAND:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONASTERISK:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int messageBoxResult(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return IDOK;
    case QMessageBox::Cancel:
      return IDCANCEL;
    case QMessageBox::Abort:
      return IDABORT;
    case QMessageBox::Retry:
      return IDRETRY;
    case QMessageBox::Ignore:
      return IDIGNORE;
    case QMessageBox::Yes:
      return IDYES;
    case QMessageBox::No:
      return IDNO;
    default:
      return IDCANCEL;
  }
}

std::unique_ptr<QMessageBox> buildMessageBox(const OwnerWindow& owner, const std::string& gbkText,
                                             const std::string& gbkCaption, unsigned flags) {
  auto box = std::make_unique<QMessageBox>(owner.widget);
  // As a system message box: a caption with a close box only (nothing to minimise it
  // away from its waiting owner), kept above the owner by the window manager.
  box->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowCloseButtonHint);
  box->installEventFilter(new StayShown(box.get()));
  box->setWindowModality(Qt::ApplicationModal);
  box->setWindowTitle(text::gbkToQString(gbkCaption));
  box->setText(text::gbkToQString(gbkText));
  box->setTextFormat(Qt::PlainText);
  box->setIcon(messageBoxIcon(flags));
  const auto buttons = orderedButtons(flags);
  for (auto b : buttons) box->addButton(b);
  qsizetype defaultIndex = (flags & MB_DEFMASK) >> 8;
  if (defaultIndex >= buttons.size()) defaultIndex = 0;
  box->setDefaultButton(buttons[defaultIndex]);
  if (buttons.contains(QMessageBox::Cancel)) {
    box->setEscapeButton(QMessageBox::Cancel);
  } else if (buttons.size() == 1) {
    box->setEscapeButton(buttons.front());
  }
  if (owner.widget == nullptr && owner.nativeHandle != 0) {
    setTransientForNative(box.get(), owner.nativeHandle);
  }
  return box;
}

int QtMessageBoxService::show(const OwnerWindow& owner, const std::string& gbkText,
                              const std::string& gbkCaption, unsigned flags) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    // No widgets possible: report on stderr and answer as a closed box would.
    std::fprintf(stderr, "%s: %s\n", text::gbkToUtf8Lossy(gbkCaption).c_str(),
                 text::gbkToUtf8Lossy(gbkText).c_str());
    return closedResult(flags);
  }
  auto box = buildMessageBox(owner, gbkText, gbkCaption, flags);
  box->exec();
  QAbstractButton* clicked = box->clickedButton();
  if (clicked == nullptr) return closedResult(flags);
  return messageBoxResult(box->standardButton(clicked));
}

}  // namespace qadj
