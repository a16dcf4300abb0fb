// The server's reading of the window's statements: a text is accepted only when it is
// exactly what the window's own builder writes for the values read from it, so no
// text of another shape can pass; and what is accepted as a block is one run of
// increments closed by a decrement.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "qadj/protocol/statements.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qadj::statements;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const auto query = matchQuery(text)) {
    FUZZ_CHECK(build(*query.value) == text);
    FUZZ_CHECK(query.value->kind != Kind::Increment && query.value->kind != Kind::Decrement);
  } else {
    FUZZ_CHECK(!query.refusal.empty());
  }
  if (const auto command = matchCommand(text)) {
    FUZZ_CHECK(build(*command.value) == text);
    const auto& statements = command.value->statements;
    FUZZ_CHECK(!statements.empty() && (command.value->block || statements.size() == 1));
    for (std::size_t i = 0; i + 1 < statements.size(); ++i)
      FUZZ_CHECK(statements[i].kind == Kind::Increment);
    FUZZ_CHECK(!command.value->block || statements.back().kind == Kind::Decrement);
  } else {
    FUZZ_CHECK(!command.refusal.empty());
  }
  // The log's shape of any text shows no quoted value.
  const std::string shape = shapeOf(text);
  FUZZ_CHECK(shape.size() <= text.size() + 1);
  return 0;
}
