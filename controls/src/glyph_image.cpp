#include "qadj/controls/glyph_image.h"

namespace qadj {

QImage glyphStripImage(const QImage& strip, int count, int index) {
  if (strip.isNull() || count < 1 || index < 0 || index >= count) return {};
  const int width = strip.width() / count;
  return strip.copy(index * width, 0, width, strip.height());
}

QColor bottomLeftColour(const QImage& image) {
  if (image.isNull()) return {};
  return QColor(image.pixel(0, image.height() - 1));
}

QImage withTransparentColour(const QImage& image, QColor transparent) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb key = transparent.rgb() & RGB_MASK;
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x) {
      if ((line[x] & RGB_MASK) == key) line[x] = 0;
    }
  }
  return out;
}

QImage derivedDisabledImage(const QImage& image, QColor face, QColor highlight, QColor shadow) {
  const QImage source = image.convertToFormat(QImage::Format_RGB32);
  QImage out(source.size(), QImage::Format_RGB32);
  out.fill(face);
  const int w = source.width();
  const int h = source.height();
  auto isBlack = [&](int x, int y) { return (source.pixel(x, y) & RGB_MASK) == 0; };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (isBlack(x, y) && x + 1 < w && y + 1 < h) out.setPixel(x + 1, y + 1, highlight.rgb());
    }
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (isBlack(x, y)) out.setPixel(x, y, shadow.rgb());
    }
  }
  return out;
}

}  // namespace qadj
