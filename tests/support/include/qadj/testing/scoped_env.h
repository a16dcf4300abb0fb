// An environment variable set (or removed) for the lifetime of the guard, and put
// back as it was when the guard goes.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace qadj::testing {

class ScopedEnv {
 public:
  // Sets name to value; std::nullopt removes it. name must outlive the guard.
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    set(value);
  }
  ~ScopedEnv() { set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  // Changes the value while the guard holds it; std::nullopt removes it.
  void set(const std::optional<std::string>& value) {
    if (value)
      ::setenv(name_, value->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace qadj::testing
