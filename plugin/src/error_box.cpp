#include "qadj/plugin/error_box.h"

#include <cstdio>

#include "qadj/platform/app_title.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/widgets/message_box.h"

namespace qadj::plugin {

std::string errorBoxText(std::string_view gbkMessage) {
  std::string text(gbkMessage);
  const std::size_t last = text::gbkLastCharOffset(text);
  if (last == std::string_view::npos) return text;
  // Byte-wise string comparison of the last character with ".".
  if (std::string_view(text).substr(last) > std::string_view(".")) text += '.';
  return text;
}

void showErrorBox(std::exception_ptr error) noexcept {
  try {
    std::string message;
    try {
      std::rethrow_exception(error);
    } catch (const EAbort&) {
      return;
    } catch (const std::exception& e) {
      message = e.what();
    }
    MessageBox(applicationOwner(), errorBoxText(message), applicationTitle(), MB_ICONSTOP | MB_OK);
  } catch (...) {
    std::fputs("qadj_vsd: the error box could not be shown\n", stderr);
  }
}

void installErrorReporter() {
  setErrorReporter(&showErrorBox);
}

}  // namespace qadj::plugin
