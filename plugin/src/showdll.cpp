// The one symbol the plug-in exports.
#include <cstdint>
#include <cstdio>
#include <exception>

#include "qadj/plugin/entry.h"

// Six pointer-sized arguments: host window, (ignored), operator code, (ignored),
// (ignored), server host. Returns when the window has closed. An error outside the
// window's event handling cannot cross this C boundary: it is written to stderr as
// one line "qadj_vsd: <message>" and the call returns.
extern "C" __attribute__((visibility("default"))) void showdll(
    std::intptr_t hostWindow, std::intptr_t /*unused2*/, std::intptr_t operatorCode,
    std::intptr_t /*unused4*/, std::intptr_t /*unused5*/, std::intptr_t serverHost) {
  try {
    qadj::plugin::showWindow(static_cast<quintptr>(hostWindow),
                             reinterpret_cast<const char*>(operatorCode),
                             reinterpret_cast<const char*>(serverHost));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qadj_vsd: %s\n", e.what());
  } catch (...) {
    std::fputs("qadj_vsd: unknown error\n", stderr);
  }
}
