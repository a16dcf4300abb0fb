#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "qadj/settings/getformsetting.h"
#include "qadj/testing/scoped_env.h"
#include "support/fake_form.h"

using qadj::TGETFORMSETTING;
using qadj::test::FakeForm;
using qadj::testing::ScopedEnv;
using Log = std::vector<std::string>;

namespace {

// Each test gets its own drive c: with or without a settings file.
class ApplySettingsTest : public ::testing::Test {
 protected:
  ApplySettingsTest() : drive("QADJ_DRIVE_C", dir.path().toStdString()) {}

  void writeSettings(const std::string& content) {
    std::ofstream(dir.filePath("mis_system.ini").toStdString(), std::ios::binary) << content;
  }
  void apply(const char* kind = "A") { TGETFORMSETTING().ApplySettings(form, kind); }

  QTemporaryDir dir;
  ScopedEnv drive;
  FakeForm form;
};

}  // namespace

TEST(SectionForKind, KindsCompareExactly) {
  EXPECT_EQ(qadj::sectionForKind("A"), "mainform");
  EXPECT_EQ(qadj::sectionForKind("B"), "preform");
  EXPECT_EQ(qadj::sectionForKind("a"), "");
  EXPECT_EQ(qadj::sectionForKind("b"), "");
  EXPECT_EQ(qadj::sectionForKind("AB"), "");
  EXPECT_EQ(qadj::sectionForKind(""), "");
}

TEST_F(ApplySettingsTest, NoFileKeepsTheDesignedPlacement) {
  apply();
  EXPECT_EQ(form.left_, 183);
  EXPECT_EQ(form.top_, 110);
  EXPECT_EQ(form.width_, 778);
  EXPECT_EQ(form.height_, 480);
  EXPECT_EQ(form.color_, qadj::clBtnFace);
  EXPECT_EQ(form.fontSize_, 8);
  EXPECT_EQ(form.log, Log{});
}

TEST_F(ApplySettingsTest, FileWithoutTheSectionChangesNothing) {
  writeSettings("[preform]\ntop=1\nform_windowstate=2\n");
  apply("A");
  EXPECT_EQ(form.log, Log{});
}

TEST_F(ApplySettingsTest, WidthOnlyChangesTheWidthOnly) {
  writeSettings("[mainform]\nwidth=900\n");
  apply();
  EXPECT_EQ(form.log, Log{"width=900"});
  EXPECT_EQ(form.height_, 480);
}

TEST_F(ApplySettingsTest, TopValuesHexTextAndNegative) {
  writeSettings("[mainform]\ntop=0x20\n");
  apply();
  EXPECT_EQ(form.top_, 32);

  writeSettings("[mainform]\ntop=abc\n");
  apply();
  EXPECT_EQ(form.top_, 32);

  writeSettings("[mainform]\ntop=-5\n");
  apply();
  EXPECT_EQ(form.top_, -5);  // no clamping to the screen
  EXPECT_EQ(form.log, (Log{"top=32", "top=-5"}));
}

TEST_F(ApplySettingsTest, AllValuesAppliedInOrderWithCaseInsensitiveNames) {
  writeSettings(
      "[MainForm]\n"
      "Font.Size=12\nCOLOR=0x00DCD9C5\nwidth=640\nheight=300\nleft=-20\nTop=7\n");
  apply();
  EXPECT_EQ(form.log, (Log{"top=7", "left=-20", "height=300", "width=640", "color=14473669",
                           "font.size=12"}));
}

TEST_F(ApplySettingsTest, ColourMayNameASystemColour) {
  form.color_ = 0x00FF0000u;
  writeSettings("[mainform]\ncolor=-2147483633\n");
  apply();
  EXPECT_EQ(form.color_, qadj::clBtnFace);
  writeSettings("[mainform]\ncolor=0x80000005\n");
  apply();
  EXPECT_EQ(form.color_, qadj::clWindow);
}

// A window whose toolkit changes the height when the width changes.
class HeightFollowsWidthForm : public FakeForm {
 public:
  void setWidth(int v) override {
    FakeForm::setWidth(v);
    setHeight(v / 2);
  }
};

TEST_F(ApplySettingsTest, HeightIsReadAgainAfterTheWidth) {
  HeightFollowsWidthForm adjusting;
  writeSettings("[mainform]\nwidth=900\nheight=300\n");
  TGETFORMSETTING().ApplySettings(adjusting, "A");
  EXPECT_EQ(adjusting.height_, 300);
  EXPECT_EQ(adjusting.log, (Log{"height=300", "width=900", "height=450", "height=300"}));

  // Without a height key the second read defaults to the height the width left.
  HeightFollowsWidthForm noHeight;
  writeSettings("[mainform]\nwidth=900\n");
  TGETFORMSETTING().ApplySettings(noHeight, "A");
  EXPECT_EQ(noHeight.height_, 450);
}

TEST_F(ApplySettingsTest, SwitchesActOnlyOnTheirOwnNumber) {
  struct Switch {
    const char* key;
    int acting;
    const char* effect;
  };
  const Switch switches[] = {{"form_align", 3, "alignNone"},
                             {"form_windowstate", 2, "windowStateNormal"},
                             {"form_position", 3, "positionDesigned"},
                             {"form_borderstyle", 1, "borderStyleNone"},
                             {"form_formstyle", 2, "formStyleNormal"}};
  for (const auto& s : switches) {
    for (int value = -1; value <= 7; ++value) {
      FakeForm fresh;
      writeSettings("[mainform]\n" + std::string(s.key) + "=" + std::to_string(value) + "\n");
      TGETFORMSETTING().ApplySettings(fresh, "A");
      const Log expected = value == s.acting ? Log{s.effect} : Log{};
      EXPECT_EQ(fresh.log, expected) << s.key << "=" << value;
    }
  }
}

TEST_F(ApplySettingsTest, SwitchesApplyInFixedOrderAfterTheValues) {
  writeSettings(
      "[mainform]\nform_formstyle=0x2\nform_borderstyle=1\nform_position=3\n"
      "form_windowstate=2\nform_align=3\ntop=1\n");
  apply();
  EXPECT_EQ(form.log, (Log{"top=1", "alignNone", "windowStateNormal", "positionDesigned",
                           "borderStyleNone", "formStyleNormal"}));
}

TEST_F(ApplySettingsTest, SwitchWithTextValueHasNoEffect) {
  writeSettings("[mainform]\nform_align=three\nform_borderstyle=\n");
  apply();
  EXPECT_EQ(form.log, Log{});
}

TEST_F(ApplySettingsTest, KindPicksTheSection) {
  writeSettings("[]\ntop=1\n[mainform]\ntop=2\n[preform]\ntop=3\n");
  apply("a");  // lower case does not match "A": the empty-named section
  EXPECT_EQ(form.top_, 1);
  apply("A");
  EXPECT_EQ(form.top_, 2);
  apply("B");
  EXPECT_EQ(form.top_, 3);
  apply("X");
  EXPECT_EQ(form.top_, 1);
}

TEST_F(ApplySettingsTest, ExplicitSettingsFileName) {
  const std::string other = dir.filePath("other.ini").toStdString();
  std::ofstream(other) << "[mainform]\nleft=44\n";
  TGETFORMSETTING().ApplySettings(form, "A", other);
  EXPECT_EQ(form.left_, 44);
}
