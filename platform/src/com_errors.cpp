// System texts for failure codes and the forms in which errors reach the operator.
#include <cstdio>

#include "qadj/com/com.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"

namespace qadj::com {

namespace {

struct CodeText {
  HRESULT code;
  const char* text;
};

// The system's English texts for the codes this runtime produces, without the
// trailing period (as the system's message lookup hands them to an application).
constexpr CodeText kTexts[] = {
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_ACCESSDENIED, "Access is denied"},
    {E_OUTOFMEMORY, "Not enough storage is available to complete this operation"},
    {E_INVALIDARG, "The parameter is incorrect"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called"},
    {CO_E_CLASSSTRING, "Invalid class string"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CO_E_SERVER_EXEC_FAILURE, "Server execution failed"},
    {RPC_E_DISCONNECTED, "The object invoked has disconnected from its clients"},
    {RPC_E_SERVER_UNAVAILABLE, "The RPC server is unavailable"},
    {RPC_E_CALL_TIMEOUT, "This operation returned because the timeout period expired"},
    {RPC_E_SERVERCALL_RETRYLATER, "The message filter indicated that the application is busy"},
    {XACT_E_INDOUBT, "The transaction is in doubt"},
    {DISP_E_MEMBERNOTFOUND, "Member not found"},
    {DISP_E_TYPEMISMATCH, "Type mismatch"},
    {DISP_E_UNKNOWNNAME, "Unknown name"},
    {DISP_E_EXCEPTION, "Exception occurred"},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters"},
};

}  // namespace

std::string SystemErrorText(HRESULT hr) {
  for (const auto& entry : kTexts)
    if (entry.code == hr) return entry.text;
  return {};
}

std::string OleErrorText(HRESULT hr) {
  std::string text = SystemErrorText(hr);
  if (!text.empty()) return text;
  char buf[32];
  std::snprintf(buf, sizeof buf, "OLE error %.8x", static_cast<std::uint32_t>(hr));
  return buf;
}

std::string ErrorDescriptionText(std::u16string_view description) {
  std::string text;
  try {
    text = text::utf8ToGbkLossy(text::utf16ToUtf8(description));
  } catch (const std::exception&) {  // broken UTF-16: keep what is plain ASCII
    for (char16_t c : description) text += c < 0x80 ? static_cast<char>(c) : '?';
  }
  // Trailing bytes of a double-byte GBK character are never below 0x40 nor 0x7F, so
  // trimming blanks, control characters (DEL among them) and periods cannot cut a
  // character in half.
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text.back());
    if (c > ' ' && c != 0x7F && c != '.') break;
    text.pop_back();
  }
  return text;
}

void OleCheck(HRESULT hr) {
  ExcepInfo info;
  const bool haveInfo = GetErrorInfo(info);
  if (succeeded(hr)) return;
  if (haveInfo) {
    std::string description = ErrorDescriptionText(info.description);
    if (!description.empty()) throw EOleException(description, hr);
  }
  throw EOleError(OleErrorText(hr), hr);
}

}  // namespace qadj::com
