// FormSettingsTarget for a top-level QWidget: frame position and outer size,
// background colour, font size and the form-style switches in Qt terms. A window
// class may use it directly or forward to it from its own implementation.
#pragma once

#include <QSize>

#include "qadj/settings/form_settings_target.h"

class QWidget;

namespace qadj {

class WidgetFormSettings : public FormSettingsTarget {
 public:
  // window is not owned and must outlive this object. color is the window's
  // current background as a colour number (Qt keeps no such number).
  // assumedFrame: the frame to count while the window system has drawn none yet
  // (before the first showing), so that outer sizes still map to client sizes.
  explicit WidgetFormSettings(QWidget& window, WinColor color = clBtnFace, QSize assumedFrame = {});

  int top() const override;
  void setTop(int top) override;
  int left() const override;
  void setLeft(int left) override;
  // Outer sizes: the client size plus the frame the window system adds (the
  // assumed frame before the window is first shown). An outer size that leaves no
  // client pixel gives a client of one pixel that way (clientExtent).
  int width() const override;
  void setWidth(int width) override;
  int height() const override;
  void setHeight(int height) override;

  WinColor color() const override { return color_; }
  // Fills the window's background (palette role Window) with the colour.
  void setColor(WinColor color) override;

  // Positive: points; negative: a character height in pixels of a 96-dpi screen,
  // -points * 96 / 72; 0: the application's default font size.
  int fontSize() const override;
  void setFontSize(int points) override;

  void setAlignNone() override {}         // a top-level window is never docked
  void setWindowStateNormal() override;   // clears minimised, maximised, full screen
  void setPositionDesigned() override {}  // the window is never centred by us
  void setBorderStyleNone() override;     // frameless
  void setFormStyleNormal() override;     // not stay-on-top

  // The client width or height for an outer one: outer less the frame, at least 1.
  static int clientExtent(int outer, int frameExtent);

 private:
  QWidget& window_;
  QSize frame() const;

  WinColor color_;
  QSize assumedFrame_;
};

}  // namespace qadj
