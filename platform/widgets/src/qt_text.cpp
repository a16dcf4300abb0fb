#include "qadj/widgets/qt_text.h"

#include "qadj/platform/text.h"

namespace qadj::text {

QString gbkToQString(std::string_view gbk) {
  return QString::fromStdString(gbkToUtf8Lossy(gbk));
}

}  // namespace qadj::text
