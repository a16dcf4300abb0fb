// Windows file names on Linux. A drive letter stands for a directory: the
// environment variable QADJ_DRIVE_<LETTER> (for example QADJ_DRIVE_C) names it;
// without it, drive x: is $XDG_CONFIG_HOME/qadj_vsd/x (or $HOME/.config/qadj_vsd/x);
// without a folder of the user's (neither of these set to an absolute path) drives
// stand for no folder, and names on them for no file.
#pragma once

#include <string>
#include <string_view>

#include "qadj/platform/export.h"

namespace qadj {

// The host's settings file, as the plug-in names it.
inline constexpr std::string_view kSettingsFileName = "c:\\mis_system.ini";

// The directory that stands for drive letter (either case). Read from the
// environment at every call; empty when the drive stands for no folder. Throws
// std::invalid_argument for a non-letter.
QADJ_PLATFORM_API std::string driveDirectory(char letter);

// Maps a Windows file name to a Linux path:
// - "x:\dir\file" or "x:/dir/file": below driveDirectory(x); "." and ".." are
//   resolved within the drive and never climb above its directory;
// - "\dir\file" (no drive): on drive c:;
// - a name without any directory ("file.ini"): in the Windows directory,
//   c:\windows, as the Windows profile functions look there;
// - a name that already is an absolute Linux path ("/tmp/a.ini") is kept;
// - other relative names ("dir\file") are taken relative to the working directory;
// - a name on a drive that stands for no folder maps to the empty path.
// Each component that does not exist with its exact case is looked up without
// regard to ASCII case (Windows names are case-insensitive), so "MIS_SYSTEM.INI"
// is found for "mis_system.ini". Never throws except std::bad_alloc.
QADJ_PLATFORM_API std::string mapWindowsPath(std::string_view windowsPath);

}  // namespace qadj
