// Remote-call requests as the daemon receives them: any bytes are parsed as an
// invocation request and its arguments converted to automation values; a value that
// arrived must travel back unchanged (the by-reference reply path).
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "remote_wire.h"

namespace {

using qadj::com::Variant;
using qadj::com::VarType;

bool sameVariant(const Variant& a, const Variant& b) {
  if (a.type() != b.type() || a.byRef() != b.byRef()) return false;
  switch (a.type()) {
    case VarType::R8:
    case VarType::Date: {
      const double x = a.asR8(), y = b.asR8();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    default:
      return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace remote = qadj::com::remote;
  qadj::wire::InvokeRequest request;
  if (!request.ParseFromArray(data, static_cast<int>(size))) return 0;
  for (const auto& arg : request.args()) {
    const Variant v = remote::FromWire(arg);
    FUZZ_CHECK(v.byRef() == arg.by_ref());
    qadj::wire::Value back;
    FUZZ_CHECK(remote::ToWire(v, back));
    FUZZ_CHECK(sameVariant(remote::FromWire(back), v));
    if (arg.kind_case() == qadj::wire::Value::kBstr) {
      const std::string& bytes = arg.bstr();
      FUZZ_CHECK(remote::Utf16ToBytes(v.asBStr()) ==
                 bytes.substr(0, bytes.size() & ~std::size_t{1}));
    }
  }
  qadj::com::Guid iid;
  if (remote::GuidFromBytes(request.iid(), iid))
    FUZZ_CHECK(remote::GuidToBytes(iid) == request.iid());
  return 0;
}
