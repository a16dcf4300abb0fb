#include <gtest/gtest.h>

#include "options.h"

using qadj::host::parseOptions;

TEST(HostOptions, OperatorAndServerHostWithOptions) {
  std::string error;
  auto o =
      parseOptions({"--plugin", "/x/libqadj_vsd.so", "--owner", "0x2a", "0001", "srv:7311"}, error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->pluginPath, "/x/libqadj_vsd.so");
  EXPECT_EQ(o->ownerXid, 42u);
  EXPECT_EQ(o->operatorCode, "0001");
  EXPECT_EQ(o->serverHost, "srv:7311");
  EXPECT_TRUE(o->embeddedServer);
}

TEST(HostOptions, ServerHostMayBeEmptyOrOmitted) {
  std::string error;
  auto a = parseOptions({"0001", ""}, error);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->serverHost, "");
  auto b = parseOptions({"--no-embedded", "--seed-demo", "0001"}, error);
  ASSERT_TRUE(b);
  EXPECT_FALSE(b->embeddedServer);
  EXPECT_TRUE(b->seedDemo);
  EXPECT_EQ(b->serverHost, "");
}

TEST(HostOptions, RejectsBadCommandLines) {
  std::string error;
  EXPECT_FALSE(parseOptions({}, error));
  EXPECT_FALSE(parseOptions({"--owner", "abc", "0001"}, error));
  EXPECT_EQ(error, "--owner needs a window id");
  EXPECT_FALSE(parseOptions({"--plugin"}, error));
  EXPECT_FALSE(parseOptions({"--bogus", "0001"}, error));
  EXPECT_FALSE(parseOptions({"a", "b", "c"}, error));
}
