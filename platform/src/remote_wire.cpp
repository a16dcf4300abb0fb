#include "remote_wire.h"

namespace qadj::com::remote {

std::shared_ptr<grpc::ChannelCredentials> ClientCredentials(const ClientSecurity& security) {
  if (security.caPem.empty()) return grpc::InsecureChannelCredentials();
  grpc::SslCredentialsOptions options;
  options.pem_root_certs = security.caPem;
  return grpc::SslCredentials(options);
}

std::string GuidToBytes(const Guid& g) {
  return std::string(reinterpret_cast<const char*>(g.bytes.data()), g.bytes.size());
}

bool GuidFromBytes(const std::string& bytes, Guid& out) {
  if (bytes.size() != out.bytes.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) out.bytes[i] = static_cast<std::uint8_t>(bytes[i]);
  return true;
}

std::string Utf16ToBytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::u16string Utf16FromBytes(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return out;
}

bool ToWire(const Variant& v, wire::Value& out) {
  out.Clear();
  out.set_by_ref(v.byRef());
  switch (v.type()) {
    case VarType::Empty:
      out.set_empty(true);
      return true;
    case VarType::Null:
      out.set_null(true);
      return true;
    case VarType::I4:
      out.set_i4(v.asI4());
      return true;
    case VarType::R8:
      out.set_r8(v.asR8());
      return true;
    case VarType::Date:
      out.set_date(v.asR8());
      return true;
    case VarType::BStr:
      out.set_bstr(Utf16ToBytes(v.asBStr()));
      return true;
    case VarType::Bytes:
      out.set_bytes(v.asBytes().str());
      return true;
    case VarType::Bool:
      out.set_boolean(v.asBool());
      return true;
    case VarType::Dispatch:
      return false;
  }
  return false;
}

bool ToWire(Variant&& v, wire::Value& out) {
  if (v.type() != VarType::Bytes) return ToWire(static_cast<const Variant&>(v), out);
  out.Clear();
  out.set_by_ref(v.byRef());
  out.set_bytes(std::move(v.asBytes()).release());
  return true;
}

Variant FromWire(wire::Value&& v) {
  if (v.kind_case() != wire::Value::kBytes) return FromWire(static_cast<const wire::Value&>(v));
  Variant out = Variant::bytes(ByteArray(std::move(*v.mutable_bytes())));
  out.setByRef(v.by_ref());
  return out;
}

Variant FromWire(const wire::Value& v) {
  Variant out;
  switch (v.kind_case()) {
    case wire::Value::kNull:
      out = Variant::null();
      break;
    case wire::Value::kI4:
      out = Variant::i4(v.i4());
      break;
    case wire::Value::kR8:
      out = Variant::r8(v.r8());
      break;
    case wire::Value::kDate:
      out = Variant::date(v.date());
      break;
    case wire::Value::kBstr:
      out = Variant::bstr(Utf16FromBytes(v.bstr()));
      break;
    case wire::Value::kBytes:
      out = Variant::bytes(ByteArray(std::string(v.bytes())));
      break;
    case wire::Value::kBoolean:
      out = Variant::boolean(v.boolean());
      break;
    case wire::Value::kEmpty:
    case wire::Value::KIND_NOT_SET:
      break;
  }
  out.setByRef(v.by_ref());
  return out;
}

void ToWire(const ExcepInfo& e, wire::Excep& out) {
  out.set_scode(e.scode);
  out.set_source(Utf16ToBytes(e.source));
  out.set_description(Utf16ToBytes(e.description));
}

ExcepInfo FromWire(const wire::Excep& e) {
  return ExcepInfo{e.scode(), Utf16FromBytes(e.source()), Utf16FromBytes(e.description())};
}

HRESULT StatusToHresult(const grpc::Status& status) {
  switch (status.error_code()) {
    case grpc::StatusCode::OK:
      return S_OK;
    case grpc::StatusCode::UNAVAILABLE:
      return RPC_E_SERVER_UNAVAILABLE;
    case grpc::StatusCode::UNAUTHENTICATED:
    case grpc::StatusCode::PERMISSION_DENIED:
      return E_ACCESSDENIED;
    case grpc::StatusCode::NOT_FOUND:
      return RPC_E_DISCONNECTED;
    case grpc::StatusCode::DEADLINE_EXCEEDED:
      return RPC_E_CALL_TIMEOUT;
    case grpc::StatusCode::RESOURCE_EXHAUSTED:
      return E_OUTOFMEMORY;
    default:
      return E_FAIL;
  }
}

}  // namespace qadj::com::remote
