#include "qadj/widgets/error_frame.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

namespace qadj {
namespace {

ErrorReporter& reporterSlot() {
  static ErrorReporter reporter;
  return reporter;
}

}  // namespace

ErrorReporter setErrorReporter(ErrorReporter reporter) {
  ErrorReporter previous = std::move(reporterSlot());
  reporterSlot() = std::move(reporter);
  return previous;
}

int cancelModeEventType() {
  static const int type = QEvent::registerEventType();
  return type;
}

namespace {

// A pressed button, a drag or an open list ends before the box appears.
void cancelGestures() {
  // Popups stack (a list over a calendar is not possible here, but a popup may open
  // another); each close removes one.
  for (int bound = 0; bound < 16; ++bound) {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) break;
    popup->close();
  }
  if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
  // A press grabs the mouse implicitly, so the control in a gesture cannot be told
  // from here: every widget is asked, and those that track none ignore it.
  for (QWidget* w : QApplication::allWidgets()) {
    QEvent cancel(static_cast<QEvent::Type>(cancelModeEventType()));
    QApplication::sendEvent(w, &cancel);
  }
}

}  // namespace

void reportError(std::exception_ptr error) noexcept {
  try {
    cancelGestures();
    if (reporterSlot()) {
      reporterSlot()(error);
      return;
    }
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qadj: unreported error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "qadj: unreported error\n");
  }
}

}  // namespace qadj
