// Glyph strips: cutting, transparency, the derived disabled image, the window's glyphs.
#include <gtest/gtest.h>

#include "qadj/controls/glyph_image.h"
#include "qadj/window/tool_buttons.h"

namespace qadj {
namespace {

bool contains(const QImage& image, QRgb colour) {
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if ((image.pixel(x, y) & RGB_MASK) == (colour & RGB_MASK)) return true;
    }
  }
  return false;
}

TEST(GlyphImage, CuttingAndTransparency) {
  QImage strip(36, 18, QImage::Format_RGB32);
  strip.fill(QColor(128, 128, 0));
  strip.setPixel(19, 1, qRgb(0, 0, 255));
  const QImage second = glyphStripImage(strip, 2, 1);
  EXPECT_EQ(second.size(), QSize(18, 18));
  EXPECT_TRUE(glyphStripImage(strip, 2, 2).isNull());
  EXPECT_EQ(bottomLeftColour(strip), QColor(128, 128, 0));
  const QImage out = withTransparentColour(second, bottomLeftColour(strip));
  EXPECT_EQ(qAlpha(out.pixel(0, 0)), 0);
  EXPECT_EQ(out.pixel(1, 1), qRgb(0, 0, 255));  // opaque, colour kept
}

TEST(GlyphImage, DerivedDisabledImageEmbossesBlackPixels) {
  QImage image(5, 5, QImage::Format_RGB32);
  image.fill(Qt::red);
  image.setPixel(1, 1, qRgb(0, 0, 0));
  image.setPixel(4, 4, qRgb(0, 0, 0));   // its highlight would fall outside
  image.setPixel(3, 1, qRgb(10, 0, 0));  // dark but not black: no part of the shape
  const QColor face(200, 200, 200), light(255, 255, 255), dark(90, 90, 90);
  const QImage out = derivedDisabledImage(image, face, light, dark);
  EXPECT_EQ(QColor(out.pixel(1, 1)), dark);
  EXPECT_EQ(QColor(out.pixel(2, 2)), light);
  EXPECT_EQ(QColor(out.pixel(4, 4)), dark);
  EXPECT_EQ(QColor(out.pixel(3, 1)), face);
  EXPECT_FALSE(contains(out, qRgb(255, 0, 0)));
}

TEST(ToolGlyphs, SizesFormatsAndTransparentCorners) {
  const QImage save = makeSaveGlyph();
  EXPECT_EQ(save.size(), QSize(36, 18));
  EXPECT_EQ(save.format(), QImage::Format_Indexed8);
  EXPECT_LE(save.colorCount(), 16);
  EXPECT_EQ(bottomLeftColour(save), QColor(128, 128, 0));
  EXPECT_TRUE(contains(glyphStripImage(save, 2, 0), qRgb(0, 128, 0)));
  const QImage disabled = glyphStripImage(save, 2, 1);
  EXPECT_FALSE(contains(disabled, qRgb(0, 128, 0)));
  EXPECT_TRUE(contains(disabled, qRgb(128, 128, 128)));
  EXPECT_TRUE(contains(disabled, qRgb(255, 255, 255)));

  const QImage exit = makeExitGlyph();
  EXPECT_EQ(exit.size(), QSize(16, 16));
  EXPECT_EQ(exit.format(), QImage::Format_RGB555);
  EXPECT_EQ(bottomLeftColour(exit), QColor(255, 0, 255));
  EXPECT_TRUE(contains(exit, qRgb(0, 0, 0)));  // gives the derived image a shape
}

}  // namespace
}  // namespace qadj
