// The application title: the caption of the error box, built from the file name
// of the host's executable.
#pragma once

#include <string>
#include <string_view>

#include "qadj/platform/export.h"

namespace qadj {

// The title rule on a GBK path: at most its first 255 bytes; everything up to and
// including the last '\' or '/' dropped; the rest cut at its first '.'; every
// character after the first lower-cased (ASCII letters only; double-byte GBK
// characters are kept). "C:\Prog\HOSTAPP.EXE" gives "Hostapp".
QADJ_PLATFORM_API std::string applicationTitleFromPath(std::string_view gbkPath);

// The title of this process, from /proc/self/exe (the host's executable, not the
// plug-in); the path is converted to GBK (unconvertible characters become '?').
// Computed at the first call and fixed afterwards. Empty when the executable's
// path cannot be read.
QADJ_PLATFORM_API const std::string& applicationTitle();

}  // namespace qadj
