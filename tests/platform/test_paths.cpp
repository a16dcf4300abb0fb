#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>

#include "qadj/platform/paths.h"
#include "qadj/platform/profile.h"

using qadj::driveDirectory;
using qadj::mapWindowsPath;

namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace

TEST(DriveDirectory, EnvironmentNamesTheDrive) {
  ScopedEnv c("QADJ_DRIVE_C", "/srv/drive-c");
  EXPECT_EQ(driveDirectory('c'), "/srv/drive-c");
  EXPECT_EQ(driveDirectory('C'), "/srv/drive-c");
  EXPECT_THROW(driveDirectory('1'), std::invalid_argument);
}

TEST(DriveDirectory, DefaultsBelowTheUserConfiguration) {
  ScopedEnv c("QADJ_DRIVE_D", nullptr);
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", "/home/op");
  EXPECT_EQ(driveDirectory('D'), "/home/op/.config/qadj_vsd/d");
  ScopedEnv xdg2("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(driveDirectory('d'), "/cfg/qadj_vsd/d");
}

TEST(DriveDirectory, WithoutAHomeFolderThereIsNoSettingsFile) {
  ScopedEnv c("QADJ_DRIVE_C", nullptr);
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", nullptr);
  EXPECT_EQ(driveDirectory('c'), "");
  EXPECT_EQ(mapWindowsPath("c:\\mis_system.ini"), "");
  EXPECT_EQ(mapWindowsPath("\\mis_system.ini"), "");
  EXPECT_EQ(mapWindowsPath("mis_system.ini"), "");
  // Nothing is read from a shared folder instead.
  EXPECT_EQ(qadj::GetPrivateProfileStringA("mainform", "top", "dflt", 2048, "c:\\mis_system.ini"),
            "dflt");
  ScopedEnv relative("HOME", "relative/home");
  EXPECT_EQ(driveDirectory('c'), "");
}

class PathMapping : public ::testing::Test {
 protected:
  void SetUp() override { root = dir.path().toStdString(); }
  QTemporaryDir dir;
  std::string root;
};

TEST_F(PathMapping, DrivePathsMapBelowTheDriveDirectory) {
  ScopedEnv c("QADJ_DRIVE_C", root.c_str());
  EXPECT_EQ(mapWindowsPath("c:\\mis_system.ini"), root + "/mis_system.ini");
  EXPECT_EQ(mapWindowsPath("C:/a\\b/c.ini"), root + "/a/b/c.ini");
  EXPECT_EQ(mapWindowsPath("\\x\\y.ini"), root + "/x/y.ini");
  EXPECT_EQ(mapWindowsPath("win.ini"), root + "/windows/win.ini");
  EXPECT_EQ(mapWindowsPath("/etc/hosts"), "/etc/hosts");
}

TEST_F(PathMapping, DotDotNeverLeavesTheDrive) {
  ScopedEnv c("QADJ_DRIVE_C", root.c_str());
  EXPECT_EQ(mapWindowsPath("c:\\..\\..\\etc\\passwd"), root + "/etc/passwd");
  EXPECT_EQ(mapWindowsPath("c:\\a\\.\\..\\b.ini"), root + "/b.ini");
}

TEST_F(PathMapping, NamesAreFoundWithoutRegardToCase) {
  ScopedEnv c("QADJ_DRIVE_C", root.c_str());
  ASSERT_TRUE(QDir(dir.path()).mkpath("Config"));
  std::ofstream(root + "/Config/MIS_SYSTEM.INI") << "[mainform]\ntop=5\n";
  EXPECT_EQ(mapWindowsPath("c:\\config\\mis_system.ini"), root + "/Config/MIS_SYSTEM.INI");
  EXPECT_EQ(
      qadj::GetPrivateProfileStringA("MainForm", "Top", "", 2048, "c:\\CONFIG\\mis_system.ini"),
      "5");
  // A name that exists nowhere maps literally.
  EXPECT_EQ(mapWindowsPath("c:\\config\\new.ini"), root + "/Config/new.ini");
}
