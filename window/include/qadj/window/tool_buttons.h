// The quota window's tool-bar artwork and button set-up.
#pragma once

#include <QImage>
#include <string_view>

namespace qadj {

class TFlatSpeedButton;

// Glyph strip of the save button: 36 × 18, 16 colours, two 18 × 18 images (a green
// tick, then the same tick in grey and white); olive (128, 128, 0) at the bottom-left
// pixel is the transparent colour.
QImage makeSaveGlyph();

// Glyph of the exit button: 16 × 16, 5-5-5 colour, a door with an arrow pointing to
// it; magenta (255, 0, 255) at the bottom-left pixel is the transparent colour.
QImage makeExitGlyph();

// Sets a button up as the window's tool buttons are: 35 × 35, glyph above the caption,
// spacing 4, margin -1, border in the system menu colour, the face following the
// parent's background, the given glyph (its image count follows from its size) and the
// caption given as GBK bytes. Throws qadj::EConvertError when the caption is not GBK.
void configureToolButton(TFlatSpeedButton& button, std::string_view gbkCaption,
                         const QImage& glyph);

}  // namespace qadj
