#include "qadj/protocol/save_request.h"

#include <algorithm>
#include <cassert>
#include <random>

#include "qadj/platform/text.h"

namespace qadj {
namespace {

constexpr std::u16string_view kPrefix = u"qadj-save id=";
constexpr std::u16string_view kOperator = u" operator=";
constexpr std::size_t kIdDigits = 32;
// Operator codes are a few characters; a longer text is no save of a window's.
constexpr std::size_t kMostOperatorUnits = 64;

bool isLowerHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
}

[[maybe_unused]] bool isSaveId(std::string_view id) {
  return id.size() == kIdDigits &&
         std::all_of(id.begin(), id.end(), [](char c) { return isLowerHex(char16_t(c)); });
}

}  // namespace

std::string newSaveId() {
  std::random_device random;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id;
  id.reserve(kIdDigits);
  for (int word = 0; word < 4; ++word) {
    const std::uint32_t bits = random();
    for (int nibble = 7; nibble >= 0; --nibble) id += kDigits[(bits >> (4 * nibble)) & 0xF];
  }
  return id;
}

com::Variant saveOwnerData(const SaveRequest& save) {
  assert(isSaveId(save.id));
  std::u16string text(kPrefix);
  text += text::utf8ToUtf16(save.id);
  text += kOperator;
  text += text::utf8ToUtf16(save.operatorCode);
  return com::Variant::bstr(std::move(text));
}

std::optional<SaveRequest> parseSaveOwnerData(const com::Variant& ownerData) {
  if (ownerData.type() != com::VarType::BStr) return std::nullopt;
  const std::u16string_view text = ownerData.asBStr();
  if (!text.starts_with(kPrefix) || text.size() < kPrefix.size() + kIdDigits + kOperator.size())
    return std::nullopt;
  const std::u16string_view id = text.substr(kPrefix.size(), kIdDigits);
  for (char16_t c : id)
    if (!isLowerHex(c)) return std::nullopt;
  if (text.substr(kPrefix.size() + kIdDigits, kOperator.size()) != kOperator) return std::nullopt;
  const std::u16string_view code = text.substr(kPrefix.size() + kIdDigits + kOperator.size());
  if (code.size() > kMostOperatorUnits) return std::nullopt;
  SaveRequest save;
  save.id.reserve(kIdDigits);
  for (char16_t c : id) save.id += static_cast<char>(c);
  try {
    save.operatorCode = text::utf16ToUtf8(code);
  } catch (const std::exception&) {
    return std::nullopt;  // broken UTF-16
  }
  return save;
}

bool outcomeUnknown(com::HRESULT hr) {
  return hr == com::RPC_E_SERVER_UNAVAILABLE || hr == com::RPC_E_CALL_TIMEOUT ||
         hr == com::XACT_E_INDOUBT;
}

}  // namespace qadj
