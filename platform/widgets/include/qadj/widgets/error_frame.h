// The error frame around event delivery to the plug-in's windows: every event
// handler of the plug-in's widgets runs inside guarded(), so that no exception ever
// escapes into Qt's event loop. A caught error is handed to the process-wide
// reporter, which the plug-in installs (it shows the error box).
#pragma once

#include <exception>
#include <functional>
#include <type_traits>

#include "qadj/platform/export.h"

namespace qadj {

using ErrorReporter = std::function<void(std::exception_ptr)>;

// Installs the reporter; returns the previous one. Without a reporter caught errors
// are written to stderr.
QADJ_PLATFORM_API ErrorReporter setErrorReporter(ErrorReporter reporter);

// Hands a caught error to the reporter (which must not throw; anything it throws is
// swallowed). First ends the gesture in progress: open drop-down lists and calendars
// close, the mouse grab is released, and every widget gets the cancel-mode event, on
// which a control leaves its pressed, sizing or dragging state.
QADJ_PLATFORM_API void reportError(std::exception_ptr error) noexcept;

// The type of the cancel-mode event (registered once): a control that tracks a mouse
// gesture ends it, as if the button had been released outside, without acting on it.
QADJ_PLATFORM_API int cancelModeEventType();

// Runs fn inside the error frame. Returns fn's result, or fallback when it threw.
template <class F, class R = std::invoke_result_t<F>>
R guarded(F&& fn, R fallback = R{}) noexcept requires(!std::is_void_v<R>) {
  try {
    return std::forward<F>(fn)();
  } catch (...) {
    reportError(std::current_exception());
    return fallback;
  }
}

template <class F>
void guarded(F&& fn) noexcept requires std::is_void_v<std::invoke_result_t<F>> {
  try {
    std::forward<F>(fn)();
  } catch (...) {
    reportError(std::current_exception());
  }
}

}  // namespace qadj
