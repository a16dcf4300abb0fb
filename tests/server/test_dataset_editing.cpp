// The rows of an open data set: cursor, reading, local editing, bookmarks, Locate,
// and that a failed operation leaves state, current row and values as they were.
#include <gtest/gtest.h>

#include "qadj/server/client_dataset.h"
#include "support/dataset_fixture.h"

namespace qadj {
namespace {

using dstest::DetailFixture;
using dstest::errorText;

// Everything an operation could disturb, for failure-atomicity checks.
struct Snapshot {
  TDataSetState state;
  int current;
  bool eof, bof;
  int count;
  std::string values;
  friend bool operator==(const Snapshot&, const Snapshot&) = default;
};

Snapshot snapshot(TDataSet& ds) {
  std::string values;
  for (int i = 0; i < ds.RecordCount(); ++i)
    for (TField* f : ds.Fields()) values += f->DisplayTextAt(i) + "|";
  return {ds.State(), ds.CurrentIndex(), ds.Eof(), ds.Bof(), ds.RecordCount(), values};
}

TEST(DataSetCursor, WalkReadsEveryRowAndStopsOnTheLast) {
  DetailFixture fx(3);
  auto& ds = fx.ds();
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 1);
  std::string seen;
  while (!ds.Eof()) {
    seen += ds.FieldByName("FXRY00")->AsString() + "=" + ds.FieldByName("XL0000")->AsString() + ";";
    ds.Next();
  }
  EXPECT_EQ(seen, "0000=50;0001=51;0002=52;");
  // Next on the last row set Eof and left the last row current; another does nothing.
  EXPECT_EQ(ds.CurrentIndex(), 2);
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0002");
  ds.First();
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(ds.CurrentIndex(), 0);
}

TEST(DataSetCursor, PriorLastAndMoveBy) {
  DetailFixture fx(5);
  auto& ds = fx.ds();
  ds.Last();
  EXPECT_EQ(ds.CurrentIndex(), 4);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.MoveBy(-2), -2);
  EXPECT_EQ(ds.CurrentIndex(), 2);
  EXPECT_EQ(ds.MoveBy(10), 2);
  EXPECT_EQ(ds.MoveBy(-10), -4);
  EXPECT_TRUE(ds.Bof());
  ds.Next();
  ds.Prior();
  EXPECT_EQ(ds.CurrentIndex(), 0);
  EXPECT_FALSE(ds.Bof());
  ds.Prior();
  EXPECT_TRUE(ds.Bof());
}

TEST(DataSetCursor, EmptyResultOpensWithoutCurrentRow) {
  DetailFixture fx(0);
  auto& ds = fx.ds();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "");
  EXPECT_EQ(ds.FieldByName("XL0000")->AsFloat(), 0);
  ds.First();
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.GetBookmark().IsNull());
  EXPECT_EQ(errorText([&] { ds.Delete(); }),
            "ClientDataSet2: Cannot perform this operation on an empty dataset");
}

TEST(DataSetCursor, ClosedDataSetTexts) {
  DetailFixture fx(2);
  auto& ds = fx.ds();
  ds.Close();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecordCount(), 0);
  EXPECT_EQ(ds.FieldByName("XL0000")->AsString(), "");
  const std::string closed = "ClientDataSet2: Cannot perform this operation on a closed dataset";
  EXPECT_EQ(errorText([&] { ds.First(); }), closed);
  EXPECT_EQ(errorText([&] { ds.Next(); }), closed);
  EXPECT_EQ(errorText([&] { ds.Edit(); }), closed);
  EXPECT_EQ(errorText([&] { ds.Insert(); }), closed);
  EXPECT_EQ(errorText([&] { ds.Append(); }), closed);
  EXPECT_EQ(errorText([&] { ds.Delete(); }), closed);
  EXPECT_EQ(errorText([&] { ds.Post(); }), "ClientDataSet2: Dataset not in edit or insert mode");
  EXPECT_EQ(errorText([&] { ds.FieldByName("TZXL00")->SetAsFloat(1); }),
            "ClientDataSet2: Dataset not in edit or insert mode");
  ds.Cancel();  // nothing to cancel: no error
  EXPECT_EQ(ds.State(), TDataSetState::dsInactive);
}

