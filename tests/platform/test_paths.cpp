#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "qadj/platform/paths.h"
#include "qadj/platform/profile.h"
#include "qadj/testing/scoped_env.h"

using qadj::driveDirectory;
using qadj::mapWindowsPath;
using qadj::testing::ScopedEnv;

TEST(DriveDirectory, EnvironmentNamesTheDrive) {
  ScopedEnv c("QADJ_DRIVE_C", "/srv/drive-c");
  EXPECT_EQ(driveDirectory('c'), "/srv/drive-c");
  EXPECT_EQ(driveDirectory('C'), "/srv/drive-c");
  EXPECT_THROW(driveDirectory('1'), std::invalid_argument);
}

TEST(DriveDirectory, DefaultsBelowTheUserConfiguration) {
  ScopedEnv c("QADJ_DRIVE_D", std::nullopt);
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv home("HOME", "/home/op");
  EXPECT_EQ(driveDirectory('D'), "/home/op/.config/qadj_vsd/d");
  xdg.set("/cfg");
  EXPECT_EQ(driveDirectory('d'), "/cfg/qadj_vsd/d");
}

TEST(DriveDirectory, WithoutAHomeFolderThereIsNoSettingsFile) {
  ScopedEnv c("QADJ_DRIVE_C", std::nullopt);
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv home("HOME", std::nullopt);
  EXPECT_EQ(driveDirectory('c'), "");
  EXPECT_EQ(mapWindowsPath("c:\\mis_system.ini"), "");
  EXPECT_EQ(mapWindowsPath("\\mis_system.ini"), "");
  EXPECT_EQ(mapWindowsPath("mis_system.ini"), "");
  // Nothing is read from a shared folder instead.
  EXPECT_EQ(qadj::GetPrivateProfileStringA("mainform", "top", "dflt", 2048, "c:\\mis_system.ini"),
            "dflt");
  home.set("relative/home");
  EXPECT_EQ(driveDirectory('c'), "");
}

class PathMapping : public ::testing::Test {
 protected:
  void SetUp() override { root = dir.path().toStdString(); }
  QTemporaryDir dir;
  std::string root;
};

TEST_F(PathMapping, DrivePathsMapBelowTheDriveDirectory) {
  ScopedEnv c("QADJ_DRIVE_C", root);
  EXPECT_EQ(mapWindowsPath("c:\\mis_system.ini"), root + "/mis_system.ini");
  EXPECT_EQ(mapWindowsPath("C:/a\\b/c.ini"), root + "/a/b/c.ini");
  EXPECT_EQ(mapWindowsPath("\\x\\y.ini"), root + "/x/y.ini");
  EXPECT_EQ(mapWindowsPath("win.ini"), root + "/windows/win.ini");
  EXPECT_EQ(mapWindowsPath("/etc/hosts"), "/etc/hosts");
}

TEST_F(PathMapping, DotDotNeverLeavesTheDrive) {
  ScopedEnv c("QADJ_DRIVE_C", root);
  EXPECT_EQ(mapWindowsPath("c:\\..\\..\\etc\\passwd"), root + "/etc/passwd");
  EXPECT_EQ(mapWindowsPath("c:\\a\\.\\..\\b.ini"), root + "/b.ini");
}

TEST_F(PathMapping, NamesAreFoundWithoutRegardToCase) {
  ScopedEnv c("QADJ_DRIVE_C", root);
  ASSERT_TRUE(QDir(dir.path()).mkpath("Config"));
  std::ofstream(root + "/Config/MIS_SYSTEM.INI") << "[mainform]\ntop=5\n";
  EXPECT_EQ(mapWindowsPath("c:\\config\\mis_system.ini"), root + "/Config/MIS_SYSTEM.INI");
  EXPECT_EQ(
      qadj::GetPrivateProfileStringA("MainForm", "Top", "", 2048, "c:\\CONFIG\\mis_system.ini"),
      "5");
  // A name that exists nowhere maps literally.
  EXPECT_EQ(mapWindowsPath("c:\\config\\new.ini"), root + "/Config/new.ini");
}
