// How an error caught in the window's event handling reaches the operator: one
// modal error box, captioned with the application title.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace qadj::plugin {

// The box's text: the message, with "." appended when its last character (a GBK
// double-byte character counts as one) sorts after "." by byte values.
std::string errorBoxText(std::string_view gbkMessage);

// Shows the error box for a caught error (stop icon, OK, owned by the host's
// window, caption = application title). An abort shows nothing. Never throws.
void showErrorBox(std::exception_ptr error) noexcept;

// Installs showErrorBox as the process-wide reporter of the error frame.
void installErrorReporter();

}  // namespace qadj::plugin
