// Symbol visibility of the platform layer, a shared library used by host, plug-in
// and application server alike.
#pragma once

#if defined(QADJ_PLATFORM_BUILD)
#define QADJ_PLATFORM_API __attribute__((visibility("default")))
#else
#define QADJ_PLATFORM_API __attribute__((visibility("default")))
#endif
