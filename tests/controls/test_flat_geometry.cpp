// Layout and look rules of the flat button and the flat drop-down list.
#include <gtest/gtest.h>

#include "qadj/controls/flat_geometry.h"

namespace qadj {
namespace {

ButtonLayoutResult lay(QSize client, QSize glyph, QSize caption, ButtonLayout layout,
                       int margin = -1, int spacing = 4, bool pressed = false) {
  return layoutButton({client, glyph, caption, layout, margin, spacing, pressed});
}

TEST(ButtonLayout, ToolButtonCentresGlyphAboveCaption) {
  const QSize b(35, 35), caption(24, 13);
  ButtonLayoutResult r = lay(b, QSize(18, 18), caption, ButtonLayout::GlyphTop);
  EXPECT_EQ(r.glyphPos, QPoint(9, 0));
  EXPECT_EQ(r.captionRect, QRect(6, 22, 24, 13));
  r = lay(b, QSize(16, 16), caption, ButtonLayout::GlyphTop);
  EXPECT_EQ(r.glyphPos, QPoint(10, 1));
  EXPECT_EQ(r.captionRect.topLeft(), QPoint(6, 21));
  r = lay(b, QSize(16, 16), caption, ButtonLayout::GlyphTop, -1, 4, true);  // pressed
  EXPECT_EQ(r.glyphPos, QPoint(11, 2));
  EXPECT_EQ(r.captionRect.topLeft(), QPoint(7, 22));
  // A missing part drops the spacing: each alone is centred.
  EXPECT_EQ(lay(b, QSize(18, 18), QSize(), ButtonLayout::GlyphTop).glyphPos, QPoint(9, 9));
  EXPECT_EQ(lay(b, QSize(), QSize(20, 13), ButtonLayout::GlyphTop).captionRect.topLeft(),
            QPoint(8, 11));
}

TEST(ButtonLayout, FixedMarginOtherSidesAndSpreadSpacing) {
  const QSize glyph(16, 16), caption(20, 13);
  ButtonLayoutResult r = lay(QSize(60, 30), glyph, caption, ButtonLayout::GlyphLeft, 2);
  EXPECT_EQ(r.glyphPos, QPoint(2, 7));
  EXPECT_EQ(r.captionRect.topLeft(), QPoint(22, 9));
  r = lay(QSize(60, 30), glyph, caption, ButtonLayout::GlyphRight, 2);
  EXPECT_EQ(r.glyphPos, QPoint(42, 7));
  EXPECT_EQ(r.captionRect.topLeft(), QPoint(18, 9));
  r = lay(QSize(35, 40), glyph, caption, ButtonLayout::GlyphBottom, 2);
  EXPECT_EQ(r.glyphPos, QPoint(10, 22));
  EXPECT_EQ(r.captionRect.topLeft(), QPoint(8, 5));
  // Margin and spacing -1: free space 40 - 29 = 11 in three parts of 3.
  r = lay(QSize(35, 40), glyph, caption, ButtonLayout::GlyphTop, -1, -1);
  EXPECT_EQ(r.glyphPos.y(), 3);
  EXPECT_EQ(r.captionRect.top(), 22);
}

TEST(ButtonLook, FaceAndFramePerState) {
  const ButtonColours c{Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::white, Qt::black};
  auto expectLook = [](ButtonLook l, QColor face, QColor topLeft, QColor bottomRight) {
    EXPECT_EQ(l.face, face);
    EXPECT_EQ(l.topLeft, topLeft);
    EXPECT_EQ(l.bottomRight, bottomRight);
  };
  expectLook(buttonLook(ButtonState::Up, false, c), c.color, c.border, c.border);
  expectLook(buttonLook(ButtonState::Up, true, c), c.focused, c.highlight, c.shadow);
  for (bool hot : {false, true}) {
    expectLook(buttonLook(ButtonState::Down, hot, c), c.down, c.shadow, c.highlight);
    expectLook(buttonLook(ButtonState::Disabled, hot, c), c.color, c.border, c.border);
  }
}

TEST(ButtonGlyph, ImageChoiceAndImageCount) {
  EXPECT_EQ(glyphImageIndex(1, ButtonState::Up), 0);
  EXPECT_EQ(glyphImageIndex(1, ButtonState::Down), 0);
  EXPECT_EQ(glyphImageIndex(1, ButtonState::Disabled), -1);  // derived
  EXPECT_EQ(glyphImageIndex(2, ButtonState::Down), 0);
  EXPECT_EQ(glyphImageIndex(2, ButtonState::Disabled), 1);
  EXPECT_EQ(glyphImageIndex(3, ButtonState::Down), 2);
  EXPECT_EQ(numGlyphsForGlyph(QSize(36, 18)), 2);
  EXPECT_EQ(numGlyphsForGlyph(QSize(64, 16)), 4);
  EXPECT_EQ(numGlyphsForGlyph(QSize(80, 16)), 1);  // 5 is above 4
  EXPECT_EQ(numGlyphsForGlyph(QSize(30, 16)), 0);  // no whole multiple: unchanged
  EXPECT_EQ(numGlyphsForGlyph(QSize()), 0);
}

TEST(ComboGeometry, PartsOfTheSalespersonBox) {
  const QSize s(121, 21);
  EXPECT_EQ(comboEditRect(s), QRect(3, 3, 102, 15));
  EXPECT_EQ(comboFrameRect(s), QRect(0, 0, 109, 21));
  EXPECT_EQ(comboArrowButtonRect(s), QRect(108, 0, 13, 21));
  EXPECT_EQ(comboBackgroundRect(s).right(), 105);
  EXPECT_EQ(comboDroppedRect(s), QRect(QPoint(2, 2), QPoint(107, 18)));
  // Arrow around the button's centre (114, 10): down, and up while dropped.
  const ArrowTriangle down = comboArrow(s, false), up = comboArrow(s, true);
  EXPECT_EQ(down.base1, QPoint(112, 9));
  EXPECT_EQ(down.base2, QPoint(116, 9));
  EXPECT_EQ(down.apex, QPoint(114, 11));
  EXPECT_EQ(up.base1, QPoint(112, 11));
  EXPECT_EQ(up.base2, QPoint(116, 11));
  EXPECT_EQ(up.apex, QPoint(114, 9));
}

TEST(ComboGeometry, DroppedListHeight) {
  EXPECT_EQ(comboListItemHeight(13), 13);  // 14.625 → 15
  EXPECT_EQ(comboListItemHeight(12), 12);  // 13.5 → 14
  EXPECT_EQ(comboListItemHeight(20), 20);  // 22.5 → 22
  EXPECT_EQ(comboDropDownHeight(0, 8, 13), 10);
  EXPECT_EQ(comboDropDownHeight(1, 8, 13), 17);
  EXPECT_EQ(comboDropDownHeight(20, 8, 13), 8 * 13 + 4);
  EXPECT_EQ(comboVisibleItems(20, 8), 8);
  EXPECT_EQ(comboDropDownHeight(3, 8, 0), 10);  // degenerate row height
}

}  // namespace
}  // namespace qadj
