// The settings applier: applies one section of the host's settings file to a
// window (position, size, colour, font size and five form-style switches).
#pragma once

#include <string>
#include <string_view>

#include "qadj/settings/form_settings_target.h"

namespace qadj {

// The section for a window kind: "A" -> "mainform", "B" -> "preform", any other
// text (compared exactly, so "a" too) -> the section with the empty name.
std::string sectionForKind(std::string_view FormKind);

// The form-style switch values as read from the file (missing or not a number:
// the value that acts on nothing).
struct FormSwitches {
  int align = 0;
  int windowState = 0;
  int position = 0;
  int borderStyle = 0;
  int formStyle = 0;
};

// Applies the switches in order; each acts only on its own number (align 3,
// window state 2, position 3, border style 1, form style 2).
void applyFormSwitches(FormSettingsTarget& form, const FormSwitches& switches);

class TGETFORMSETTING {
 public:
  // Applies the section of FormKind from the settings file "c:\mis_system.ini"
  // (see paths.h for where it lives) to form. A missing file, section or key, or
  // a value that is not a whole number, leaves the property as it is. Nothing is
  // reported; throws only std::bad_alloc or what form's setters throw.
  void ApplySettings(FormSettingsTarget& form, std::string_view FormKind) const;

  // The same with the settings file given by a Windows-style or absolute Linux
  // file name.
  void ApplySettings(FormSettingsTarget& form, std::string_view FormKind,
                     std::string_view settingsFileName) const;
};

}  // namespace qadj
