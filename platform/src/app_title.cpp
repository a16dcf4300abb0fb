// The application title from the host executable's file name.
#include "qadj/platform/app_title.h"

#include <unistd.h>

#include <array>

#include "qadj/platform/text.h"

namespace qadj {

std::string applicationTitleFromPath(std::string_view gbkPath) {
  std::string_view name = gbkPath.substr(0, std::min<std::size_t>(gbkPath.size(), 255));
  // Only whole characters count when looking for separators: a GBK trail byte
  // may equal '\' (0x5C).
  std::size_t afterSeparator = 0;
  for (std::size_t i = 0; i < name.size(); i += text::gbkCharLength(name, i)) {
    if (name[i] == '\\' || name[i] == '/') afterSeparator = i + 1;
  }
  name.remove_prefix(afterSeparator);
  for (std::size_t i = 0; i < name.size(); i += text::gbkCharLength(name, i)) {
    if (name[i] == '.') {
      name = name.substr(0, i);
      break;
    }
  }
  std::string title(name);
  if (title.empty()) return title;
  for (std::size_t i = text::gbkCharLength(title, 0); i < title.size();) {
    const std::size_t len = text::gbkCharLength(title, i);
    if (len == 1 && title[i] >= 'A' && title[i] <= 'Z') title[i] = static_cast<char>(title[i] + 32);
    i += len;
  }
  return title;
}

const std::string& applicationTitle() {
  static const std::string title = [] {
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return std::string();
    return applicationTitleFromPath(text::utf8ToGbkLossy(std::string_view(buffer.data(), n)));
  }();
  return title;
}

}  // namespace qadj
