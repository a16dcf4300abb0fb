// What the settings applier needs of a window: the properties that the settings
// file may change. The quota-adjustment window implements it.
#pragma once

#include "qadj/widgets/color.h"

namespace qadj {

class FormSettingsTarget {
 public:
  virtual ~FormSettingsTarget() = default;

  // Outer frame in screen coordinates, pixels. Each setter moves or resizes the
  // window at once; no value is clamped.
  virtual int top() const = 0;
  virtual void setTop(int top) = 0;
  virtual int left() const = 0;
  virtual void setLeft(int left) = 0;
  virtual int width() const = 0;
  virtual void setWidth(int width) = 0;
  virtual int height() const = 0;
  virtual void setHeight(int height) = 0;

  // Background as a Windows colour number (0x00BBGGRR, or 0x80000000 | index for a
  // system colour such as clBtnFace).
  virtual WinColor color() const = 0;
  virtual void setColor(WinColor color) = 0;

  // Point size of the window's font.
  virtual int fontSize() const = 0;
  virtual void setFontSize(int points) = 0;

  // The form-style switches; each sets the first value of its scale.
  virtual void setAlignNone() = 0;          // not docked in a parent
  virtual void setWindowStateNormal() = 0;  // neither minimised nor maximised
  virtual void setPositionDesigned() = 0;   // stays at its own top and left
  virtual void setBorderStyleNone() = 0;    // no frame and no caption bar
  virtual void setFormStyleNormal() = 0;    // not stay-on-top, not MDI
};

}  // namespace qadj
