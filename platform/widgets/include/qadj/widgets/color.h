// Windows colour numbers: 0x00BBGGRR for a plain colour, 0x80000000 | index for a
// system colour (the desktop's current colour of that name).
#pragma once

#include <cstdint>

#include <QColor>

#include "qadj/platform/export.h"

namespace qadj {

using WinColor = std::uint32_t;

// System colour indices and their colour numbers.
enum SysColorIndex : int {
  COLOR_SCROLLBAR = 0,
  COLOR_BACKGROUND = 1,
  COLOR_ACTIVECAPTION = 2,
  COLOR_INACTIVECAPTION = 3,
  COLOR_MENU = 4,
  COLOR_WINDOW = 5,
  COLOR_WINDOWFRAME = 6,
  COLOR_MENUTEXT = 7,
  COLOR_WINDOWTEXT = 8,
  COLOR_CAPTIONTEXT = 9,
  COLOR_ACTIVEBORDER = 10,
  COLOR_INACTIVEBORDER = 11,
  COLOR_APPWORKSPACE = 12,
  COLOR_HIGHLIGHT = 13,
  COLOR_HIGHLIGHTTEXT = 14,
  COLOR_BTNFACE = 15,
  COLOR_BTNSHADOW = 16,
  COLOR_GRAYTEXT = 17,
  COLOR_BTNTEXT = 18,
  COLOR_INACTIVECAPTIONTEXT = 19,
  COLOR_BTNHIGHLIGHT = 20,
  COLOR_3DDKSHADOW = 21,
  COLOR_3DLIGHT = 22,
  COLOR_INFOTEXT = 23,
  COLOR_INFOBK = 24,
};

constexpr WinColor kSystemColorFlag = 0x80000000u;
constexpr WinColor clBtnFace = kSystemColorFlag | COLOR_BTNFACE;
constexpr WinColor clBtnShadow = kSystemColorFlag | COLOR_BTNSHADOW;
constexpr WinColor clBtnHighlight = kSystemColorFlag | COLOR_BTNHIGHLIGHT;
constexpr WinColor clBtnText = kSystemColorFlag | COLOR_BTNTEXT;
constexpr WinColor clWindow = kSystemColorFlag | COLOR_WINDOW;
constexpr WinColor clWindowText = kSystemColorFlag | COLOR_WINDOWTEXT;
constexpr WinColor clMenu = kSystemColorFlag | COLOR_MENU;
constexpr WinColor clHighlight = kSystemColorFlag | COLOR_HIGHLIGHT;
constexpr WinColor clHighlightText = kSystemColorFlag | COLOR_HIGHLIGHTTEXT;
constexpr WinColor clGrayText = kSystemColorFlag | COLOR_GRAYTEXT;
constexpr WinColor cl3DDkShadow = kSystemColorFlag | COLOR_3DDKSHADOW;
constexpr WinColor cl3DLight = kSystemColorFlag | COLOR_3DLIGHT;

// A plain colour number from red, green and blue.
constexpr WinColor winRgb(int r, int g, int b) {
  return static_cast<WinColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr bool isSystemColor(WinColor c) {
  return (c & kSystemColorFlag) != 0;
}

// The current colour of a system colour index: taken from the application's
// palette where Qt has a matching role, else the classic Windows value. An
// unknown index gives black.
QADJ_PLATFORM_API QColor systemColor(int index);

// The QColor of a colour number: a system colour is resolved with systemColor()
// (index in the low byte); otherwise the low 24 bits are blue, green, red.
QADJ_PLATFORM_API QColor colorFromWinColor(WinColor color);

// The plain colour number of a QColor (alpha dropped).
QADJ_PLATFORM_API WinColor winColorFromQColor(const QColor& color);

}  // namespace qadj
