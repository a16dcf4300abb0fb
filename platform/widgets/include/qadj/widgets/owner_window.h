// The window that owns a modal window of the plug-in: either one of our own
// widgets or a native X11 window of the host (its id). Both empty means none.
#pragma once

#include <QtGlobal>

#include "qadj/platform/export.h"

class QScreen;
class QWidget;
class QWindow;

namespace qadj {

struct OwnerWindow {
  QWidget* widget = nullptr;  // not owned
  quintptr nativeHandle = 0;  // X11 window id of a host window; 0 = none

  bool isNone() const { return widget == nullptr && nativeHandle == 0; }
  static OwnerWindow none() { return {}; }
  static OwnerWindow fromWidget(QWidget* w) { return OwnerWindow{w, 0}; }
  static OwnerWindow fromNative(quintptr id) { return OwnerWindow{nullptr, id}; }
};

// The host's owner window handle, set by the plug-in's entry point from its
// first argument (0 = none). Process-wide; read and written on the GUI thread.
QADJ_PLATFORM_API quintptr applicationOwnerHandle();
QADJ_PLATFORM_API void setApplicationOwnerHandle(quintptr handle);

// The owner for windows of the plug-in that have no widget owner: the
// application owner handle as a native owner (none when it is 0).
QADJ_PLATFORM_API OwnerWindow applicationOwner();

// Makes window transient for the native X11 window `nativeHandle`, so that the
// window manager keeps it above the host's window. 0 does nothing. Returns
// true when a transient parent was set. The foreign QWindow wrapper is parented
// to window and lives as long as it does.
QADJ_PLATFORM_API bool setTransientForNative(QWindow* window, quintptr nativeHandle);
// The same for a top-level widget (its native window is created if needed).
QADJ_PLATFORM_API bool setTransientForNative(QWidget* widget, quintptr nativeHandle);

// Applies owner to a top-level widget about to be shown modally: a widget owner
// makes it transient for the owner's top-level window, a native owner for the
// X11 window. Returns true when a transient parent was set.
QADJ_PLATFORM_API bool applyOwner(QWidget* topLevel, const OwnerWindow& owner);

// The screen that holds topLevel's owner (its transient parent, our own window or the
// host's), else the one under the pointer, else the primary screen. Null only when
// the application has no screen.
QADJ_PLATFORM_API QScreen* ownerScreen(QWidget* topLevel);

}  // namespace qadj
