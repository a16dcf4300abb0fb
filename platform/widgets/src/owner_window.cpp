// The host's owner window and transient parents for native X11 windows.
#include "qadj/widgets/owner_window.h"

#include <xcb/xcb.h>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
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

namespace {

// Makes window transient for the X11 window `parent`. Qt writes WM_TRANSIENT_FOR
// only for dialog-type windows (and deletes it for others when showing them); a
// normal window (the quota window, with its minimise and maximise boxes) gets the
// property here, so that the window manager keeps it above its owner. Does nothing
// off X11.
void writeTransientFor(QWindow* window, WId parent) {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || x11->connection() == nullptr) return;
  xcb_connection_t* connection = x11->connection();
  const auto owner = static_cast<xcb_window_t>(parent);
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()),
                      XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &owner);
  xcb_flush(connection);
}

// Keeps window transient for parent on X11: Qt removes the property at every showing
// of a window that is not a dialog (after it tells that the window becomes visible),
// so it is written again once that showing is done.
void keepTransientFor(QWindow* window, WId parent) {
  writeTransientFor(window, parent);
  QObject::connect(
      window, &QWindow::visibleChanged, window,
      [window, parent](bool visible) {
        if (visible) writeTransientFor(window, parent);
      },
      Qt::QueuedConnection);
}

}  // namespace

bool setTransientForNative(QWindow* window, quintptr nativeHandle) {
  if (window == nullptr || nativeHandle == 0) return false;
  // Without foreign-window support (e.g. the offscreen platform) this yields null.
  QWindow* foreign = QWindow::fromWinId(static_cast<WId>(nativeHandle));
  if (foreign == nullptr) return false;
  // The wrapper only refers to the host's window; it dies with our window.
  foreign->setParent(nullptr);
  QObject::connect(window, &QObject::destroyed, foreign, &QObject::deleteLater);
  window->setTransientParent(foreign);
  keepTransientFor(window, static_cast<WId>(nativeHandle));
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
    keepTransientFor(own, parent->winId());
    return true;
  }
  return setTransientForNative(topLevel, owner.nativeHandle);
}

QScreen* ownerScreen(QWidget* topLevel) {
  QWindow* own = topLevel ? topLevel->windowHandle() : nullptr;
  if (QWindow* owner = own ? own->transientParent() : nullptr) {
    // A host window is foreign: its place on the desktop is asked of the display.
    const QRect where(owner->mapToGlobal(QPoint(0, 0)), owner->size());
    if (QScreen* screen = QGuiApplication::screenAt(where.center())) return screen;
  }
  if (QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) return screen;
  return QGuiApplication::primaryScreen();
}

}  // namespace qadj
