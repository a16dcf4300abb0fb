#include "qadj/platform/error_frame.h"

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

void reportError(std::exception_ptr error) noexcept {
  try {
    // A pressed button, a drag or an open list ends before the box appears.
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
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
