// Small scope guards used by the grid's sources.
#pragma once

namespace qadj::grid {

// Sets a flag for the lifetime of the guard and restores its old value.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = old_; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace qadj::grid
