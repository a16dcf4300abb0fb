// The connection hands every data set the same record-set interface while it stays
// connected (asking a remote object again costs a call), and lets go of it with the
// object when it disconnects.
#include <gtest/gtest.h>

#include "qadj/server/connection.h"
#include "qadj/server/dispatch_app_server.h"
#include "qadj/testing/com_scope.h"
#include "support/test_objects.h"

namespace qadj {
namespace {

using test::TestServerObject;

class ConnectionInterface : public ::testing::Test {
 protected:
  qadj::testing::ComScope com_;  // first: it outlives every object below
  void SetUp() override {
    test::RevokeTestClassesInProcess();
    baseline_ = TestServerObject::liveCount();
  }
  void TearDown() override { test::RevokeTestClassesInProcess(); }
  int baseline_ = 0;
};

std::u16string fetchText(IAppServer& server, const std::u16string& command) {
  std::int32_t recs = 0;
  com::Variant params, owner, result;
  if (com::failed(server.FetchRecords(u"PUBLIC_DSP", -1, recs, 0, command, params, owner, result)))
    return u"<failed>";
  const auto& bytes = result.asBytes();
  return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
}

TEST_F(ConnectionInterface, RemoteObjectIsAskedOnceAndReleasedOnDisconnect) {
  test::TestServerFixture fixture;
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestServer.toString());
  c.SetComputerName(fixture.host());
  auto first = c.GetRecordSetInterface();
  ASSERT_TRUE(first);
  EXPECT_EQ(c.GetRecordSetInterface(), first);
  EXPECT_EQ(fetchText(*first, u"abc"), u"abc");
  EXPECT_EQ(fixture.remote().objectCount(), 1u);

  // A data set still holding the old interface keeps only that proxy: the connection
  // drops its own, and a new connect asks the new object.
  c.Disconnect();
  EXPECT_FALSE(c.Connected());
  auto second = c.GetRecordSetInterface();
  EXPECT_NE(second, first);
  EXPECT_EQ(c.GetRecordSetInterface(), second);
  EXPECT_EQ(fetchText(*second, u"def"), u"def");
  second.reset();
  c.Disconnect();  // the connection's own reference was the last one to the new object
  EXPECT_TRUE(TestServerObject::waitForLiveCount(baseline_ + 1, std::chrono::seconds(10)));
  first.reset();
  EXPECT_TRUE(TestServerObject::waitForLiveCount(baseline_, std::chrono::seconds(10)));
}

TEST_F(ConnectionInterface, InProcessObjectGoesAwayWithTheConnection) {
  test::RegisterTestClassesInProcess();
  {
    TDCOMConnection c;
    c.SetServerGUID(test::CLSID_TestServer.toString());
    const auto server = c.GetRecordSetInterface();
    EXPECT_EQ(c.GetRecordSetInterface(), server);
    EXPECT_EQ(TestServerObject::liveCount(), baseline_ + 1);
  }
  EXPECT_EQ(TestServerObject::liveCount(), baseline_);
}

TEST_F(ConnectionInterface, DispatchOnlyObjectGetsOneWrapperPerConnect) {
  test::RegisterTestClassesInProcess();
  TDCOMConnection c;
  c.SetServerGUID(test::CLSID_TestDispatchOnly.toString());
  const auto wrapper = c.GetRecordSetInterface();
  ASSERT_TRUE(std::dynamic_pointer_cast<TDispatchAppServer>(wrapper));
  EXPECT_EQ(c.GetRecordSetInterface(), wrapper);
  EXPECT_EQ(fetchText(*wrapper, u"ghi"), u"ghi");
  c.Disconnect();
  const auto next = c.GetRecordSetInterface();
  EXPECT_NE(next, wrapper);
  EXPECT_TRUE(std::dynamic_pointer_cast<TDispatchAppServer>(next));
}

}  // namespace
}  // namespace qadj
