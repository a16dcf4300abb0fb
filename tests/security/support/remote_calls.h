// Calls on the application server object as a host makes them, for the access tests.
#pragma once

#include <grpcpp/grpcpp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "qadj/com/com.h"
#include "qadj/proto/remote.grpc.pb.h"
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

// Creates "KorvantaServer.CoStoreProduct" on host and returns its automation
// interface, or null with *hr (if given) telling why: the creation's result, or
// E_NOINTERFACE. The caller owns the one reference returned.
std::shared_ptr<com::IDispatch> createServerOn(const std::string& host, com::HRESULT* hr = nullptr);

// Fetches sqlText through the automation interface of a server object.
CallOutcome fetchOn(com::IDispatch& server, const std::u16string& sqlText);
// Executes sqlText (ExecuteCommand) through the automation interface.
CallOutcome executeOn(com::IDispatch& server, const std::u16string& sqlText);

// Creates "KorvantaServer.CoStoreProduct" on host and fetches sqlText through its
// automation interface. The object is released before returning.
CallOutcome createAndFetch(const std::string& host, const std::u16string& sqlText);

// The object service spoken directly, as a client that writes its own requests would.
class RawClient {
 public:
  // A channel to host without TLS; every call carries token ("" sends none).
  RawClient(const std::string& host, std::string token);
  // Adds the token to a call's context.
  void authorize(grpc::ClientContext& ctx) const;
  // Activate of the server object's automation interface for client: the reply's hr,
  // or the status code negated when the call itself failed; *id gets the object id.
  long activate(const std::string& client, std::uint64_t* id = nullptr);
  // QueryInterface(IDispatch) of object id for client: the call's status code.
  grpc::StatusCode queryInterface(const std::string& client, std::uint64_t id);
  wire::ObjectService::Stub& stub() { return *stub_; }

 private:
  std::string token_;
  std::unique_ptr<wire::ObjectService::Stub> stub_;
};

}  // namespace qadj::testing
