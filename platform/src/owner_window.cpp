// The host's owner window and transient parents for native X11 windows.
#include "qadj/platform/owner_window.h"

#include <QWidget>
#include <QWindow>
#include <atomic>

namespace qadj {
namespace {
std::atomic<quintptr> gOwnerHandle{0};
}

quintptr applicationOwnerHandle() {
  return gOwnerHandle.load();
}
void setApplicationOwnerHandle(quintptr handle) {
  gOwnerHandle.store(handle);
}

OwnerWindow applicationOwner() {
  return OwnerWindow::fromNative(applicationOwnerHandle());
}

bool setTransientForNative(QWindow* window, quintptr nativeHandle) {
  if (window == nullptr || nativeHandle == 0) return false;
  // Without foreign-window support (e.g. the offscreen platform) this yields null.
  QWindow* foreign = QWindow::fromWinId(static_cast<WId>(nativeHandle));
  if (foreign == nullptr) return false;
  // The wrapper only refers to the host's window; it dies with our window.
  foreign->setParent(nullptr);
  QObject::connect(window, &QObject::destroyed, foreign, &QObject::deleteLater);
  window->setTransientParent(foreign);
  return true;
}

bool setTransientForNative(QWidget* widget, quintptr nativeHandle) {
  if (widget == nullptr || nativeHandle == 0) return false;
  widget->winId();  // creates the native window and its QWindow
  return setTransientForNative(widget->windowHandle(), nativeHandle);
}

bool applyOwner(QWidget* topLevel, const OwnerWindow& owner) {
  if (topLevel == nullptr) return false;
  if (owner.widget != nullptr) {
    QWidget* ownerTop = owner.widget->window();
    if (ownerTop == topLevel) return false;
    topLevel->winId();
    ownerTop->winId();
    QWindow* own = topLevel->windowHandle();
    QWindow* parent = ownerTop->windowHandle();
    if (own == nullptr || parent == nullptr) return false;
    own->setTransientParent(parent);
    return true;
  }
  return setTransientForNative(topLevel, owner.nativeHandle);
}

}  // namespace qadj
