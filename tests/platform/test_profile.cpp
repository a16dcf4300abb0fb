#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "qadj/platform/profile.h"

using qadj::ProfileFile;
using qadj::profileNamesEqual;
using qadj::readProfileString;

TEST(ProfileParse, SectionsKeysAndValuesAreTrimmed) {
  const auto f = ProfileFile::parse(
      "  [ MainForm ]  \r\n"
      "  top  =  20  \r\n"
      "left=\t7\n"
      "noequals\n"
      "; top=99\n"
      "empty=\n"
      "[preform]\n"
      "top=1");
  EXPECT_EQ(f.find("mainform", "TOP"), "20");
  EXPECT_EQ(f.find("MAINFORM", "left"), "7");
  EXPECT_EQ(f.find("mainform", "empty"), "");
  EXPECT_EQ(f.find("mainform", "noequals"), std::nullopt);
  EXPECT_EQ(f.find("mainform", "; top"), std::nullopt);
  EXPECT_EQ(f.find("preform", "top"), "1");
  EXPECT_EQ(f.find("other", "top"), std::nullopt);
}

TEST(ProfileParse, FirstSectionAndFirstKeyWin) {
  const auto f = ProfileFile::parse("[a]\nk=1\nk=2\n[A]\nk=3\nj=4\n");
  EXPECT_EQ(f.find("a", "k"), "1");
  // Only the first section of a name is searched.
  EXPECT_EQ(f.find("a", "j"), std::nullopt);
}

TEST(ProfileParse, EmptyNamedSectionAndBlankNames) {
  const auto f = ProfileFile::parse("orphan=1\n[]\nk=empty\n[ ]\nk=blank\n[x\nk=open\n");
  EXPECT_EQ(f.find("", "k"), "empty");
  EXPECT_EQ(f.find("", "orphan"), std::nullopt);  // entries before any section
  EXPECT_EQ(f.find("x", "k"), "open");            // unclosed bracket still names a section
}

TEST(ProfileParse, QuotesAroundValueAreStrippedOnlyWhenMatching) {
  const auto f = ProfileFile::parse(
      "[s]\na=\"quoted value\"\nb='single'\nc=\"open\nd=\"x'\ne=in\"side\"\nf=\"\n");
  EXPECT_EQ(f.find("s", "a"), "quoted value");
  EXPECT_EQ(f.find("s", "b"), "single");
  EXPECT_EQ(f.find("s", "c"), "\"open");
  EXPECT_EQ(f.find("s", "d"), "\"x'");
  EXPECT_EQ(f.find("s", "e"), "in\"side\"");
  EXPECT_EQ(f.find("s", "f"), "\"");
}

TEST(ProfileParse, ValueKeepsInlineSemicolonsAndEqualsSigns) {
  const auto f = ProfileFile::parse("\xEF\xBB\xBF[s]\nk=a=b ; c\n");
  EXPECT_EQ(f.find("s", "k"), "a=b ; c");
}

TEST(ProfileNames, CaseFoldsAsciiOnlyAndKeepsGbkBytes) {
  EXPECT_TRUE(profileNamesEqual("Font.Size", "font.SIZE"));
  EXPECT_FALSE(profileNamesEqual("top", "top "));
  EXPECT_TRUE(profileNamesEqual("\xCC\xE1x", "\xCC\xE1X"));
  // 0x81 0x41 and 0x81 0x61 are different characters although 0x41/0x61 are 'A'/'a'.
  EXPECT_FALSE(profileNamesEqual("\x81\x41", "\x81\x61"));
}

class ProfileFileTest : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  QTemporaryDir dir;
};

TEST_F(ProfileFileTest, MissingFileGivesTheDefault) {
  EXPECT_EQ(readProfileString(dir.filePath("nothing.ini").toStdString(), "s", "k", "dflt"), "dflt");
  EXPECT_EQ(readProfileString(dir.path().toStdString(), "s", "k", "d"), "d");  // a directory
}

TEST_F(ProfileFileTest, ReadsRawGbkValues) {
  const auto path = write("a.ini", "[s]\nname=\xCC\xE1\xCA\xBE\n");
  EXPECT_EQ(readProfileString(path, "S", "NAME", ""), "\xCC\xE1\xCA\xBE");
  EXPECT_EQ(readProfileString(path, "s", "other", "d"), "d");
}

TEST_F(ProfileFileTest, ValueIsCutToTheBuffer) {
  const auto path = write("long.ini", "[s]\nk=" + std::string(3000, 'x') + "\nc=ab\xCC\xE1\n");
  EXPECT_EQ(readProfileString(path, "s", "k", "").size(), 2047u);
  EXPECT_EQ(readProfileString(path, "s", "k", "", 10), std::string(9, 'x'));
  // A double-byte character that does not fit whole is left out.
  EXPECT_EQ(readProfileString(path, "s", "c", "", 4), "ab");
  EXPECT_EQ(readProfileString(path, "s", "c", "", 5), "ab\xCC\xE1");
  EXPECT_EQ(readProfileString(path, "s", "k", "", 0), "");
  EXPECT_EQ(readProfileString(path, "s", "missing", "defaultvalue", 4), "def");
}
