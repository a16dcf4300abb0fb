// Mouse events delivered straight to a widget, as after a press has grabbed the mouse,
// or through the window system as a real click arrives.
#pragma once

#include <QColor>
#include <QPoint>
#include <QWidget>

namespace qadj::test {

void pressAt(QWidget* w, QPoint pos, Qt::MouseButton button = Qt::LeftButton);
void doubleClickAt(QWidget* w, QPoint pos);
void releaseAt(QWidget* w, QPoint pos);
void moveTo(QWidget* w, QPoint pos, Qt::MouseButtons held = Qt::NoButton);
// A click (press, then release) as the window system delivers it: to the top-level
// window under the pointer, which routes it (to an open popup first, as a real
// click's release goes).
void systemClick(QWidget* w, QPoint pos);
// Colour of one pixel of the widget as it paints itself now.
QColor pixelOf(QWidget* w, QPoint pos);

}  // namespace qadj::test
