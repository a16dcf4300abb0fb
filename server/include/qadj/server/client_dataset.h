// TClientDataSet: a data set filled in one piece from the application server by
// sending it an SQL text (CommandText), which can also send a text to be executed.
//
// Server calls (FetchRecords, ExecuteCommand) go through the IAppServer interface
// that RemoteServer supplies; the interface is obtained at the first request and held
// until Close (after its reset call) or until the connection disconnects.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qadj/com/com.h"
#include "qadj/platform/error.h"
#include "qadj/server/dataset.h"
#include "qadj/server/remote_server.h"

namespace qadj {

// Parameters sent with each request. Only the empty list is used by this system; it
// travels as a null value.
class TParams {
 public:
  struct Param {
    std::string name;
    com::Variant value;
  };
  int Count() const { return static_cast<int>(items_.size()); }
  bool IsEmpty() const { return items_.empty(); }
  void Clear() { items_.clear(); }
  void Add(std::string name, com::Variant value) {
    items_.push_back({std::move(name), std::move(value)});
  }
  const std::vector<Param>& Items() const { return items_; }

 private:
  std::vector<Param> items_;
};

class TClientDataSet : public TDataSet, public IRemoteServerClient {
 public:
  explicit TClientDataSet(std::string name);
  // Closes without the reset call and unregisters from the connection.
  ~TClientDataSet() override;

  const std::string& ProviderName() const { return providerName_; }
  void SetProviderName(std::string v) { providerName_ = std::move(v); }
  TCustomRemoteServer* RemoteServer() const { return remoteServer_; }
  // Registers with the connection for connect changes (unregisters from the old one).
  // The connection must outlive the data set or be reset to null first.
  void SetRemoteServer(TCustomRemoteServer* server);
  // GBK SQL text sent with the next fetch or execute; storing it has no other effect.
  const std::string& CommandText() const { return commandText_; }
  void SetCommandText(std::string v) { commandText_ = std::move(v); }
  int PacketRecords() const { return packetRecords_; }
  void SetPacketRecords(int v) { packetRecords_ = v; }
  bool FetchOnDemand() const { return fetchOnDemand_; }
  void SetFetchOnDemand(bool v) { fetchOnDemand_ = v; }
  TParams& Params() { return params_; }
  // Set once every record of the result has arrived.
  bool AllFetched() const { return allFetched_; }
  // True while a server interface is held.
  bool HasAppServer() const { return appServer_ != nullptr; }

  // Sends CommandText to be executed, with ownerData as the owner-data argument (empty
  // unless the caller has data of its own for the server, such as a save's id); allowed
  // open or closed; changes neither state nor rows. Throws the connection's or server's
  // error text as qadj::EOleException with the failure code.
  void Execute(const com::Variant& ownerData = {});

  // The owning window is being destroyed: later closes send no reset call.
  void SetOwnerDestroying() { ownerDestroying_ = true; }

  // IRemoteServerClient: a disconnect drops the held server interface.
  void ConnectChange(bool connected) override;

 protected:
  std::unique_ptr<RecordSet> DoOpen() override;
  void DoAfterClose() override;

 private:
  std::shared_ptr<IAppServer> AppServer();
  com::Variant PackageParams() const;
  // Throws the error of a failed server call, after telling the connection.
  [[noreturn]] void failed(com::HRESULT hr);
  void SendReset();

  std::string providerName_;
  TCustomRemoteServer* remoteServer_ = nullptr;
  std::string commandText_;
  int packetRecords_ = -1;
  bool fetchOnDemand_ = true;
  TParams params_;
  bool allFetched_ = false;
  bool ownerDestroying_ = false;
  bool noResetCall_ = false;  // the last packet carried "NO_RESET_CALL"
  std::shared_ptr<IAppServer> appServer_;
};

// Turns a failed IAppServer call into the error the caller raises: the thread's error
// description less trailing blanks, control characters and periods, or without one
// the system's text for hr (com::OleErrorText). Returns an EOleException to throw.
EOleException AppServerError(com::HRESULT hr);

}  // namespace qadj
