// The client of the standard health service: one Check call.
#include <grpcpp/grpcpp.h>

#include "qadj/com/client_config.h"
#include "qadj/com/endpoint.h"
#include "qadj/proto/health.grpc.pb.h"
#include "remote_wire.h"

namespace qadj::com {

HealthAnswer ProbeHealth(const std::string& target, std::chrono::milliseconds timeout) {
  using grpc::health::v1::HealthCheckResponse;
  const ClientSecurity security = LoadClientSecurity();
  if (!security.problem.empty()) return {false, security.problem};
  auto channel = grpc::CreateChannel(target, remote::ClientCredentials(security));
  auto health = grpc::health::v1::Health::NewStub(channel);
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + timeout);
  grpc::health::v1::HealthCheckRequest request;
  HealthCheckResponse reply;
  const grpc::Status status = health->Check(&context, request, &reply);
  if (!status.ok()) return {false, "no answer: " + status.error_message()};
  return {reply.status() == HealthCheckResponse::SERVING,
          HealthCheckResponse::ServingStatus_Name(reply.status())};
}

}  // namespace qadj::com
