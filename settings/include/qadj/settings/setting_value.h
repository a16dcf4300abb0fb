// Whole numbers in the settings file.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qadj {

// Parses a setting value: decimal with an optional sign ("-5", "+7"), or, when the
// text is longer than two characters and begins with "0x"/"0X", hexadecimal of at
// most 32 bits (read as the bit pattern of a 32-bit integer, so "0x8000000F" is
// the colour number clBtnFace). No blanks are allowed. nullopt for anything else,
// including decimal values outside the 32-bit range.
std::optional<std::int32_t> parseSettingInt(std::string_view text);

// parseSettingInt(text), or fallback when the text is not a whole number.
std::int32_t settingIntOr(std::string_view text, std::int32_t fallback);

}  // namespace qadj