TEST(DataSetEditing, EditWritePostKeepsTheRowCurrentAndLogsTheChange) {
  DetailFixture fx(3);
  auto& ds = fx.ds();
  ds.Next();
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  ds.Edit();  // the second Edit does nothing
  EXPECT_EQ(ds.State(), TDataSetState::dsEdit);
  EXPECT_FALSE(ds.Modified());
  ds.FieldByName("TZXL00")->SetAsFloat(0);  // writing 0 succeeds
  EXPECT_TRUE(ds.Modified());
  ds.FieldByName("tzxl00")->SetAsFloat(2.5);
  EXPECT_EQ(ds.FieldByName("TZXL00")->DisplayTextAt(1), "2.5");  // pending value is visible
  ds.Post();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.CurrentIndex(), 1);
  EXPECT_EQ(ds.FieldByName("TZXL00")->AsString(), "2.5");
  const auto& log = ds.Records()->ChangeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].kind, RecordSet::ChangeKind::Modified);
  EXPECT_EQ(std::get<double>(log[0].oldValues[5]), 0.0);
  EXPECT_EQ(std::get<double>(log[0].newValues[5]), 2.5);
  // Nothing reached the server; Close and Open bring the server's values back.
  EXPECT_EQ(fx.server.appServer->fetches(), 1);
  ds.Close();
  ds.Open();
  ds.Next();
  EXPECT_EQ(ds.FieldByName("TZXL00")->AsString(), "0");
}

TEST(DataSetEditing, PostWithoutEditFailsAndChangesNothing) {
  DetailFixture fx(2);
  auto& ds = fx.ds();
  const Snapshot before = snapshot(ds);
  EXPECT_EQ(errorText([&] { ds.Post(); }), "ClientDataSet2: Dataset not in edit or insert mode");
  EXPECT_EQ(snapshot(ds), before);
}

TEST(DataSetEditing, ReadOnlyFieldRefusesWritesWithoutTheName) {
  DetailFixture fx(2);
  auto& ds = fx.ds();
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(7);
  const Snapshot before = snapshot(ds);
  EXPECT_EQ(errorText([&] { ds.FieldByName("XL0000")->SetAsFloat(1); }),
            "Field 'XL0000' cannot be modified");
  EXPECT_EQ(errorText([&] { ds.FieldByName("SPDM00")->SetText("x"); }),
            "Field 'SPDM00' cannot be modified");
  EXPECT_EQ(errorText([&] { ds.FieldByName("XL0000")->Clear(); }),
            "Field 'XL0000' cannot be modified");
  EXPECT_EQ(snapshot(ds), before);
  EXPECT_FALSE(ds.FieldByName("XL0000")->CanModify());
  EXPECT_TRUE(ds.FieldByName("TZXL00")->CanModify());
}

TEST(DataSetEditing, BadFloatTextKeepsTheOldValue) {
  DetailFixture fx(2);
  auto& ds = fx.ds();
  ds.Edit();
  TField* f = ds.FieldByName("TZXL00");
  f->SetText("12.5");
  const Snapshot before = snapshot(ds);
  EXPECT_EQ(errorText([&] { f->SetText("+"); }),
            "'+' is not a valid floating point value for field 'TZXL00'");
  EXPECT_EQ(errorText([&] { f->SetText("1,5"); }),
            "'1,5' is not a valid floating point value for field 'TZXL00'");
  EXPECT_EQ(snapshot(ds), before);
  EXPECT_TRUE(f->IsValidChar('e'));
  EXPECT_FALSE(f->IsValidChar(','));
  EXPECT_TRUE(ds.FieldByName("SPMC00")->IsValidChar(','));
  f->SetText("");
  EXPECT_TRUE(f->IsNull());
  EXPECT_EQ(f->AsString(), "");
  EXPECT_EQ(f->AsFloat(), 0);
}

