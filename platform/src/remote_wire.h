// Conversions between the runtime's values and the wire messages, and the mapping
// of transport failures to failure codes.
#pragma once

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <string>

#include "qadj/com/client_config.h"
#include "qadj/com/com.h"
#include "qadj/proto/remote.pb.h"

namespace qadj::com::remote {

// Metadata key that carries the access token.
inline constexpr const char* kTokenKey = "x-qadj-token";

// Keep-alive, agreed by both ends. A peer that died without closing the connection (its
// computer lost power, a cable was pulled) is found by a ping unanswered within
// kKeepAliveTimeout. A client pings every kClientPingInterval, also during a call (the
// server pings every kKeepAliveTime); the server takes a ping as abuse only when it comes
// sooner than kMinPingInterval after the last, so a client's pings never are.
inline constexpr std::chrono::milliseconds kKeepAliveTimeout{20000};
inline constexpr std::chrono::milliseconds kClientPingInterval{30000};
inline constexpr std::chrono::milliseconds kMinPingInterval{5000};
static_assert(kClientPingInterval >= kMinPingInterval);

// A duration as a gRPC channel argument.
inline int channelArgMs(std::chrono::milliseconds ms) {
  return static_cast<int>(ms.count());
}

// A client channel's credentials: TLS trusting only the configured authority when one
// is configured, else plain.
std::shared_ptr<grpc::ChannelCredentials> ClientCredentials(const ClientSecurity& security);

std::string GuidToBytes(const Guid& g);
// Returns false when bytes is not 16 bytes long.
bool GuidFromBytes(const std::string& bytes, Guid& out);

std::string Utf16ToBytes(std::u16string_view text);
std::u16string Utf16FromBytes(const std::string& bytes);

// Returns false for values that cannot travel (interface pointers). The overloads for
// values that are spent afterwards move a byte array's bytes instead of copying them.
bool ToWire(const Variant& v, wire::Value& out);
bool ToWire(Variant&& v, wire::Value& out);
Variant FromWire(const wire::Value& v);
Variant FromWire(wire::Value&& v);

void ToWire(const ExcepInfo& e, wire::Excep& out);
ExcepInfo FromWire(const wire::Excep& e);

// The failure code for a failed transport call: UNAVAILABLE is the host being
// unreachable (RPC_E_SERVER_UNAVAILABLE), UNAUTHENTICATED/PERMISSION_DENIED
// E_ACCESSDENIED, NOT_FOUND an object the server no longer holds (RPC_E_DISCONNECTED),
// DEADLINE_EXCEEDED RPC_E_CALL_TIMEOUT, RESOURCE_EXHAUSTED E_OUTOFMEMORY, anything
// else E_FAIL.
HRESULT StatusToHresult(const grpc::Status& status);

}  // namespace qadj::com::remote
