// The notifications that controls bound through a data source receive, in order.
#include <gtest/gtest.h>

#include <functional>

#include "qadj/server/data_source.h"
#include "support/dataset_fixture.h"

namespace qadj {
namespace {

using dstest::DetailFixture;

// Writes every hook call into a log, with the data set's state at that moment.
class RecordingLink : public TDataLink {
 public:
  std::vector<std::string> log;
  std::function<void()> onUpdateData;
  std::function<void()> onCheckBrowseMode;

  std::string take() {
    std::string out;
    for (const auto& s : log) out += (out.empty() ? "" : " ") + s;
    log.clear();
    return out;
  }

 protected:
  void activeChanged() override { add("active=" + std::to_string(Active())); }
  void editingChanged() override { add("editing=" + std::to_string(Editing())); }
  void recordChanged(TField* f) override { add(f ? "field:" + f->FieldName() : "record"); }
  void dataSetChanged() override { add("changed"); }
  void recordEditEnded() override { add("edit-ended"); }
  void dataSetScrolled(int d) override { add("scroll:" + std::to_string(d)); }
  void layoutChanged() override { add("layout"); }
  void updateData() override {
    add("update");
    if (onUpdateData) onUpdateData();
  }
  void checkBrowseMode() override {
    add("check");
    if (onCheckBrowseMode) onCheckBrowseMode();
  }
  void connectChanged(bool c) override { add("connect:" + std::to_string(c)); }

 private:
  void add(std::string s) {
    static const char* names[] = {"closed", "browse", "edit", "insert"};
    const TDataSet* ds = DataSet();
    log.push_back(s + "@" + (ds ? names[static_cast<int>(ds->State())] : "none"));
  }
};

class NotificationTest : public ::testing::Test {
 protected:
  NotificationTest() : fx(3), source("DataSource2") {
    fx.ds().Close();
    source.SetDataSet(&fx.ds());
    link.SetDataSource(&source);
  }
  TDataSet& ds() { return fx.ds(); }

