// The window's fonts. The designed faces are Windows fonts; each is substituted by
// the nearest free face of Debian's font packages (fonts-wqy-microhei,
// fonts-arphic-ukai, fonts-arphic-uming), then by one that holds Chinese text, so
// captions never render as boxes.
#pragma once

#include <QFont>

namespace qadj::window {

// "MS Sans Serif", 8 points: the window's font, taken by every control without its own.
QFont windowFont();
// "隶书", 20 points, bold: the title panel.
QFont titleFont();
// "宋体" at the given size: the date label (9) and the date picker (10).
QFont songtiFont(int points);

}  // namespace qadj::window
