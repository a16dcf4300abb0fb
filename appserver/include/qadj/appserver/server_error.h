// A request the application server refuses.
#pragma once

#include <stdexcept>

namespace qadj::appserver {

// what() is the UTF-8 description the caller sees.
class ServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qadj::appserver
