#include "support/remote_calls.h"

#include <cstdlib>

#include "qadj/protocol/appserver.h"

namespace qadj::testing {

namespace {

std::optional<std::string> unlessEmpty(const std::string& value) {
  return value.empty() ? std::nullopt : std::optional<std::string>(value);
}

std::string guidBytes(const com::Guid& id) {
  return std::string(reinterpret_cast<const char*>(id.bytes.data()), id.bytes.size());
}

// A channel with a connection of its own (gRPC shares one between channels alike).
std::shared_ptr<grpc::Channel> ownChannel(const std::string& host) {
  grpc::ChannelArguments args;
  args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
  return grpc::CreateCustomChannel(host, grpc::InsecureChannelCredentials(), args);
}

}  // namespace

ClientEnv::ClientEnv(const std::string& clientDir, const std::string& token,
                     const std::string& caFile)
    : dir_("QADJ_CLIENT_DIR", unlessEmpty(clientDir)),
      token_("QADJ_TOKEN", unlessEmpty(token)),
      ca_("QADJ_TLS_CA", unlessEmpty(caFile)) {}

RawClient::RawClient(const std::string& host, std::string token)
    : token_(std::move(token)), stub_(wire::ObjectService::NewStub(ownChannel(host))) {}

wire::ActivateRequest RawClient::activateRequest(const std::string& client) {
  wire::ActivateRequest req;
  req.set_client_id(client);
  req.set_clsid(guidBytes(CLSID_CoStoreProduct));
  req.set_iid(guidBytes(com::IID_IDispatch));
  return req;
}

void RawClient::authorize(grpc::ClientContext& ctx) const {
  if (!token_.empty()) ctx.AddMetadata("x-qadj-token", token_);
}

long RawClient::activate(const std::string& client, std::uint64_t* id) {
  grpc::ClientContext ctx;
  authorize(ctx);
  wire::ActivateReply rep;
  const auto status = stub_->Activate(&ctx, activateRequest(client), &rep);
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

wire::InvokeRequest RawClient::fetchRequest(const std::string& client, std::uint64_t id,
                                            const std::u16string& sqlText) {
  const auto utf16 = [](const std::u16string& text) {
    std::string bytes;
    for (const char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
  };
  wire::InvokeRequest req;
  req.set_client_id(client);
  req.set_object_id(id);
  req.set_dispid(DISPID_FetchRecords);
  req.set_flags(com::DISPATCH_METHOD);
  req.set_want_result(true);
  // Last argument first: owner data, params (both by reference), the statement, the
  // options, records sent (by reference), records wanted, the provider.
  req.add_args()->set_empty(true);
  req.mutable_args(0)->set_by_ref(true);
  req.add_args()->set_null(true);
  req.mutable_args(1)->set_by_ref(true);
  req.add_args()->set_bstr(utf16(sqlText));
  req.add_args()->set_i4(kFetchMetaData);
  req.add_args()->set_i4(0);
  req.mutable_args(4)->set_by_ref(true);
  req.add_args()->set_i4(-1);
  req.add_args()->set_bstr(utf16(u"PUBLIC_DSP"));
  return req;
}

long RawClient::fetch(const std::string& client, std::uint64_t id, const std::u16string& sqlText,
                      long* excepScode) {
  grpc::ClientContext ctx;
  authorize(ctx);
  wire::InvokeReply rep;
  const auto status = stub_->Invoke(&ctx, fetchRequest(client, id, sqlText), &rep);
  if (excepScode) *excepScode = rep.has_excep() ? rep.excep().scode() : 0;
  if (!status.ok()) return -static_cast<long>(status.error_code());
  return rep.hr();
}

}  // namespace qadj::testing
