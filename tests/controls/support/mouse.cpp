#include "support/mouse.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QTest>
#include <QWindow>

namespace qadj::test {

static void send(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                 Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void pressAt(QWidget* w, QPoint pos, Qt::MouseButton button) {
  send(w, QEvent::MouseButtonPress, pos, button, button);
}
void doubleClickAt(QWidget* w, QPoint pos) {
  send(w, QEvent::MouseButtonDblClick, pos, Qt::LeftButton, Qt::LeftButton);
}
void releaseAt(QWidget* w, QPoint pos) {
  send(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}
void moveTo(QWidget* w, QPoint pos, Qt::MouseButtons held) {
  send(w, QEvent::MouseMove, pos, Qt::NoButton, held);
}
void systemClick(QWidget* w, QPoint pos) {
  QWidget* top = w->window();
  QWindow* window = top->windowHandle();
  const QPoint at = w->mapTo(top, pos);
  QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
}
QColor pixelOf(QWidget* w, QPoint pos) {
  return QColor(w->grab().toImage().pixel(pos));
}

}  // namespace qadj::test
