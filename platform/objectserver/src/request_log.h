// The request log's lines: what a client sent made printable, so that nothing it sends
// can forge a line of its own or act as its id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qadj/com/com.h"

namespace qadj::com::detail {

// A client id as the log shows it: its first 8 characters, enough to follow one client
// through the log but not to act as it (a client's id is its credential for its
// objects), and nothing that could start a line of its own.
std::string printable(const std::string& client);

// A field of a log line whose value came from a client: name=value when the value is
// a plain word, else name="value" with " and \ escaped. Control characters (a line
// break would forge a line of its own) read as ?, and the value is cut after
// maxChars characters (a cut one ends in "...").
std::string logField(const char* name, std::string_view value, std::size_t maxChars);

// What one request did, for its log line.
struct RequestOutcome {
  const char* op;  // the service's method, when the object's code named no other
  const std::string& client;
  std::uint64_t objectId;
  const RequestFacts& facts;
  std::size_t replyBytes;
  HRESULT hr;
  const std::u16string& error;  // the description of a failure, or empty
  double ms;                    // the time taken
};

// The line of one request: who, what ran (the member, the provider, the statement),
// what came back (rows, bytes of the reply), the outcome and how long it took.
std::string requestLine(const RequestOutcome& r);

}  // namespace qadj::com::detail
