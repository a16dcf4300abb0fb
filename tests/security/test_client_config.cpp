// Where the client finds its token and certificate authority: the environment first,
// then the client folder; a token file others can read is refused, a named authority
// file that cannot be used is an error.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "qadj/com/client_config.h"
#include "support/remote_calls.h"
#include "support/tls_material.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

class ClientConfig : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  std::string path() const { return dir.path().toStdString(); }

  QTemporaryDir dir;
};

TEST_F(ClientConfig, TheFolderComesFromQadjClientDirThenXdgThenHome) {
  ScopedEnv home("HOME", "/home/op");
  ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
  {
    ClientEnv env(path(), "", "");
    EXPECT_EQ(com::ClientConfigDir(), path());
  }
  ClientEnv env("", "", "");
  EXPECT_EQ(com::ClientConfigDir(), "/cfg/qadj");
  xdg.set(std::nullopt);
  EXPECT_EQ(com::ClientConfigDir(), "/home/op/.config/qadj");
}

TEST_F(ClientConfig, TokenFromTheEnvironmentElseFromAPrivateFile) {
  {
    ClientEnv env(path(), "", "");
    const auto none = com::LoadClientSecurity();
    EXPECT_EQ(none.token, "");
    EXPECT_EQ(none.warning, "");
    EXPECT_EQ(none.caFile, "");
    EXPECT_EQ(none.problem, "");
  }
  writeFile(path() + "/token", "  s3cret \r\nsecond line\n", 0600);
  {
    ClientEnv env(path(), "", "");
    EXPECT_EQ(com::LoadClientSecurity().token, "s3cret");
  }
  {
    ClientEnv env(path(), "from-env", "");
    EXPECT_EQ(com::LoadClientSecurity().token, "from-env");
  }
  for (unsigned mode : {0640u, 0604u, 0620u, 0660u}) {
    writeFile(path() + "/token", "s3cret\n", mode);
    ClientEnv env(path(), "", "");
    const auto loose = com::LoadClientSecurity();
    EXPECT_EQ(loose.token, "") << std::oct << mode;
    EXPECT_NE(loose.warning.find("chmod 600"), std::string::npos) << loose.warning;
    EXPECT_EQ(loose.problem, "");
  }
}

TEST_F(ClientConfig, AuthorityFromTheEnvironmentElseTheFolderAndNeverSilentlyMissing) {
  const std::string pem = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
  writeFile(path() + "/ca.pem", pem, 0644);
  writeFile(path() + "/other.pem", pem + "\n", 0644);
  {
    ClientEnv env(path(), "", "");
    const auto s = com::LoadClientSecurity();
    EXPECT_EQ(s.caFile, path() + "/ca.pem");
    EXPECT_EQ(s.caPem, pem);
    EXPECT_EQ(s.problem, "");
  }
  {
    ClientEnv env(path(), "", path() + "/other.pem");
    EXPECT_EQ(com::LoadClientSecurity().caPem, pem + "\n");
  }
  {
    ClientEnv env(path(), "", path() + "/absent.pem");
    const auto s = com::LoadClientSecurity();
    EXPECT_EQ(s.caPem, "");
    EXPECT_EQ(s.problem, "cannot read the certificate authority file " + path() + "/absent.pem");
  }
  writeFile(path() + "/ca.pem", "not a certificate\n", 0644);
  {
    ClientEnv env(path(), "", "");
    const auto s = com::LoadClientSecurity();
    EXPECT_EQ(s.caPem, "");
    EXPECT_NE(s.problem.find("holds no PEM certificate"), std::string::npos) << s.problem;
  }
}

}  // namespace
