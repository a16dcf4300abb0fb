#include "qadj/protocol/save_request.h"

#include <algorithm>
#include <cassert>
#include <random>
#include <stdexcept>

#include "qadj/platform/quantity.h"
#include "qadj/platform/text.h"

namespace qadj {
namespace {

constexpr std::u16string_view kPrefix = u"qadj-save id=";
constexpr std::u16string_view kOperator = u" operator=";
constexpr std::size_t kIdDigits = 32;

bool isLowerHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
}

[[maybe_unused]] bool isSaveId(std::string_view id) {
  return id.size() == kIdDigits &&
         std::all_of(id.begin(), id.end(), [](char c) { return isLowerHex(char16_t(c)); });
}

}  // namespace

bool overAdjustable(std::int64_t takenHundredths, double adjustable) {
  if (const auto limit = Quantity::round(adjustable)) return takenHundredths > limit->hundredths();
  return !(adjustable > 0);
}

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
  if (ownerData.type() == com::VarType::Empty || ownerData.type() == com::VarType::Null)
    return std::nullopt;
  const auto malformed = [](const std::string& what) {
    return std::invalid_argument("the owner data is no save request of the window (" + what + ")");
  };
  if (ownerData.type() != com::VarType::BStr) throw malformed("not a text");
  const std::u16string_view text = ownerData.asBStr();
  if (!text.starts_with(kPrefix)) throw malformed("it does not start with \"qadj-save id=\"");
  std::u16string_view rest = text.substr(kPrefix.size());
  SaveRequest save;
  save.id.reserve(kIdDigits);
  for (std::size_t i = 0; i < kIdDigits; ++i) {
    const char16_t c = i < rest.size() ? rest[i] : u' ';
    const int digit = c < 0x80 ? text::hexDigitValue(static_cast<char>(c)) : -1;
    if (digit < 0) throw malformed("the save id is not 32 hexadecimal digits");
    save.id += "0123456789abcdef"[digit];
  }
  rest.remove_prefix(kIdDigits);
  if (!rest.starts_with(kOperator)) throw malformed("no \" operator=\" after the save id");
  const std::u16string_view code = rest.substr(kOperator.size());
  std::string gbk;
  try {
    gbk = text::utf16ToGbk(code);
  } catch (const std::exception&) {
    throw malformed("the operator code is not GBK text");
  }
  if (gbk.size() > kMostOperatorBytes)
    throw malformed("the operator code is longer than " + std::to_string(kMostOperatorBytes) +
                    " bytes");
  if (std::any_of(gbk.begin(), gbk.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    throw malformed("the operator code holds a control character");
  save.operatorCode = text::gbkToUtf8(gbk);
  return save;
}

bool outcomeUnknown(com::HRESULT hr) {
  return hr == com::RPC_E_SERVER_UNAVAILABLE || hr == com::RPC_E_CALL_TIMEOUT ||
         hr == com::XACT_E_INDOUBT;
}

}  // namespace qadj
