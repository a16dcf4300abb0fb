// What a data set needs of its connection: the server's record-set interface, and
// notice when the connection connects or disconnects.
#pragma once

#include <memory>
#include <vector>

#include "qadj/protocol/appserver.h"

namespace qadj {

class IRemoteServerClient {
 public:
  virtual ~IRemoteServerClient() = default;
  // The connection connected (true) or disconnected (false). A disconnect makes the
  // client drop the record-set interface it holds.
  virtual void ConnectChange(bool connected) = 0;
};

class TCustomRemoteServer {
 public:
  virtual ~TCustomRemoteServer() = default;
  // Connects when needed and returns the server's record-set interface (never null).
  // Throws qadj::Exception with the system's text when connecting fails.
  virtual std::shared_ptr<IAppServer> GetRecordSetInterface() = 0;
  // A call on the record-set interface failed with hr (its error information already
  // taken). A connection that can tell that the server object is gone drops it here,
  // so that the next request connects afresh. Nothing by default.
  virtual void CallFailed(com::HRESULT hr) { (void)hr; }

  // Data sets register themselves for connect changes; they are not owned.
  void RegisterClient(IRemoteServerClient* client) { clients_.push_back(client); }
  void UnregisterClient(IRemoteServerClient* client) { std::erase(clients_, client); }

 protected:
  void NotifyConnectChange(bool connected) {
    const auto copy = clients_;
    for (auto* c : copy) c->ConnectChange(connected);
  }

 private:
  std::vector<IRemoteServerClient*> clients_;
};

}  // namespace qadj
