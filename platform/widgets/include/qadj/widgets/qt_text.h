// GBK text (the plug-in's own) as Qt shows it.
#pragma once

#include <QString>
#include <string_view>

#include "qadj/platform/export.h"

namespace qadj::text {

// The QString of GBK bytes; a bad or cut character shows as '?' and never throws.
QADJ_PLATFORM_API QString gbkToQString(std::string_view gbk);

}  // namespace qadj::text
