// Calls on the application server object as a host makes them, for the access tests.
#pragma once

#include <memory>
#include <string>

#include "qadj/com/com.h"
#include "qadj/protocol/packet.h"

namespace qadj::testing {

// Environment of one client set-up: QADJ_CLIENT_DIR, QADJ_TOKEN and QADJ_TLS_CA as
// given (empty: unset); restores the previous values when it goes.
class ClientEnv {
 public:
  ClientEnv(const std::string& clientDir, const std::string& token, const std::string& caFile);
  ~ClientEnv();
  ClientEnv(const ClientEnv&) = delete;
  ClientEnv& operator=(const ClientEnv&) = delete;

 private:
  struct Saved {
    const char* name;
    bool had;
    std::string value;
  };
  Saved saved_[3];
};

// The outcome of creating the server object on host and running one query on it.
struct CallOutcome {
  com::HRESULT hr = com::S_OK;  // of the creation, else of the query
  std::string description;      // the error information's text (UTF-8), if any
  std::size_t rows = 0;         // rows the query returned
  packet::Packet packet;        // the query's packet
};

// Fetches sqlText through the automation interface of a server object.
CallOutcome fetchOn(com::IDispatch& server, const std::u16string& sqlText);
// Executes sqlText (ExecuteCommand) through the automation interface.
CallOutcome executeOn(com::IDispatch& server, const std::u16string& sqlText);

// Creates "KorvantaServer.CoStoreProduct" on host and fetches sqlText through its
// automation interface. The object is released before returning.
CallOutcome createAndFetch(const std::string& host, const std::u16string& sqlText);

}  // namespace qadj::testing
