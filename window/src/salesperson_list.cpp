#include "qadj/window/salesperson_list.h"

namespace qadj::window {

std::string salespersonCodeOf(std::string_view gbkText) {
  return std::string(gbkText.substr(0, 4));
}

std::string salespersonEntry(std::string_view code, std::string_view name) {
  std::string s(code);
  s += " | ";
  s += name;
  return s;
}

}  // namespace qadj::window
