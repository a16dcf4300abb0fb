#include "qadj/settings/widget_form_settings.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>

namespace qadj {

WidgetFormSettings::WidgetFormSettings(QWidget& window, WinColor color, QSize assumedFrame)
    : window_(window), color_(color), assumedFrame_(assumedFrame) {}

QSize WidgetFormSettings::frame() const {
  const QSize drawn = window_.frameGeometry().size() - window_.size();
  return drawn.isEmpty() && !window_.testAttribute(Qt::WA_WState_Created) ? assumedFrame_ : drawn;
}

int WidgetFormSettings::top() const {
  return window_.frameGeometry().top();
}
int WidgetFormSettings::left() const {
  return window_.frameGeometry().left();
}
int WidgetFormSettings::width() const {
  return window_.width() + frame().width();
}
int WidgetFormSettings::height() const {
  return window_.height() + frame().height();
}

// move() places a top-level window's frame.
void WidgetFormSettings::setTop(int top) {
  window_.move(window_.frameGeometry().left(), top);
}
void WidgetFormSettings::setLeft(int left) {
  window_.move(left, window_.frameGeometry().top());
}

// A client area needs at least one pixel each way: X maps no window of width or
// height 0, and the host would wait for ever on a window nobody can see or close. An
// outer size smaller than the frame therefore gives the smallest window that shows
// (its frame and caption bar under a window manager, as on Windows); every other size
// is applied as it is.
int WidgetFormSettings::clientExtent(int outer, int frameExtent) {
  return std::max(1, outer - frameExtent);
}

void WidgetFormSettings::setWidth(int width) {
  window_.resize(clientExtent(width, frame().width()), window_.height());
}

void WidgetFormSettings::setHeight(int height) {
  window_.resize(window_.width(), clientExtent(height, frame().height()));
}

void WidgetFormSettings::setColor(WinColor color) {
  color_ = color;
  QPalette palette = window_.palette();
  palette.setColor(QPalette::Window, colorFromWinColor(color));
  window_.setPalette(palette);
  window_.setAutoFillBackground(true);
}

int WidgetFormSettings::fontSize() const {
  const QFont font = window_.font();
  if (font.pointSize() > 0) return font.pointSize();
  return -(font.pixelSize() * 72 / 96);
}

void WidgetFormSettings::setFontSize(int points) {
  QFont font = window_.font();
  if (points > 0) {
    font.setPointSize(points);
  } else if (points < 0) {
    font.setPixelSize(std::max(1, -points * 96 / 72));
  } else {
    font.setPointSizeF(QApplication::font().pointSizeF());
  }
  window_.setFont(font);
}

void WidgetFormSettings::setWindowStateNormal() {
  window_.setWindowState(window_.windowState() &
                         ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void WidgetFormSettings::setBorderStyleNone() {
  window_.setWindowFlag(Qt::FramelessWindowHint, true);
}

void WidgetFormSettings::setFormStyleNormal() {
  window_.setWindowFlag(Qt::WindowStaysOnTopHint, false);
}

}  // namespace qadj
