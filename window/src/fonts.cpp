#include "qadj/window/fonts.h"

#include <QStringList>

namespace qadj::window {
namespace {

QFont withFallbacks(const QString& face, int points) {
  QFont f;
  f.setFamilies({face, QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("DejaVu Sans")});
  f.setPointSize(points);
  return f;
}

}  // namespace

QFont windowFont() {
  return withFallbacks(QStringLiteral("MS Sans Serif"), 8);
}

QFont titleFont() {
  QFont f = withFallbacks(QStringLiteral("隶书"), 20);
  f.setBold(true);
  return f;
}

QFont songtiFont(int points) {
  return withFallbacks(QStringLiteral("宋体"), points);
}

}  // namespace qadj::window