TEST(DataSetEditing, CancelRestoresTheStoredValues) {
  DetailFixture fx(2);
  auto& ds = fx.ds();
  const Snapshot before = snapshot(ds);
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(9);
  ds.Cancel();
  EXPECT_EQ(snapshot(ds), before);
  EXPECT_TRUE(ds.Records()->ChangeLog().empty());
}

TEST(DataSetEditing, MovingPostsAModifiedRowAndCancelsAnUntouchedOne) {
  DetailFixture fx(3);
  auto& ds = fx.ds();
  ds.Edit();
  ds.Next();  // untouched: cancelled
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(ds.Records()->ChangeLog().empty());
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(3);
  ds.First();  // modified: posted
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(ds.FieldByName("TZXL00")->DisplayTextAt(1), "3");
  EXPECT_EQ(ds.Records()->ChangeLog().size(), 1u);
}

TEST(DataSetEditing, EditOnAnEmptySetInsertsAndPostAddsTheRow) {
  DetailFixture fx(0);
  auto& ds = fx.ds();
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_TRUE(ds.FieldByName("FXRY00")->IsNull());
  ds.FieldByName("TZXL00")->SetAsFloat(4);
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_FALSE(ds.IsEmpty());
  EXPECT_EQ(ds.FieldByName("TZXL00")->AsFloat(), 4);
  ASSERT_EQ(ds.Records()->ChangeLog().size(), 1u);
  EXPECT_EQ(ds.Records()->ChangeLog()[0].kind, RecordSet::ChangeKind::Inserted);
}

TEST(DataSetEditing, InsertGoesBeforeTheCurrentRowAppendAfterTheLast) {
  DetailFixture fx(3);
  auto& ds = fx.ds();
  ds.Next();
  ds.Insert();
  EXPECT_EQ(ds.State(), TDataSetState::dsInsert);
  EXPECT_EQ(fx.codes(), "0000,-,0001,0002");
  EXPECT_EQ(ds.CurrentIndex(), 1);
  ds.Cancel();  // the inserted row disappears, the old row is current again
  EXPECT_EQ(fx.codes(), "0000,0001,0002");
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0001");
  ds.Append();
  EXPECT_EQ(fx.codes(), "0000,0001,0002,-");
  EXPECT_EQ(ds.CurrentIndex(), 3);
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0001");
  ds.Append();
  ds.FieldByName("TZXL00")->SetAsFloat(1);
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(ds.CurrentIndex(), 3);
}

TEST(DataSetEditing, DeleteMakesTheFollowingRowCurrent) {
  DetailFixture fx(3);
  auto& ds = fx.ds();
  ds.Next();
  ds.Delete();
  EXPECT_EQ(fx.codes(), "0000,0002");
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0002");
  ds.Delete();  // the last one: the new last row becomes current
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0000");
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_EQ(ds.Records()->ChangeLog().size(), 3u);
  EXPECT_EQ(errorText([&] { ds.Delete(); }),
            "ClientDataSet2: Cannot perform this operation on an empty dataset");
}

