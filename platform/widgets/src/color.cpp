// Windows colour numbers and Qt colours.
#include "qadj/widgets/color.h"

#include <QApplication>
#include <QPalette>
#include <optional>

namespace qadj {
namespace {

// The Qt palette role that shows the same thing as a system colour.
std::optional<QPalette::ColorRole> paletteRole(int index) {
  switch (index) {
    case COLOR_MENU:  // a widget application answers with the menus' own palette
    case COLOR_BTNFACE:
      return QPalette::Button;
    case COLOR_WINDOW:
      return QPalette::Base;
    case COLOR_INFOBK:
      return QPalette::ToolTipBase;
    case COLOR_MENUTEXT:
    case COLOR_WINDOWTEXT:
      return QPalette::WindowText;
    case COLOR_HIGHLIGHT:
      return QPalette::Highlight;
    case COLOR_HIGHLIGHTTEXT:
      return QPalette::HighlightedText;
    case COLOR_BTNSHADOW:
      return QPalette::Dark;
    case COLOR_BTNTEXT:
      return QPalette::ButtonText;
    case COLOR_BTNHIGHLIGHT:
      return QPalette::Light;
    case COLOR_3DDKSHADOW:
      return QPalette::Shadow;
    case COLOR_3DLIGHT:
      return QPalette::Midlight;
    case COLOR_INFOTEXT:
      return QPalette::ToolTipText;
    default:
      return std::nullopt;
  }
}

// The classic Windows values, for indices without a palette role or without an
// application.
QColor classicColor(int index) {
  static constexpr WinColor kClassic[] = {
      winRgb(212, 208, 200), winRgb(58, 110, 165),  winRgb(10, 36, 106),   winRgb(128, 128, 128),
      winRgb(212, 208, 200), winRgb(255, 255, 255), winRgb(0, 0, 0),       winRgb(0, 0, 0),
      winRgb(0, 0, 0),       winRgb(255, 255, 255), winRgb(212, 208, 200), winRgb(212, 208, 200),
      winRgb(128, 128, 128), winRgb(10, 36, 106),   winRgb(255, 255, 255), winRgb(212, 208, 200),
      winRgb(128, 128, 128), winRgb(128, 128, 128), winRgb(0, 0, 0),       winRgb(212, 208, 200),
      winRgb(255, 255, 255), winRgb(64, 64, 64),    winRgb(212, 208, 200), winRgb(0, 0, 0),
      winRgb(255, 255, 225)};
  if (index < 0 || index >= static_cast<int>(std::size(kClassic))) return QColor(0, 0, 0);
  const WinColor c = kClassic[index];
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

}  // namespace

QColor systemColor(int index) {
  const auto role = paletteRole(index);
  if (index == COLOR_MENU && qobject_cast<QApplication*>(QCoreApplication::instance()))
    return QApplication::palette("QMenu").color(QPalette::Active, QPalette::Window);
  if (role && QGuiApplication::instance() != nullptr) {
    return QGuiApplication::palette().color(QPalette::Active, *role);
  }
  return classicColor(index);
}

QColor colorFromWinColor(WinColor color) {
  if (isSystemColor(color)) return systemColor(static_cast<int>(color & 0xFF));
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

WinColor winColorFromQColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return winRgb(rgb.red(), rgb.green(), rgb.blue());
}

}  // namespace qadj
