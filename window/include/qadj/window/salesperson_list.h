// The entries of the salesperson list RYMC and the code every handler takes from its
// text. Texts are GBK.
#pragma once

#include <string>
#include <string_view>

namespace qadj::window {

// The first four bytes of a text (fewer when it is shorter): the salesperson code
// that every handler takes from the salesperson list's text.
std::string salespersonCodeOf(std::string_view gbkText);
// An entry of the salesperson list: code, " | ", name.
std::string salespersonEntry(std::string_view code, std::string_view name);

}  // namespace qadj::window
