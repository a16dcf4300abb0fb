// Waiting on a condition with a deadline, instead of sleeping for a guessed time.
#pragma once

#include <chrono>
#include <functional>

namespace qadj::testing {

// Polls condition until it holds (true) or the deadline passes (false).
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds deadline = std::chrono::seconds(30));

}  // namespace qadj::testing
