// A request the application server refuses.
#pragma once

#include <stdexcept>

namespace qadj::appserver {

// what() is the UTF-8 description the caller sees.
class ServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A save that would give more of a salesperson's quota than is left to give; what()
// is the window's own text for it.
class OverLimit : public ServerError {
 public:
  using ServerError::ServerError;
};

}  // namespace qadj::appserver
