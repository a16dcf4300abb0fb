// Class identifiers and automation values.
#include <cstdio>

#include "qadj/com/com.h"
#include "qadj/platform/text.h"

namespace qadj::com {

std::optional<Guid> Guid::parse(std::string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: 38 characters, dashes at fixed places.
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  Guid g;
  std::size_t byte = 0;
  for (std::size_t i = 1; i < 37;) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int hi = qadj::text::hexDigitValue(text[i]);
    const int lo = qadj::text::hexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    g.bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return g;
}

std::string Guid::toString() const {
  std::string out = "{";
  char hex[3];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    out += hex;
  }
  out += '}';
  return out;
}

bool Guid::isNull() const {
  for (auto b : bytes)
    if (b != 0) return false;
  return true;
}

const Guid IID_IUnknown = *Guid::parse("{00000000-0000-0000-C000-000000000046}");
const Guid IID_IDispatch = *Guid::parse("{00020400-0000-0000-C000-000000000046}");

Variant Variant::null() {
  return {VarType::Null, {}};
}
Variant Variant::i4(std::int32_t value) {
  return {VarType::I4, value};
}
Variant Variant::r8(double value) {
  return {VarType::R8, value};
}
Variant Variant::date(double days) {
  return {VarType::Date, days};
}
Variant Variant::boolean(bool value) {
  return {VarType::Bool, value};
}
Variant Variant::bstr(std::u16string value) {
  return {VarType::BStr, std::move(value)};
}
Variant Variant::bytes(ByteArray value) {
  return {VarType::Bytes, std::move(value)};
}
Variant Variant::dispatch(std::shared_ptr<IDispatch> value) {
  return {VarType::Dispatch, std::move(value)};
}

std::int32_t Variant::asI4() const {
  return std::get<std::int32_t>(value_);
}
double Variant::asR8() const {
  return std::get<double>(value_);
}
bool Variant::asBool() const {
  return std::get<bool>(value_);
}
const std::u16string& Variant::asBStr() const {
  return std::get<std::u16string>(value_);
}
const ByteArray& Variant::asBytes() const {
  return std::get<ByteArray>(value_);
}
ByteArray& Variant::asBytes() {
  return std::get<ByteArray>(value_);
}
const std::shared_ptr<IDispatch>& Variant::asDispatch() const {
  return std::get<std::shared_ptr<IDispatch>>(value_);
}

bool operator==(const Variant& a, const Variant& b) {
  return a.type_ == b.type_ && a.byRef_ == b.byRef_ && a.value_ == b.value_;
}

}  // namespace qadj::com
