#include "qadj/controls/system_colours.h"

#include <QApplication>
#include <QPalette>

namespace qadj {

SystemColours systemColours() {
  const QPalette palette = QApplication::palette();
  return {palette.color(QPalette::Button), palette.color(QPalette::Light),
          palette.color(QPalette::Dark), palette.color(QPalette::Base),
          QApplication::palette("QMenu").color(QPalette::Window)};
}

}  // namespace qadj
