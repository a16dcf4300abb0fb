// What a save carries besides its statements: its save id and the operator, in the
// owner-data argument of ExecuteCommand (the caller's own data of the record-set
// interface), as one text "qadj-save id=<32 hex digits> operator=<code>". The same id
// travels again with a save whose outcome the window does not know, so that the
// server applies a save at most once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qadj/com/com.h"

namespace qadj {

// A new save id: 128 random bits as 32 lower-case hexadecimal digits.
std::string newSaveId();

struct SaveRequest {
  std::string id;            // 32 lower-case hexadecimal digits
  std::string operatorCode;  // UTF-8, as the host named the operator
};

// The largest operator code a save may name, in GBK bytes: the width of the person
// code the window looks the operator up by.
inline constexpr std::size_t kMostOperatorBytes = 4;

// The owner-data value of a save (a text). id must be a save id (newSaveId()).
com::Variant saveOwnerData(const SaveRequest& save);

// The save a received owner-data value names; nullopt when it names none (empty or
// null, as a client sends that does not number its saves). Any other value must be a
// well-formed save request: "qadj-save id=<32 hexadecimal digits> operator=<code>",
// the id in either letter case (returned in lower case, the one form ids compare in),
// the code GBK text of at most kMostOperatorBytes bytes without control characters.
// Throws std::invalid_argument naming what is wrong with one that is not, so that a
// save is never applied as if it had no id.
std::optional<SaveRequest> parseSaveOwnerData(const com::Variant& ownerData);

// The refusal of a save that gives more than the giver has left to give (checked by
// the window as the operator types, and by the server against the lines as they are
// when the save runs): the code, and the text the operator knows (UTF-8).
inline constexpr com::HRESULT QADJ_E_OVER_LIMIT = com::hresult(0x80040201);
inline constexpr const char* kOverLimitText = "超过访销员的限量";

// The one limit rule of a save, the window's and the server's: whether taking
// takenHundredths hundredths from a salesperson goes over their adjustable quantity,
// taken to the hundredth as the window shows it. An adjustable quantity beyond the
// range of a quantity is more than anything taken; a negative one beyond it, or one
// that is no number, allows nothing.
bool overAdjustable(std::int64_t takenHundredths, double adjustable);

// Failure codes of a save whose outcome the caller cannot know: the request may have
// been carried out before the reply was lost (the server gone, the call's deadline
// passed, the database connection lost during the commit).
bool outcomeUnknown(com::HRESULT hr);

}  // namespace qadj
