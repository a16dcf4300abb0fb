#include <gtest/gtest.h>

#include "qadj/platform/app_title.h"

using qadj::applicationTitleFromPath;

TEST(ApplicationTitle, FileNameWithoutExtensionFirstLetterKept) {
  EXPECT_EQ(applicationTitleFromPath("C:\\Program Files\\HOSTAPP.EXE"), "Hostapp");
  // The first character keeps its case, whatever it is.
  EXPECT_EQ(applicationTitleFromPath("/usr/local/bin/mis-host"), "mis-host");
  EXPECT_EQ(applicationTitleFromPath("/opt/x/misHost"), "mishost");
  EXPECT_EQ(applicationTitleFromPath("d:\\a/b\\Mixed.Case.Name.exe"), "Mixed");
  EXPECT_EQ(applicationTitleFromPath("NoDir"), "Nodir");
}

TEST(ApplicationTitle, EdgeShapes) {
  EXPECT_EQ(applicationTitleFromPath(""), "");
  EXPECT_EQ(applicationTitleFromPath("c:\\dir\\"), "");
  EXPECT_EQ(applicationTitleFromPath("/x/.hidden"), "");
  EXPECT_EQ(applicationTitleFromPath("c:\\dir.d\\HOST"), "Host");
}

TEST(ApplicationTitle, OnlyTheFirst255BytesCount) {
  const std::string longName = "/" + std::string(300, 'A');
  EXPECT_EQ(applicationTitleFromPath(longName), "A" + std::string(253, 'a'));
  // A separator after byte 255 is ignored.
  EXPECT_EQ(applicationTitleFromPath("/" + std::string(260, 'B') + "/Z.EXE").size(), 254u);
}

TEST(ApplicationTitle, DoubleByteCharactersAreWholeCharacters) {
  // 0x81 0x5C is one character whose trail byte equals '\'.
  EXPECT_EQ(applicationTitleFromPath("c:\\\x81\x5CXY.EXE"), "\x81\x5Cxy");
  // A trail byte in the 'A'..'Z' range is not lower-cased.
  EXPECT_EQ(applicationTitleFromPath("/\xCC\xE1\x81\x41Q"), "\xCC\xE1\x81\x41q");
}

TEST(ApplicationTitle, ProcessTitleComesFromThisExecutable) {
  // The test executable is platform_test_app_title.
  EXPECT_EQ(qadj::applicationTitle(), "platform_test_app_title");
  EXPECT_EQ(&qadj::applicationTitle(), &qadj::applicationTitle());
}
