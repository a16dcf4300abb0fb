// The plug-in's entry point as C++: the process-wide values and one showing of the
// quota-adjustment window.
#pragma once

#include <QtGlobal>
#include <functional>

#include "qadj/window/plugin_context.h"

namespace qadj::window {
class Tmain;
}

namespace qadj::plugin {

// The process-wide values; empty at load, kept from one showing to the next.
PluginContext& pluginContext();

// One call of the entry point: stores the host's window as the application owner,
// copies the server host and operator code (null pointers read as empty texts),
// creates the window, applies the settings of kind "A", shows it modally and frees
// it. Errors raised while the window is shown are reported inside the modal
// showing; any other error frees the window and propagates to the caller.
//
// beforeShow, when given, runs after the settings are applied and before the modal
// showing (tests use it to drive the window or to fail outside the modal loop).
using BeforeShow = std::function<void(window::Tmain&)>;
void showWindow(quintptr hostWindow, const char* operatorCode, const char* serverHost,
                const BeforeShow& beforeShow = {});

}  // namespace qadj::plugin
