#include "qadj/testing/wait_until.h"

#include <thread>

namespace qadj::testing {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace qadj::testing
