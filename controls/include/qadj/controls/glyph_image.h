// Image work on glyph strips: cutting one image out, making the transparent colour
// see-through, and deriving the embossed disabled look of a one-image glyph.
#pragma once

#include <QColor>
#include <QImage>

namespace qadj {

// Returns image `index` of a strip of `count` images of equal width (a null image for
// a null strip or an index out of range).
QImage glyphStripImage(const QImage& strip, int count, int index);

// Colour of the bottom-left pixel, the strip's transparent colour (invalid for a null
// image).
QColor bottomLeftColour(const QImage& image);

// Returns an ARGB copy of image in which every pixel of colour `transparent` has alpha 0.
QImage withTransparentColour(const QImage& image, QColor transparent);

// The derived disabled image: image's size, filled with `face`, showing the shape of
// image's black pixels once one pixel right and down in `highlight`, then in place in
// `shadow`.
QImage derivedDisabledImage(const QImage& image, QColor face, QColor highlight, QColor shadow);

}  // namespace qadj
