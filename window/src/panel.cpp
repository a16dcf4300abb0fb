#include "qadj/window/panel.h"

#include <QPainter>

namespace qadj::window {

TPanel::TPanel(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(true);
}

void TPanel::setBevelOuter(Bevel b) {
  bevel_ = b;
  update();
}

void TPanel::setCaption(const QString& text) {
  caption_ = text;
  update();
}

void TPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  if (bevel_ == Bevel::Lowered) {
    const QRect r = rect();  // on the outer edge: right() and bottom() are the last pixels
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
  }
  if (!caption_.isEmpty()) {
    p.setPen(pal.color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, caption_);
  }
}

TBevel::TBevel(QWidget* parent) : QWidget(parent) {}

void TBevel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(palette().color(QPalette::Dark));
  p.drawLine(0, 0, width() - 1, 0);
  p.setPen(palette().color(QPalette::Light));
  p.drawLine(0, 1, width() - 1, 1);
}

}  // namespace qadj::window
