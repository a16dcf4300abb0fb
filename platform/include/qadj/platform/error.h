// Exceptions raised inside the plug-in. Messages are GBK byte strings, exactly the
// texts the operator sees (before the error box adds its period).
#pragma once

#include <stdexcept>
#include <string>

#include "qadj/platform/export.h"

namespace qadj {

// Base of every error the plug-in raises. what() returns the GBK message.
class QADJ_PLATFORM_API Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& gbkMessage) : std::runtime_error(gbkMessage) {}
  std::string message() const { return what(); }
};

// The silent kind: ends the current operation, the error frame shows nothing.
class QADJ_PLATFORM_API EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// A failure of a data set or its fields (texts such as "Field '%s' not found").
class QADJ_PLATFORM_API EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// Text that cannot be converted to a number or date.
class QADJ_PLATFORM_API EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A failure of the object runtime or a remote call, with its failure code.
class QADJ_PLATFORM_API EOleError : public Exception {
 public:
  EOleError(const std::string& gbkMessage, int code) : Exception(gbkMessage), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

// A failure that a server object described (the description is the message).
class QADJ_PLATFORM_API EOleException : public EOleError {
 public:
  using EOleError::EOleError;
};

}  // namespace qadj
