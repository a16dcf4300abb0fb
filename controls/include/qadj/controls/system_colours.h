// The desktop's named colours as the flat controls use them, read from the
// application's palette at the moment of the call.
#pragma once

#include <QColor>

namespace qadj {

struct SystemColours {
  QColor buttonFace;  // face of three-dimensional controls (QPalette::Button)
  QColor highlight;   // light edge of three-dimensional controls (QPalette::Light)
  QColor shadow;      // dark edge of three-dimensional controls (QPalette::Dark)
  QColor window;      // background of edit fields and lists (QPalette::Base)
  QColor menu;        // menu background (the palette of QMenu, Window role)
};

// Returns the current colours. Needs a QApplication.
SystemColours systemColours();

}  // namespace qadj
