// A client in a process of its own, for tests that kill it in the middle of a call:
//   security_remote_call HOST SQL
// creates the server object on HOST, prints "calling", runs SQL with ExecuteCommand
// and prints the outcome ("hr=0x... DESCRIPTION"). The environment sets the client up
// (QADJ_CLIENT_DIR, QADJ_TOKEN) as for the window.
#include <cstdio>
#include <string>

#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/appserver.h"
#include "qadj/testing/com_scope.h"
#include "support/remote_calls.h"

int main(int argc, char** argv) {
  using namespace qadj;
  if (argc != 3) {
    std::fprintf(stderr, "usage: security_remote_call HOST SQL\n");
    return 2;
  }
  const testing::ComScope comScope;
  com::HRESULT hr = com::S_OK;
  const auto server = testing::createServerOn(argv[1], &hr);
  if (!server) {
    std::printf("hr=0x%08x cannot create the server object\n", static_cast<unsigned>(hr));
    return 1;
  }
  std::printf("calling\n");
  std::fflush(stdout);
  const auto out = testing::executeOn(*server, text::utf8ToUtf16(argv[2]));
  std::printf("hr=0x%08x %s\n", static_cast<unsigned>(out.hr), out.description.c_str());
  return 0;
}