  DetailFixture fx;
  TDataSource source;
  RecordingLink link;
};

TEST_F(NotificationTest, OpenEditWritePostClose) {
  ds().Open();
  EXPECT_EQ(link.take(), "active=1@browse");
  ds().Edit();
  EXPECT_EQ(link.take(), "editing=1@edit record@edit");
  ds().Edit();  // already editing: silent
  EXPECT_EQ(link.take(), "");
  ds().FieldByName("TZXL00")->SetAsFloat(2);
  EXPECT_EQ(link.take(), "field:TZXL00@edit");
  ds().Post();
  EXPECT_EQ(link.take(), "check@edit update@edit editing=0@browse edit-ended@browse");
  fx.server.disconnect();
  EXPECT_EQ(link.take(), "connect:0@browse");
  ds().Close();
  EXPECT_EQ(link.take(), "active=0@closed");
}

TEST_F(NotificationTest, CancelAndDelete) {
  ds().Open();
  link.take();
  ds().Edit();
  ds().FieldByName("TZXL00")->SetAsFloat(2);
  link.take();
  ds().Cancel();
  EXPECT_EQ(link.take(), "check@edit editing=0@browse edit-ended@browse");
  ds().Cancel();  // not editing: nothing at all
  EXPECT_EQ(link.take(), "");
  ds().Delete();
  EXPECT_EQ(link.take(), "check@browse changed@browse");
  ds().Edit();
  link.take();
  ds().Delete();  // the pending edit goes with the row
  EXPECT_EQ(link.take(), "check@edit editing=0@browse changed@browse");
  EXPECT_EQ(ds().RecordCount(), 1);
}

TEST_F(NotificationTest, MovesAndFailedPost) {
  ds().Open();
  link.take();
  ds().Next();
  EXPECT_EQ(link.take(), "check@browse scroll:1@browse");
  ds().First();
  EXPECT_EQ(link.take(), "check@browse changed@browse");
  ds().Last();
  EXPECT_EQ(link.take(), "check@browse scroll:2@browse");
  ds().Next();  // already at the end: asks, moves nothing
  EXPECT_EQ(link.take(), "check@browse");
  EXPECT_THROW(ds().Post(), EDatabaseError);
  EXPECT_EQ(link.take(), "check@browse");
}

TEST_F(NotificationTest, InsertAndCloseWhileEditing) {
  ds().Open();
  link.take();
  ds().Insert();
  EXPECT_EQ(link.take(), "editing=1@insert changed@insert");
  ds().FieldByName("TZXL00")->SetAsFloat(1);
  ds().Post();  // a new record is a change of rows
  EXPECT_EQ(link.take(),
            "field:TZXL00@insert check@insert update@insert editing=0@browse changed@browse");
  ds().Insert();
  ds().Cancel();
  EXPECT_EQ(link.take(),
            "editing=1@insert changed@insert check@insert editing=0@browse changed@browse");
  ds().Insert();
  link.take();
  ds().Close();
  EXPECT_EQ(link.take(), "active=0@closed editing=0@closed");
}

TEST_F(NotificationTest, PendingValueWrittenOnUpdateDataIsPosted) {
  ds().Open();
  ds().Edit();
  link.onUpdateData = [&] { ds().FieldByName("TZXL00")->SetText("5"); };
  ds().Post();
  EXPECT_EQ(ds().FieldByName("TZXL00")->AsFloat(), 5);
  EXPECT_EQ(ds().Records()->ChangeLog().size(), 1u);
}

TEST_F(NotificationTest, PendingValueWrittenOnCheckBrowseModeIsPostedByFirst) {
  ds().Open();
  ds().Next();
  ds().Edit();
  link.take();
  link.onCheckBrowseMode = [&] {
    if (ds().State() == TDataSetState::dsEdit) ds().FieldByName("TZXL00")->SetAsFloat(6);
  };
  ds().First();
  EXPECT_EQ(link.take(),
            "check@edit field:TZXL00@edit update@edit editing=0@browse edit-ended@browse "
            "changed@browse");
  EXPECT_EQ(ds().FieldByName("TZXL00")->DisplayTextAt(1), "6");
}

TEST_F(NotificationTest, FailingUpdateDataLeavesTheRecordInEditing) {
  ds().Open();
  ds().Edit();
  ds().FieldByName("TZXL00")->SetAsFloat(1);
  link.onUpdateData = [&] { ds().FieldByName("TZXL00")->SetText("x"); };
  EXPECT_THROW(ds().Post(), EConvertError);
  EXPECT_EQ(ds().State(), TDataSetState::dsEdit);
  EXPECT_EQ(ds().FieldByName("TZXL00")->AsFloat(), 1);
  EXPECT_TRUE(ds().Records()->ChangeLog().empty());
}

TEST_F(NotificationTest, DisabledControlsHearOnlyRequestsForPendingValues) {
  ds().Open();
  ds().Next();
  link.take();
  // A walk that comes back to where it started reports nothing afterwards.
  ds().DisableControls();
  const TBookmark mark = ds().GetBookmark();
  ds().First();
  while (!ds().Eof()) ds().Next();
  ds().GotoBookmark(mark);
  ds().EnableControls();
  EXPECT_EQ(link.take(), "check@browse check@browse check@browse check@browse check@browse");
  // Ending elsewhere reports one scroll; a change of rows reports one general change.
  ds().DisableControls();
  ds().DisableControls();
  ds().Next();
  ds().EnableControls();
  EXPECT_EQ(link.take(), "check@browse");
  ds().EnableControls();
  EXPECT_EQ(link.take(), "scroll:0@browse");
  ds().DisableControls();
  ds().Edit();
  ds().FieldByName("TZXL00")->SetAsFloat(4);
  ds().Post();
  ds().EnableControls();
  EXPECT_EQ(link.take(), "check@edit update@edit changed@browse");
  ds().DisableControls();
  ds().Edit();
  ds().EnableControls();
  EXPECT_EQ(link.take(), "editing=1@edit changed@edit");
}

TEST_F(NotificationTest, BindingAndUnbindingReportActiveChanges) {
  ds().Open();
  RecordingLink late;
  late.SetDataSource(&source);
  EXPECT_EQ(late.take(), "active=1@browse");
  source.SetDataSet(nullptr);
  EXPECT_EQ(late.take(), "active=0@none");
  EXPECT_EQ(source.State(), TDataSetState::dsInactive);
  source.SetDataSet(&ds());
  EXPECT_EQ(late.take(), "active=1@browse");
  late.SetDataSource(nullptr);
  EXPECT_EQ(late.take(), "active=0@none");
}

TEST(DataSourceLifetime, EitherSideMayGoFirst) {
  RecordingLink link;
  {
    DetailFixture fx(2);
    TDataSource source;
    source.SetDataSet(&fx.ds());
    link.SetDataSource(&source);
    link.take();
    {
      // A source destroyed while bound: the data set forgets it.
      TDataSource shortLived;
      shortLived.SetDataSet(&fx.ds());
    }
    fx.ds().Next();
    EXPECT_EQ(link.take(), "check@browse scroll:1@browse");
    // The data set goes first while the source lives on: its close is reported.
    fx.sets.clientDataSet2.reset();
    EXPECT_EQ(link.take(), "active=0@closed");
    EXPECT_EQ(source.DataSet(), nullptr);
  }
  // The source is gone too; the link is unbound.
  EXPECT_EQ(link.DataSource(), nullptr);
}

}  // namespace
}  // namespace qadj
