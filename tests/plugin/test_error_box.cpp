#include <gtest/gtest.h>

#include <memory>

#include "qadj/platform/app_title.h"
#include "qadj/platform/error.h"
#include "qadj/plugin/error_box.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/widgets/message_box.h"
#include "qadj/widgets/owner_window.h"

using qadj::plugin::errorBoxText;

TEST(ErrorBoxText, PeriodAddedAfterCharactersSortingAfterPeriod) {
  EXPECT_EQ(errorBoxText("Done."), "Done.");
  EXPECT_EQ(errorBoxText("Code 42"), "Code 42.");
  EXPECT_EQ(errorBoxText("Field 'X' not found"), "Field 'X' not found.");
  EXPECT_EQ(errorBoxText("Reason:"), "Reason:.");
  // A Chinese (double-byte GBK) character counts as one character after ".".
  EXPECT_EQ(errorBoxText("\xB3\xAC\xB9\xFD"), "\xB3\xAC\xB9\xFD.");
}

TEST(ErrorBoxText, NoPeriodAfterBytesAtOrBelowPeriod) {
  EXPECT_EQ(errorBoxText(""), "");
  EXPECT_EQ(errorBoxText("line\n"), "line\n");
  EXPECT_EQ(errorBoxText("(see above)"), "(see above)");
  EXPECT_EQ(errorBoxText("stop!"), "stop!");
  EXPECT_EQ(errorBoxText("a, "), "a, ");
  EXPECT_EQ(errorBoxText("a,"), "a,");
}

class ErrorBoxTest : public ::testing::Test {
 protected:
  std::shared_ptr<qadj::ScriptedMessageBoxService> boxes =
      std::make_shared<qadj::ScriptedMessageBoxService>();
  qadj::ScopedMessageBoxService scope{boxes};
};

TEST_F(ErrorBoxTest, ShowsStopBoxWithTitleOwnedByHostWindow) {
  qadj::setApplicationOwnerHandle(0x1234);
  qadj::plugin::showErrorBox(std::make_exception_ptr(qadj::Exception("Server gone")));
  ASSERT_EQ(boxes->calls().size(), 1u);
  const auto& call = boxes->calls()[0];
  EXPECT_EQ(call.text, "Server gone.");
  EXPECT_EQ(call.caption, qadj::applicationTitle());
  EXPECT_EQ(call.flags, 0x10u);
  EXPECT_EQ(call.owner.nativeHandle, 0x1234u);
  qadj::setApplicationOwnerHandle(0);
}

TEST_F(ErrorBoxTest, AbortShowsNothingThroughTheErrorFrame) {
  qadj::plugin::installErrorReporter();
  bool after = false;
  qadj::guarded([&] {
    throw qadj::EAbort();
    after = true;
  });
  EXPECT_FALSE(after);
  EXPECT_TRUE(boxes->calls().empty());
  qadj::guarded([] { throw qadj::EDatabaseError("Public_qry: Field 'CKDM00' not found"); });
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_EQ(boxes->calls()[0].text, "Public_qry: Field 'CKDM00' not found.");
}
