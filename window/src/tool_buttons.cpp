#include "qadj/window/tool_buttons.h"

#include <QPainter>
#include <QPolygon>
#include <QVector>

#include "qadj/controls/flat_speed_button.h"
#include "qadj/controls/system_colours.h"
#include "qadj/platform/text.h"

namespace qadj {

namespace {

// The sixteen colours of a 4-bit bitmap.
QVector<QRgb> sixteenColours() {
  return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
          qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
          qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
          qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

// The tick's outline inside an 18 × 18 image whose left edge is at x0.
QPolygon tickShape(int x0) {
  return QPolygon({QPoint(x0 + 2, 9), QPoint(x0 + 5, 6), QPoint(x0 + 7, 9), QPoint(x0 + 13, 2),
                   QPoint(x0 + 16, 5), QPoint(x0 + 7, 15)});
}

void drawTick(QPainter& p, int x0, QColor outline, QColor fill) {
  p.setPen(outline);
  p.setBrush(fill);
  p.drawPolygon(tickShape(x0));
}

}  // namespace

QImage makeSaveGlyph() {
  QImage canvas(36, 18, QImage::Format_RGB32);
  canvas.fill(QColor(128, 128, 0));
  {
    QPainter p(&canvas);
    drawTick(p, 0, QColor(0, 0, 0), QColor(0, 128, 0));
    // The same tick for the disabled state: a white copy one pixel down and right,
    // the grey tick over it.
    p.translate(1, 1);
    drawTick(p, 18, Qt::white, Qt::white);
    p.translate(-1, -1);
    drawTick(p, 18, QColor(128, 128, 128), QColor(128, 128, 128));
  }
  return canvas.convertToFormat(QImage::Format_Indexed8, sixteenColours(),
                                Qt::ThresholdDither | Qt::AvoidDither);
}

QImage makeExitGlyph() {
  QImage canvas(16, 16, QImage::Format_RGB32);
  canvas.fill(QColor(255, 0, 255));
  {
    QPainter p(&canvas);
    // The door, open to the right of the arrow, in a black frame.
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(128, 64, 0));
    p.drawRect(8, 1, 6, 13);
    p.setPen(QColor(255, 255, 0));
    p.drawPoint(10, 8);
    // The arrow pointing at the door.
    p.setPen(QColor(0, 0, 0));
    p.drawLine(1, 8, 6, 8);
    p.drawLine(4, 6, 6, 8);
    p.drawLine(4, 10, 6, 8);
  }
  return canvas.convertToFormat(QImage::Format_RGB555);
}

void configureToolButton(TFlatSpeedButton& button, std::string_view gbkCaption,
                         const QImage& glyph) {
  button.setCaption(QString::fromStdString(text::gbkToUtf8(gbkCaption)));
  button.resize(35, 35);
  button.setButtonLayout(ButtonLayout::GlyphTop);
  button.setSpacing(4);
  button.setMargin(-1);
  button.setColorBorder(systemColours().menu);
  button.resetColor();
  button.setGlyph(glyph);
}

}  // namespace qadj
