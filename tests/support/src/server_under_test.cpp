#include "qadj/testing/server_under_test.h"

#include <cassert>

namespace qadj::testing {

std::string setupName(const ::testing::TestParamInfo<Setup>& info) {
  const char* transport = info.param.transport == Transport::InProcess ? "InProcess"
                          : info.param.transport == Transport::Grpc    ? "Grpc"
                                                                       : "Daemon";
  return std::string(transport) + "_" + info.param.dialect;
}

std::vector<Setup> setupsOver(std::vector<Transport> transports) {
  std::vector<Setup> out;
  for (const char* dialect : {"sqlite", "postgresql"})
    for (Transport t : transports) out.push_back({t, dialect});
  return out;
}

ServerUnderTest::ServerUnderTest(Transport transport, com::RemoteServerOptions options)
    : transport_(transport) {
  if (transport_ != Transport::Grpc) return;
  options.listen = "127.0.0.1:0";
  remote_ = std::make_unique<com::RemoteObjectServer>(options);
}

ServerUnderTest::~ServerUnderTest() {
  if (remote_) remote_->shutdown();
  daemon_.reset();
  for (const com::Guid& clsid : inProcess_) com::CoRevokeClass(clsid);
}

void ServerUnderTest::registerClass(const com::Guid& clsid, const std::string& progId,
                                    com::ClassFactory factory) {
  assert(transport_ != Transport::Daemon);
  if (remote_) {
    remote_->registerClass(clsid, progId, std::move(factory));
    return;
  }
  com::CoRegisterClass(clsid, progId, std::move(factory));
  inProcess_.push_back(clsid);
}

bool ServerUnderTest::start(const std::vector<std::string>& daemonArgs, const std::string& logDir) {
  if (remote_) {
    remote_->start();
  } else if (transport_ == Transport::Daemon) {
    daemon_ = std::make_unique<DaemonProcess>(daemonArgs, logDir);
    if (!daemon_->start()) {
      error_ = daemon_->error();
      return false;
    }
  }
  return true;
}

int ServerUnderTest::port() const {
  if (remote_) return remote_->port();
  return daemon_ ? daemon_->port() : 0;
}

std::string ServerUnderTest::host() const {
  return transport_ == Transport::InProcess ? std::string() : "127.0.0.1:" + std::to_string(port());
}

com::RemoteObjectServer& ServerUnderTest::remote() {
  assert(remote_);
  return *remote_;
}

DaemonProcess& ServerUnderTest::daemon() {
  assert(daemon_);
  return *daemon_;
}

}  // namespace qadj::testing
