#include "support/remote_calls.h"

#include <cstdlib>

#include "qadj/protocol/appserver.h"

namespace qadj::testing {

namespace {

void setOrUnset(const char* name, const std::string& value) {
  if (value.empty())
    ::unsetenv(name);
  else
    ::setenv(name, value.c_str(), 1);
}

}  // namespace

ClientEnv::ClientEnv(const std::string& clientDir, const std::string& token,
                     const std::string& caFile)
    : saved_{
          {"QADJ_CLIENT_DIR", false, {}}, {"QADJ_TOKEN", false, {}}, {"QADJ_TLS_CA", false, {}}} {
  for (auto& s : saved_) {
    const char* v = std::getenv(s.name);
    s.had = v != nullptr;
    if (v) s.value = v;
  }
  setOrUnset("QADJ_CLIENT_DIR", clientDir);
  setOrUnset("QADJ_TOKEN", token);
  setOrUnset("QADJ_TLS_CA", caFile);
}

ClientEnv::~ClientEnv() {
  for (const auto& s : saved_) {
    if (s.had)
      ::setenv(s.name, s.value.c_str(), 1);
    else
      ::unsetenv(s.name);
  }
}

namespace {

std::string guidBytes(const com::Guid& id) {
  return std::string(reinterpret_cast<const char*>(id.bytes.data()), id.bytes.size());
}

}  // namespace

RawClient::RawClient(const std::string& host, std::string token)
    : token_(std::move(token)),
      stub_(wire::ObjectService::NewStub(
          grpc::CreateChannel(host, grpc::InsecureChannelCredentials()))) {}

void RawClient::authorize(grpc::ClientContext& ctx) const {
  if (!token_.empty()) ctx.AddMetadata("x-qadj-token", token_);
}

long RawClient::activate(const std::string& client, std::uint64_t* id) {
  grpc::ClientContext ctx;
  authorize(ctx);
  wire::ActivateRequest req;
  req.set_client_id(client);
  req.set_clsid(guidBytes(CLSID_CoStoreProduct));
  req.set_iid(guidBytes(com::IID_IDispatch));
  wire::ActivateReply rep;
  const auto status = stub_->Activate(&ctx, req, &rep);
  if (!status.ok()) return -static_cast<long>(status.error_code());
  if (id) *id = rep.object_id();
  return rep.hr();
}

grpc::StatusCode RawClient::queryInterface(const std::string& client, std::uint64_t id) {
  grpc::ClientContext ctx;
  authorize(ctx);
  wire::QueryInterfaceRequest req;
  req.set_client_id(client);
  req.set_object_id(id);
  req.set_iid(guidBytes(com::IID_IDispatch));
  wire::QueryInterfaceReply rep;
  return stub_->QueryInterface(&ctx, req, &rep).error_code();
}

}  // namespace qadj::testing
