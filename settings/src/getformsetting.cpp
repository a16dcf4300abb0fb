#include "qadj/settings/getformsetting.h"

#include "qadj/platform/paths.h"
#include "qadj/platform/profile.h"
#include "qadj/settings/setting_value.h"

namespace qadj {
namespace {

// Reads one whole number of section; fallback when missing or not a number.
class SettingsReader {
 public:
  SettingsReader(std::string path, std::string section)
      : path_(std::move(path)), section_(std::move(section)) {}

  std::int32_t readInt(std::string_view key, std::int32_t fallback) const {
    return settingIntOr(readProfileString(path_, section_, key, "", kProfileBufferSize), fallback);
  }

 private:
  std::string path_;
  std::string section_;
};

}  // namespace

std::string sectionForKind(std::string_view FormKind) {
  if (FormKind == "A") return "mainform";
  if (FormKind == "B") return "preform";
  return "";
}

void applyFormSwitches(FormSettingsTarget& form, const FormSwitches& switches) {
  if (switches.align == 3) form.setAlignNone();
  if (switches.windowState == 2) form.setWindowStateNormal();
  if (switches.position == 3) form.setPositionDesigned();
  if (switches.borderStyle == 1) form.setBorderStyleNone();
  if (switches.formStyle == 2) form.setFormStyleNormal();
}

void TGETFORMSETTING::ApplySettings(FormSettingsTarget& form, std::string_view FormKind) const {
  ApplySettings(form, FormKind, kSettingsFileName);
}

void TGETFORMSETTING::ApplySettings(FormSettingsTarget& form, std::string_view FormKind,
                                    std::string_view settingsFileName) const {
  const SettingsReader ini(mapWindowsPath(settingsFileName), sectionForKind(FormKind));

  form.setTop(ini.readInt("top", form.top()));
  form.setLeft(ini.readInt("left", form.left()));
  form.setHeight(ini.readInt("height", form.height()));
  form.setWidth(ini.readInt("width", form.width()));
  form.setHeight(ini.readInt("height", form.height()));
  form.setColor(
      static_cast<WinColor>(ini.readInt("color", static_cast<std::int32_t>(form.color()))));
  form.setFontSize(ini.readInt("font.size", form.fontSize()));

  // All five switches are read before any of them acts.
  FormSwitches switches;
  switches.align = ini.readInt("form_align", 0);
  switches.windowState = ini.readInt("form_windowstate", 0);
  switches.position = ini.readInt("form_position", 0);
  switches.borderStyle = ini.readInt("form_borderstyle", 0);
  switches.formStyle = ini.readInt("form_formstyle", 0);
  applyFormSwitches(form, switches);
}

}  // namespace qadj
