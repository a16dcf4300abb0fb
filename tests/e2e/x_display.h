// A private X display for tests that need a real display server: Xvfb on a display
// number of its own, reachable only through its local socket, with real input
// injected by xdotool (XTEST), as a user's mouse and keyboard would give it.
#pragma once

#include <sys/types.h>

#include <QPoint>
#include <QStringList>
#include <string>

namespace qadj::testing {

class VirtualDisplay {
 public:
  VirtualDisplay() = default;
  ~VirtualDisplay();  // stops the server
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  // Starts Xvfb (1600x1200, 24 bits, 96 dpi, no TCP) on a free display of its own
  // choosing and waits, at most 10 s, until it accepts connections; then, when
  // windowManager is not empty, that window manager (e.g. "openbox") on it. Returns
  // false with the reason in whyNot() when Xvfb, xdotool or the window manager is
  // missing or the server does not come up.
  bool start(const std::string& windowManager = "");
  // ":N", for DISPLAY.
  const std::string& name() const { return name_; }
  const std::string& whyNot() const { return whyNot_; }

 private:
  pid_t pid_ = -1;
  pid_t windowManager_ = -1;
  std::string name_;
  std::string whyNot_;
};

// Runs xdotool with args on the display in DISPLAY; true when it succeeded.
bool xdotool(const QStringList& args);
// Moves the pointer to a point of the screen (in Qt's coordinates, which a scale
// factor divides).
bool xmove(QPoint global);
// Moves the pointer there and clicks the left button.
bool xclick(QPoint global);
// Types text with the keyboard.
bool xtype(const QString& text);

}  // namespace qadj::testing
