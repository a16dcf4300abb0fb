#include "qadj/window/fonts.h"

#include <QStringList>

namespace qadj::window {
namespace {

// The designed Windows faces mapped onto free faces of Debian's font packages, by
// Qt's own substitution table (whatever fontconfig would pick for an unknown name):
// a sans whose line is 13 pixels at 8 points at 96 dpi for the window font, a Kai
// (brush) face for 隶书 and a Song/Ming face for 宋体, each followed by a face that
// certainly holds Chinese.
void installSubstitutions() {
  static const bool installed = [] {
    const QString fallback = QStringLiteral("WenQuanYi Zen Hei");
    QFont::insertSubstitutions(
        QStringLiteral("MS Sans Serif"),
        {QStringLiteral("WenQuanYi Micro Hei"), fallback, QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QStringLiteral("隶书"), {QStringLiteral("AR PL UKai CN"), fallback});
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("AR PL UMing CN"), fallback});
    return true;
  }();
  (void)installed;
}

QFont designed(const QString& face, int points) {
  installSubstitutions();
  QFont f(face);
  f.setPointSize(points);
  return f;
}

}  // namespace

QFont windowFont() {
  return designed(QStringLiteral("MS Sans Serif"), 8);
}

QFont titleFont() {
  QFont f = designed(QStringLiteral("隶书"), 20);
  f.setBold(true);
  return f;
}

QFont songtiFont(int points) {
  // A Song face at 12 and 13 pixels reads black and crisp on the designed platform
  // (its strokes are one pixel, drawn from bitmaps); smoothed, the free Ming outline
  // is grey and thin at these sizes. Drawn unsmoothed and fully hinted it is black.
  QFont f = designed(QStringLiteral("宋体"), points);
  f.setStyleStrategy(QFont::NoAntialias);
  f.setHintingPreference(QFont::PreferFullHinting);
  return f;
}

}  // namespace qadj::window
