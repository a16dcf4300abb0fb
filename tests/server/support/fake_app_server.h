// An application server and connection stand-in for the data-set tests: answers
// FetchRecords from scripted results, records every call, and can fail on demand.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qadj/com/com.h"
#include "qadj/protocol/appserver.h"
#include "qadj/protocol/packet.h"
#include "qadj/server/remote_server.h"
#include "qadj/testing/app_server_stub.h"
#include "qadj/testing/window_packets.h"

namespace qadj::dstest {

// One call the fake received.
struct AppServerCall {
  enum Kind { Fetch, Execute } kind;
  std::u16string provider;
  std::int32_t count = 0;
  std::int32_t options = 0;
  std::u16string commandText;
  com::Variant params;
};

class FakeAppServer : public testing::AppServerStub {
 public:
  // Fetch (options 1): the scripted result of the command text, else defaultResult;
  // recsOut = rowsSent. Reset (options 2): returns an empty result.
  com::HRESULT FetchRecords(const std::u16string& provider, std::int32_t count,
                            std::int32_t& recsOut, std::int32_t options,
                            const std::u16string& commandText, com::Variant& params,
                            com::Variant& ownerData, com::Variant& result) override;
  com::HRESULT ExecuteCommand(const std::u16string& provider, const std::u16string& commandText,
                              com::Variant& params, com::Variant& ownerData) override;

  // Scripted results, by GBK command text.
  void setResult(const std::string& commandText, const packet::Packet& p);
  void setRawResult(const std::string& commandText, com::Variant v);
  // Makes the next calls fail with hr and (when not empty) a description.
  void failWith(com::HRESULT hr, std::u16string description = {}) {
    failHr_ = hr;
    failDescription_ = std::move(description);
  }
  void succeed() { failHr_ = com::S_OK; }

  std::vector<AppServerCall> calls;
  std::int32_t rowsSent = -1;  // recsOut of a fetch; -1 = the packet's row count

  int fetches() const;
  int resets() const;
  int executes() const;

 private:
  std::map<std::u16string, com::Variant> results_;
  com::HRESULT failHr_ = com::S_OK;
  std::u16string failDescription_;
};

// A connection that hands out one FakeAppServer.
class FakeRemoteServer : public TCustomRemoteServer {
 public:
  FakeRemoteServer() : appServer(std::make_shared<FakeAppServer>()) {}
  std::shared_ptr<IAppServer> GetRecordSetInterface() override;

  // Tells the registered data sets (as a real connection does).
  void connect() { NotifyConnectChange(true); }
  void disconnect() { NotifyConnectChange(false); }

  std::shared_ptr<FakeAppServer> appServer;
  int interfaceRequests = 0;
  // When set, GetRecordSetInterface throws qadj::Exception with this text.
  std::optional<std::string> connectFailure;
};

using testing::column;
using testing::floatColumn;
using testing::textColumn;

// The product query's and the detail query's packets with `rows` generated rows.
packet::Packet productPacket(int rows);
packet::Packet detailPacket(int rows);

}  // namespace qadj::dstest