TEST(DataSetEditing, DeleteWhileInsertingCancelsTheInsert) {
  DetailFixture fx(2);
  auto& ds = fx.ds();
  ds.Insert();
  ds.Delete();
  EXPECT_EQ(ds.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(fx.codes(), "0000,0001");
  EXPECT_TRUE(ds.Records()->ChangeLog().empty());
}

TEST(DataSetEditing, PacketRefusalsLeaveEverythingAsBefore) {
  DetailFixture ro(2, [](packet::Packet& p) { p.readOnly = true; });
  Snapshot before = snapshot(ro.ds());
  const std::string readOnly = "ClientDataSet2: Cannot modify a read-only dataset";
  EXPECT_EQ(errorText([&] { ro.ds().Edit(); }), readOnly);
  EXPECT_EQ(errorText([&] { ro.ds().Insert(); }), readOnly);
  EXPECT_EQ(errorText([&] { ro.ds().Append(); }), readOnly);
  EXPECT_EQ(errorText([&] { ro.ds().Delete(); }), readOnly);
  EXPECT_EQ(snapshot(ro.ds()), before);
  EXPECT_FALSE(ro.ds().CanModify());
  EXPECT_FALSE(ro.ds().FieldByName("TZXL00")->CanModify());

  DetailFixture limited(
      2, [](packet::Packet& p) { p.disableEdits = p.disableInserts = p.disableDeletes = true; });
  auto& ds = limited.ds();
  ds.Next();
  before = snapshot(ds);
  EXPECT_EQ(errorText([&] { ds.Edit(); }), "ClientDataSet2: Modifications are not allowed");
  EXPECT_EQ(errorText([&] { ds.Insert(); }), "ClientDataSet2: Inserts are not allowed");
  EXPECT_EQ(errorText([&] { ds.Append(); }), "ClientDataSet2: Inserts are not allowed");
  EXPECT_EQ(errorText([&] { ds.Delete(); }), "ClientDataSet2: Deletes are not allowed");
  EXPECT_EQ(snapshot(ds), before);
}

TEST(DataSetEditing, RefusedInsertKeepsAPendingEdit) {
  DetailFixture fx(2, [](packet::Packet& p) { p.disableInserts = true; });
  auto& ds = fx.ds();
  ds.Edit();
  ds.FieldByName("TZXL00")->SetAsFloat(8);
  const Snapshot before = snapshot(ds);
  EXPECT_EQ(errorText([&] { ds.Insert(); }), "ClientDataSet2: Inserts are not allowed");
  EXPECT_EQ(snapshot(ds), before);
  EXPECT_TRUE(ds.Modified());
}

TEST(DataSetBookmarks, TakeGoToCompareAndInvalidate) {
  DetailFixture fx(4);
  auto& ds = fx.ds();
  ds.Next();
  TBookmark second = ds.GetBookmark();
  ds.Next();
  ds.Next();
  TBookmark fourth = ds.GetBookmark();
  EXPECT_TRUE(ds.BookmarkValid(second));
  EXPECT_EQ(ds.CompareBookmarks(second, fourth), -1);
  EXPECT_EQ(ds.CompareBookmarks(fourth, second), 1);
  EXPECT_EQ(ds.CompareBookmarks(second, second), 0);
  ds.GotoBookmark(second);
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0001");
  EXPECT_FALSE(ds.Eof());
  // Rows inserted before it do not disturb a mark.
  ds.First();
  ds.Insert();
  ds.FieldByName("TZXL00")->SetAsFloat(1);
  ds.Post();
  ds.GotoBookmark(second);
  EXPECT_EQ(ds.FieldByName("FXRY00")->AsString(), "0001");
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(second));
  EXPECT_EQ(ds.CompareBookmarks(second, fourth), -1);
  const Snapshot before = snapshot(ds);
  EXPECT_EQ(errorText([&] { ds.GotoBookmark(second); }), "ClientDataSet2: Record not found");
  EXPECT_EQ(snapshot(ds), before);
  ds.FreeBookmark(second);
  EXPECT_TRUE(second.IsNull());
  // A reopened data set knows none of the old marks.
  ds.Close();
  ds.Open();
  ds.Last();
  EXPECT_FALSE(ds.BookmarkValid(TBookmark{}));
}

TEST(DataSetBookmarks, LocateByFieldValue) {
  DetailFixture fx(5);
  auto& ds = fx.ds();
  EXPECT_TRUE(ds.Locate("FXRY00", std::string("0003")));
  EXPECT_EQ(ds.CurrentIndex(), 3);
  EXPECT_TRUE(ds.Locate("xl0000", 51.0));
  EXPECT_EQ(ds.CurrentIndex(), 1);
  EXPECT_FALSE(ds.Locate("FXRY00", std::string("9999")));
  EXPECT_EQ(ds.CurrentIndex(), 1);
  EXPECT_TRUE(ds.Locate("SPMC00", std::string("\xBE\xED\xD1\xCC  ultra"),
                        {.caseInsensitive = true, .partialKey = true}));
  EXPECT_EQ(ds.CurrentIndex(), 0);
  EXPECT_EQ(errorText([&] { ds.Locate("NOPE", std::string("x")); }),
            "ClientDataSet2: Field 'NOPE' not found");
}

}  // namespace
}  // namespace qadj
