// The client's environment and the object service spoken directly, for the access
// tests; the calls a host makes are those of qadj/testing/store_calls.h.
#pragma once

#include <grpcpp/grpcpp.h>

#include <cstdint>
#include <memory>
#include <string>

#include "qadj/com/com.h"
#include "qadj/proto/remote.grpc.pb.h"
#include "qadj/testing/scoped_env.h"
#include "qadj/testing/store_calls.h"

namespace qadj::testing {

// Environment of one client set-up: QADJ_CLIENT_DIR, QADJ_TOKEN and QADJ_TLS_CA as
// given (empty: unset); restores the previous values when it goes.
class ClientEnv {
 public:
  ClientEnv(const std::string& clientDir, const std::string& token, const std::string& caFile);

 private:
  ScopedEnv dir_, token_, ca_;
};

// The object service spoken directly, as a client that writes its own requests would.
class RawClient {
 public:
  // A channel to host without TLS, on a connection of its own; every call carries
  // token ("" sends none).
  RawClient(const std::string& host, std::string token);
  // Adds the token to a call's context.
  void authorize(grpc::ClientContext& ctx) const;
  // The request of activate(client), as the wire carries it.
  static wire::ActivateRequest activateRequest(const std::string& client);
  // Activate of the server object's automation interface for client: the reply's hr,
  // or the status code negated when the call itself failed; *id gets the object id.
  long activate(const std::string& client, std::uint64_t* id = nullptr);
  // QueryInterface(IDispatch) of object id for client: the call's status code.
  grpc::StatusCode queryInterface(const std::string& client, std::uint64_t id);
  // The window's FetchRecords of sqlText (UTF-16) on object id of client, as the wire
  // carries it.
  static wire::InvokeRequest fetchRequest(const std::string& client, std::uint64_t id,
                                          const std::u16string& sqlText);
  // Sends fetchRequest: the reply's hr, or the status code negated when the call itself
  // failed; *excepScode gets the error information's code (0 when none).
  long fetch(const std::string& client, std::uint64_t id, const std::u16string& sqlText,
             long* excepScode = nullptr);
  wire::ObjectService::Stub& stub() { return *stub_; }

 private:
  std::string token_;
  std::unique_ptr<wire::ObjectService::Stub> stub_;
};

}  // namespace qadj::testing
