// The desktop's named colours as the flat controls use them: the system colours of
// qadj/widgets/color.h at the moment of the call.
#pragma once

#include <QColor>

namespace qadj {

struct SystemColours {
  QColor buttonFace;  // face of three-dimensional controls (COLOR_BTNFACE)
  QColor highlight;   // light edge of three-dimensional controls (COLOR_BTNHIGHLIGHT)
  QColor shadow;      // dark edge of three-dimensional controls (COLOR_BTNSHADOW)
  QColor window;      // background of edit fields and lists (COLOR_WINDOW)
  QColor menu;        // menu background (COLOR_MENU)
};

// Returns the current colours. Needs a QApplication.
SystemColours systemColours();

}  // namespace qadj
