#include "qadj/controls/system_colours.h"

#include "qadj/widgets/color.h"

namespace qadj {

SystemColours systemColours() {
  return {systemColor(COLOR_BTNFACE), systemColor(COLOR_BTNHIGHLIGHT), systemColor(COLOR_BTNSHADOW),
          systemColor(COLOR_WINDOW), systemColor(COLOR_MENU)};
}

}  // namespace qadj
