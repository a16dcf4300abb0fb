#include "qadj/controls/flat_geometry.h"

#include <algorithm>

namespace qadj {

ButtonLayoutResult layoutButton(const ButtonLayoutInput& in) {
  const QSize glyph = in.glyph.isEmpty() ? QSize(0, 0) : in.glyph;
  const QSize caption = in.caption.isEmpty() ? QSize(0, 0) : in.caption;
  const bool vertical =
      in.layout == ButtonLayout::GlyphTop || in.layout == ButtonLayout::GlyphBottom;
  const int extent = vertical ? in.client.height() : in.client.width();
  const int glyphExtent = vertical ? glyph.height() : glyph.width();
  const int captionExtent = vertical ? caption.height() : caption.width();

  int spacing = (glyph.isEmpty() || caption.isEmpty()) ? 0 : in.spacing;
  int margin = in.margin;
  if (margin == -1) {
    if (spacing == -1) {
      spacing = (extent - glyphExtent - captionExtent) / 3;
      margin = spacing;
    } else {
      margin = (extent - (glyphExtent + spacing + captionExtent) + 1) / 2;
    }
  } else if (spacing == -1) {
    // The caption stands centred in the room left after margin and glyph.
    spacing = (extent - margin - glyphExtent - captionExtent + 1) / 2;
  }

  int glyphAlong = 0;
  int captionAlong = 0;
  if (in.layout == ButtonLayout::GlyphTop || in.layout == ButtonLayout::GlyphLeft) {
    glyphAlong = margin;
    captionAlong = margin + glyphExtent + spacing;
  } else {
    glyphAlong = extent - margin - glyphExtent;
    captionAlong = glyphAlong - spacing - captionExtent;
  }

  QPoint glyphPos;
  QPoint captionPos;
  if (vertical) {
    glyphPos = QPoint((in.client.width() - glyph.width() + 1) / 2, glyphAlong);
    captionPos = QPoint((in.client.width() - caption.width() + 1) / 2, captionAlong);
  } else {
    glyphPos = QPoint(glyphAlong, (in.client.height() - glyph.height() + 1) / 2);
    captionPos = QPoint(captionAlong, (in.client.height() - caption.height() + 1) / 2);
  }
  const QPoint offset = in.pressed ? QPoint(1, 1) : QPoint(0, 0);
  return {glyphPos + offset, QRect(captionPos + offset, caption)};
}

ButtonLook buttonLook(ButtonState state, bool hot, const ButtonColours& c) {
  switch (state) {
    case ButtonState::Down:
      return {c.down, c.shadow, c.highlight};
    case ButtonState::Disabled:
      return {c.color, c.border, c.border};
    case ButtonState::Up:
      break;
  }
  if (hot) return {c.focused, c.highlight, c.shadow};
  return {c.color, c.border, c.border};
}

int glyphImageIndex(int numGlyphs, ButtonState state) {
  switch (state) {
    case ButtonState::Disabled:
      return numGlyphs >= 2 ? 1 : -1;
    case ButtonState::Down:
      return numGlyphs >= 3 ? 2 : 0;
    case ButtonState::Up:
      break;
  }
  return 0;
}

int numGlyphsForGlyph(QSize glyph) {
  if (glyph.isEmpty() || glyph.width() % glyph.height() != 0) return 0;
  const int count = glyph.width() / glyph.height();
  return count > 4 ? 1 : count;
}

QRect comboEditRect(QSize control) {
  return QRect(3, 3, control.width() - kComboArrowWidth - 8, control.height() - 6);
}

QRect comboFrameRect(QSize control) {
  return QRect(0, 0, control.width() - kComboArrowWidth - 1, control.height());
}

QRect comboArrowButtonRect(QSize control) {
  return QRect(control.width() - kComboArrowWidth - 2, 0, kComboArrowWidth + 2, control.height());
}

QRect comboBackgroundRect(QSize control) {
  return QRect(0, 0, control.width() - kComboArrowWidth - 4, control.height());
}

QRect comboDroppedRect(QSize control) {
  return QRect(QPoint(2, 2), QPoint(control.width() - kComboArrowWidth - 3, control.height() - 3));
}

ArrowTriangle comboArrow(QSize control, bool dropped) {
  const QRect button = comboArrowButtonRect(control);
  const int cx = button.left() + button.width() / 2;
  const int cy = button.top() + button.height() / 2;
  if (dropped) return {QPoint(cx - 2, cy + 1), QPoint(cx + 2, cy + 1), QPoint(cx, cy - 1)};
  return {QPoint(cx - 2, cy - 1), QPoint(cx + 2, cy - 1), QPoint(cx, cy + 1)};
}

int comboListItemHeight(int cellHeight) {
  const int scaled = cellHeight * 9;
  int rounded = scaled / 8;
  const int rest = scaled % 8;
  if (rest > 4 || (rest == 4 && rounded % 2 != 0)) ++rounded;
  return rounded - 2;
}

int comboVisibleItems(int itemCount, int dropDownCount) {
  return std::max(0, std::min(itemCount, dropDownCount));
}

int comboDropDownHeight(int itemCount, int dropDownCount, int itemHeight) {
  const int height = comboVisibleItems(itemCount, dropDownCount) * itemHeight + 4;
  return height <= 4 ? 10 : height;
}

}  // namespace qadj
