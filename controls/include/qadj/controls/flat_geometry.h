// Layout and look rules of the flat controls as plain functions, so that they can be
// checked without a window. The widgets only feed them sizes and state.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace qadj {

// ---- Flat button -----------------------------------------------------------------

// Where the glyph stands relative to the caption.
enum class ButtonLayout { GlyphLeft, GlyphRight, GlyphTop, GlyphBottom };

// Drawing state of a flat button; the hot flag is kept beside it.
enum class ButtonState { Up, Down, Disabled };

struct ButtonLayoutInput {
  QSize client;   // W × H of the button
  QSize glyph;    // one image of the strip; empty without a glyph
  QSize caption;  // the caption on one line; empty for no caption
  ButtonLayout layout = ButtonLayout::GlyphTop;
  int margin = -1;       // -1 centres glyph and caption together
  int spacing = 4;       // -1 with margin -1 spreads the free space in three parts
  bool pressed = false;  // moves everything one pixel right and down
};

struct ButtonLayoutResult {
  QPoint glyphPos;
  QRect captionRect;
};

// Returns the glyph position and the caption rectangle inside the button.
ButtonLayoutResult layoutButton(const ButtonLayoutInput& in);

struct ButtonColours {
  QColor color;      // face when up (and when disabled)
  QColor focused;    // face when hot
  QColor down;       // face when pressed
  QColor border;     // flat 1-pixel frame
  QColor highlight;  // light edge of raised/sunken frames
  QColor shadow;     // dark edge of raised/sunken frames
};

// Face and frame colours of one state: the top and left lines are drawn first, the
// bottom and right lines over them (so they own the two far corners).
struct ButtonLook {
  QColor face;
  QColor topLeft;
  QColor bottomRight;
};

// Returns the look of a button in the given state; hot only matters when up.
ButtonLook buttonLook(ButtonState state, bool hot, const ButtonColours& c);

// Index of the strip image to draw in a state, or -1 when the disabled image must be
// derived from the first image (a one-image strip).
int glyphImageIndex(int numGlyphs, ButtonState state);

// Number of images that a new glyph of this size holds: width ÷ height when the width
// is a whole multiple of the height (1 when that exceeds 4); 0 means "keep the
// current count" (empty glyph or a width that is no multiple of the height).
int numGlyphsForGlyph(QSize glyph);

// ---- Flat drop-down list ---------------------------------------------------------

// Fixed width of the flat arrow button's inner part.
inline constexpr int kComboArrowWidth = 11;

// Rectangle of the edit field inside a W × H control (W − 11 − 8 by H − 6, at 3, 3).
QRect comboEditRect(QSize control);
// Outer flat frame: x from 0 to W − A − 1 (exclusive), full height.
QRect comboFrameRect(QSize control);
// Arrow button: x from W − A − 2 to W (exclusive), full height.
QRect comboArrowButtonRect(QSize control);
// Part of the client filled with the background before the edit area is drawn.
QRect comboBackgroundRect(QSize control);
// The rectangle drawn in the window colour while the list is dropped: 2 pixels inside,
// its right edge at x = W − A − 3.
QRect comboDroppedRect(QSize control);

// The three corners of the arrow triangle (base first) around the arrow button's
// centre; pointing up while the list is dropped.
struct ArrowTriangle {
  QPoint base1, base2, apex;
};
ArrowTriangle comboArrow(QSize control, bool dropped);

// Height of a list row from the font's character cell height: cell × 9/8 rounded to
// nearest (halves to even), minus 2.
int comboListItemHeight(int cellHeight);
// Height of the dropped list: visible rows × row height + 4, where visible rows is the
// smaller of dropDownCount and itemCount; 4 pixels or less becomes 10.
int comboDropDownHeight(int itemCount, int dropDownCount, int itemHeight);
// Rows shown at once in the dropped list.
int comboVisibleItems(int itemCount, int dropDownCount);

}  // namespace qadj
