// The window's handlers against the real application server on a test database,
// in-process and over gRPC.
#include <QLineEdit>
#include <QTest>
#include <algorithm>

#include "qadj/appserver/save_record.h"
#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/fields.h"
#include "qadj/testing/databases.h"
#include "qadj/testing/shorthand.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/window/date_picker.h"
#include "support/window_fixture.h"

using namespace qadj;
using namespace qadj::testing;

namespace {

class Handlers : public WindowFixture {};

std::vector<std::string> entries(TFlatComboBox* box) {
  std::vector<std::string> out;
  for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i).toStdString());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST_P(Handlers, ActivationFillsTheListAndShowsThePrompt) {
  auto& w = openWindow("0001");
  EXPECT_EQ(context.WarehouseCode, "01");
  EXPECT_EQ(entries(w.RYMC),
            (std::vector<std::string>{"0012 | 张三", "0013 | 李四", "0015 | 王五", "0016 | 孙七"}));
  EXPECT_EQ(w.RYMC->currentText(), QStringLiteral("请选择访销员"));
  EXPECT_EQ(w.RYMC->currentIndex(), -1);
  EXPECT_EQ(w.DateTimePicker1->value(), QDate(2026, 12, 8));
  EXPECT_FALSE(w.Public_qry->Active());
  EXPECT_FALSE(w.ClientDataSet1->Active());
  EXPECT_TRUE(boxes->calls().empty());
  EXPECT_TRUE(log->snapshotQadj().empty());
}

TEST_P(Handlers, OperatorsWithoutWarehouseOrSalespersonsGetAnEmptyList) {
  auto& w = openWindow("9999");
  EXPECT_EQ(context.WarehouseCode, "");
  EXPECT_EQ(w.RYMC->count(), 0);
  EXPECT_EQ(w.RYMC->currentText(), QStringLiteral("请选择访销员"));
  openWindow("0002");
  EXPECT_EQ(context.WarehouseCode, "09");
  EXPECT_EQ(form->RYMC->count(), 0);
  // A quote in the operator code is written doubled and changes no statement.
  openWindow("O'1");
  EXPECT_EQ(context.WarehouseCode, "01");
  EXPECT_EQ(form->RYMC->count(), 4);
  EXPECT_TRUE(boxes->calls().empty());
}

TEST_P(Handlers, PickingAnEntryPreparesAndLoadsThatSalespersonsProducts) {
  auto& w = openWindow();
  pickSalesperson("0012");
  EXPECT_EQ(log->snapshotQadj(), std::vector<std::string>{"0012"});
  ASSERT_TRUE(w.ClientDataSet1->Active());
  EXPECT_EQ(w.ClientDataSet1->RecordCount(), 3);  // P001, P002, P003
  ASSERT_TRUE(w.ClientDataSet1->Locate("SPDM00", TValue(std::string("P003"))));
  EXPECT_EQ(w.ClientDataSet1->FieldByName("XL0000")->AsFloat(), 20);
  EXPECT_EQ(w.ClientDataSet1->FieldByName("YFXSL0")->AsFloat(), 8);
  EXPECT_EQ(w.ClientDataSet1->FieldByName("KTZXL0")->AsFloat(), 12);
}

TEST_P(Handlers, TypingCallsTheServerAtEveryKeystroke) {
  auto& w = openWindow();
  w.RYMC->lineEdit()->clear();
  w.RYMC->setFocus();
  QTest::keyClicks(w.RYMC->lineEdit(), QStringLiteral("0013"));
  EXPECT_EQ(log->snapshotQadj(), (std::vector<std::string>{"0", "00", "001", "0013"}));
  EXPECT_EQ(w.ClientDataSet1->RecordCount(), 3);
  // A quote typed into the list reaches the server as a value, never as SQL.
  w.RYMC->lineEdit()->clear();
  QTest::keyClicks(w.RYMC->lineEdit(), QStringLiteral("'"));
  EXPECT_EQ(log->snapshotQadj().back(), "'");
  EXPECT_TRUE(w.ClientDataSet1->Active());
  EXPECT_TRUE(w.ClientDataSet1->IsEmpty());
  EXPECT_TRUE(boxes->calls().empty());
}

TEST_P(Handlers, DetailListsOtherSalespersonsOfTheWarehouseOnly) {
  auto& w = openDetail("0012", "P001");
  EXPECT_EQ(context.ProductCode, "P001");
  EXPECT_EQ(context.AdjustableQuantity, 10);
  auto receivers = detailReceivers();
  std::sort(receivers.begin(), receivers.end());
  EXPECT_EQ(receivers, (std::vector<std::string>{"0013", "0015", "0016"}));
  EXPECT_EQ(adjustmentFooter(), "0.00");
  // Two documents on one date both contribute.
  clickProduct("P002");
  receivers = detailReceivers();
  std::sort(receivers.begin(), receivers.end());
  EXPECT_EQ(receivers, (std::vector<std::string>{"0013", "0015", "0016"}));
  EXPECT_EQ(w.ClientDataSet2->FieldByName("RYMC00")->AsString().empty(), false);
}

TEST_P(Handlers, DateChangeEmptiesBothGridsAndKeepsTheEntries) {
  auto& w = openDetail("0012", "P001");
  ASSERT_TRUE(w.ClientDataSet2->Active());
  w.DateTimePicker1->setFocus();
  QTest::keyClick(w.DateTimePicker1, Qt::Key_Up);
  EXPECT_NE(w.DateTimePicker1->value(), QDate(2026, 12, 8));
  EXPECT_FALSE(w.ClientDataSet1->Active());
  EXPECT_FALSE(w.ClientDataSet2->Active());
  EXPECT_EQ(w.RYMC->count(), 4);
  EXPECT_EQ(w.RYMC->currentText(), QStringLiteral("请选择访销员"));
}

TEST_P(Handlers, ClickOnAClosedProductGridClearsTheProductAndKeepsTheDetail) {
  auto& w = openDetail("0012", "P001");
  w.ClientDataSet1->Close();
  guarded([&] { w.dxDBGrid1Click(); });
  EXPECT_EQ(context.ProductCode, "");
  EXPECT_EQ(context.AdjustableQuantity, 0);
  EXPECT_TRUE(w.ClientDataSet2->Active());
  EXPECT_EQ(w.ClientDataSet2->RecordCount(), 3);
}

TEST_P(Handlers, TotalAboveTheAdjustableQuantityIsRefused) {
  openDetail("0012", "P001");  // adjustable 10
  adjust("0013", 4);
  adjust("0015", 6);
  EXPECT_EQ(adjustmentFooter(), "10.00");
  EXPECT_TRUE(boxes->calls().empty());
  adjust("0013", 5);
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_EQ(boxes->calls()[0].text, gbk("超过访销员的限量"));
  EXPECT_EQ(boxes->calls()[0].caption, gbk("提示"));
  EXPECT_EQ(boxes->calls()[0].flags, 0u);
  EXPECT_EQ(adjustmentFooter(), "6.00");
  EXPECT_EQ(form->ClientDataSet2->FieldByName("TZXL00")->AsFloat(), 0);
}

TEST_P(Handlers, SaveMovesTheQuotaAsOneUnitAndReloads) {
  auto& w = openDetail("0012", "P001");
  const double before = data().sum("D1", "P001");
  adjust("0013", 3);
  adjust("0015", 0);
  adjust("0016", 2);
  log->clear();
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 1u);  // the confirmation only
  EXPECT_EQ(boxes->calls()[0].text, gbk("确定是否修改限量吗?"));
  EXPECT_EQ(boxes->calls()[0].flags, 1u);
  const auto executes = log->snapshotExecutes();
  ASSERT_EQ(executes.size(), 1u);
  EXPECT_NE(executes[0].find("XL0000=XL0000+3 where  DHAO00='D1' AND FXRY00='0013'"),
            std::string::npos);
  EXPECT_NE(executes[0].find("XL0000=XL0000+0 where  DHAO00='D1' AND FXRY00='0015'"),
            std::string::npos);
  EXPECT_NE(executes[0].find("XL0000=XL0000-5.00 WHERE  DHAO00='D1' AND FXRY00='0012' AND "
                             "SPDM00='P001'"),
            std::string::npos);
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 8);
  EXPECT_EQ(data().quota("D1", "0015", "P001"), 7);
  EXPECT_EQ(data().quota("D1", "0016", "P001"), 4);
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 5);
  EXPECT_DOUBLE_EQ(data().sum("D1", "P001"), before);
  // Both grids reloaded: new quotas, adjustments back at 0, the new limit in force.
  EXPECT_EQ(log->snapshotQadj(), std::vector<std::string>{"0012"});
  EXPECT_EQ(adjustmentFooter(), "0.00");
  ASSERT_TRUE(w.ClientDataSet2->Locate("FXRY00", TValue(std::string("0013"))));
  EXPECT_EQ(w.ClientDataSet2->FieldByName("XL0000")->AsFloat(), 8);
  EXPECT_EQ(context.AdjustableQuantity, 5);
  adjust("0015", 6);
  EXPECT_EQ(boxes->calls().size(), 2u);
  EXPECT_EQ(adjustmentFooter(), "0.00");
}

TEST_P(Handlers, NegativeAdjustmentsRaiseTheGiver) {
  auto& w = openDetail("0012", "P001");
  adjust("0013", -2);
  log->clear();
  guarded([&] { w.tbokClick(); });
  const auto executes = log->snapshotExecutes();
  ASSERT_EQ(executes.size(), 1u);
  EXPECT_NE(executes[0].find("XL0000=XL0000+-2 where"), std::string::npos);
  EXPECT_EQ(executes[0].find("--"), std::string::npos);
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 3);
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 12);
}

TEST_P(Handlers, CancelOrNoDocumentSendsNothing) {
  auto& w = openDetail("0012", "P001");
  adjust("0013", 1);
  boxes->answerNext(IDCANCEL);
  log->clear();
  guarded([&] { w.tbokClick(); });
  EXPECT_TRUE(log->snapshotFetches().empty());
  EXPECT_TRUE(log->snapshotExecutes().empty());

  w.DateTimePicker1->setValue(QDate(2026, 12, 20));
  guarded([&] { w.tbokClick(); });
  EXPECT_EQ(boxes->calls().size(), 2u);  // the two confirmations, nothing else
  EXPECT_TRUE(log->snapshotExecutes().empty());
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 5);
}

TEST_P(Handlers, SaveWithTheDetailClosedReportsTheClosedDataSet) {
  auto& w = openWindow();
  pickSalesperson("0012");
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_EQ(boxes->calls()[1].text,
            "ClientDataSet2: Cannot perform this operation on a closed dataset.");
  EXPECT_TRUE(log->snapshotExecutes().empty());
}

TEST_P(Handlers, ARefusedStatementChangesNoLine) {
  data().refuseUpdatesOf("0016");
  auto& w = openDetail("0012", "P001");
  adjust("0013", 3);
  adjust("0016", 2);
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_NE(boxes->calls()[1].text.find("quota line locked"), std::string::npos);
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 5);
  EXPECT_EQ(data().quota("D1", "0016", "P001"), 2);
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 10);
}

TEST_P(Handlers, ASaveWhoseLinesAreInAnotherDocumentChangesNothing) {
  // P002's lines lie in two documents of the date (0015 in D1; 0012, 0013, 0016 in
  // D2); whichever the document lookup finds, some statement finds no line, and the
  // whole save is refused instead of creating or destroying quota.
  auto& w = openDetail("0012", "P002");
  adjust("0013", 1);
  const double d1 = data().sum("D1", "P002");
  const double d2 = data().sum("D2", "P002");
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  // The refusal names the line that is missing, in the window's language.
  EXPECT_EQ(text::gbkToUtf8Lossy(boxes->calls()[1].text),
            "单据 D1 中没有访销员 0013 的商品 P002 的限量记录，本次保存没有修改任何限量.");
  EXPECT_EQ(data().sum("D1", "P002"), d1);
  EXPECT_EQ(data().sum("D2", "P002"), d2);
}

TEST_P(Handlers, ASaveWhoseReplyIsLostIsAppliedOnceWhenClickedAgain) {
  auto& w = openDetail("0012", "P001");
  adjust("0013", 3);
  const std::string id = w.saveId();
  log->loseNextReply = com::RPC_E_SERVER_UNAVAILABLE;  // applied, but the reply lost
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  const std::string box = text::gbkToUtf8Lossy(boxes->calls()[1].text);
  EXPECT_NE(box.find("没有收到服务器对这次保存的回答"), std::string::npos) << box;
  EXPECT_NE(box.find("再次点击“保存”是安全的"), std::string::npos) << box;
  EXPECT_EQ(w.saveId(), id);  // the outcome is unknown: the same save stays
  EXPECT_EQ(adjustmentFooter(), "3.00");
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 8);  // it was applied

  // The second click sends the same id: answered as done, applied no second time.
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 3u) << text::gbkToUtf8Lossy(boxes->calls().back().text);
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 8);
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 7);
  EXPECT_EQ(journalRows(data().db()), 1);
  // Both grids reloaded, and the next save is a new one.
  EXPECT_EQ(adjustmentFooter(), "0.00");
  EXPECT_NE(w.saveId(), id);
  const auto saves = log->snapshotExecutes();
  ASSERT_EQ(saves.size(), 2u);
  EXPECT_EQ(saves[0], saves[1]);  // the statements stay exactly the same
}

TEST_P(Handlers, ARefusedSaveGetsAFreshIdAndLeavesNoJournalRow) {
  auto& w = openDetail("0012", "P002");  // lines in two documents: refused
  adjust("0013", 1);
  const std::string id = w.saveId();
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_NE(w.saveId(), id);
  EXPECT_EQ(journalRows(data().db()), 0);
  // A save that goes through writes one row with who moved what.
  clickProduct("P001");
  adjust("0013", 2);
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(journalRows(data().db()), 1);
  const auto row = data().db().query(
      "SELECT OPERATOR, DHAO00, SPDM00, GIVER, RECEIVERS, TOTAL, CLIENT FROM "
      "QADJ_TRANSFER_JOURNAL");
  EXPECT_EQ(std::get<std::string>(row.rows[0][0]), "0001");
  EXPECT_EQ(std::get<std::string>(row.rows[0][1]), "D1");
  EXPECT_EQ(std::get<std::string>(row.rows[0][2]), "P001");
  EXPECT_EQ(std::get<std::string>(row.rows[0][3]), "0012");
  const auto receivers = std::get<std::string>(row.rows[0][4]);
  EXPECT_NE(receivers.find("0013=2"), std::string::npos) << receivers;
  EXPECT_EQ(std::get<double>(row.rows[0][5]), 2);
  EXPECT_FALSE(std::get<std::string>(row.rows[0][6]).empty());
}

TEST_P(Handlers, ASaveOverTheLimitLeftByAnotherWindowIsRefusedAndKeepsWhatWasTyped) {
  auto& w = openDetail("0012", "P001");  // adjustable 10
  adjust("0013", 6);
  adjust("0015", 1);
  // Meanwhile another operator's save gives 6 of the same quota.
  data().db().execute(
      "UPDATE XSTXLGL01 SET XL0000 = XL0000 - 6 WHERE DHAO00 = 'D1' AND FXRY00 = '0012' AND "
      "SPDM00 = 'P001'");
  data().db().execute(
      "UPDATE XSTXLGL01 SET XL0000 = XL0000 + 6 WHERE DHAO00 = 'D1' AND FXRY00 = '0016' AND "
      "SPDM00 = 'P001'");
  const std::string id = w.saveId();
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_EQ(boxes->calls()[1].text, gbk("超过访销员的限量"));
  EXPECT_EQ(boxes->calls()[1].caption, gbk("提示"));
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 5);  // nothing applied
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 4);
  // The giver's row and the detail show what is left, and it is the new limit; the
  // amounts typed stay, so that the operator changes only what must change.
  EXPECT_EQ(w.ClientDataSet1->FieldByName("SPDM00")->AsString(), "P001");
  EXPECT_EQ(w.ClientDataSet1->FieldByName("KTZXL0")->AsFloat(), 4);
  EXPECT_EQ(context.AdjustableQuantity, 4);
  ASSERT_TRUE(w.ClientDataSet2->Locate("FXRY00", TValue(std::string("0016"))));
  EXPECT_EQ(w.ClientDataSet2->FieldByName("XL0000")->AsFloat(), 8);
  EXPECT_EQ(adjustmentFooter(), "7.00");
  EXPECT_EQ(shownAdjustment("0013"), "6");
  EXPECT_NE(w.saveId(), id);
  adjust("0013", 3);
  guarded([&] { w.tbokClick(); });
  EXPECT_EQ(boxes->calls().size(), 3u) << text::gbkToUtf8Lossy(boxes->calls().back().text);
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 0);
}

// A colleague's amount taken back past what they sold is refused by the server, which
// says whose and how much is left to take; the amounts typed stay.
TEST_P(Handlers, TakingBackBelowWhatAColleagueSoldNamesThemAndKeepsTheAmounts) {
  data().db().execute(
      "INSERT INTO XSTFXDD0 VALUES ('S9', 1, '0013', 'P001', 4, '2026-12-08 12:00:00')");
  auto& w = openDetail("0012", "P001");  // 0013 holds 5 and sold 4: 1 can be taken back
  type("0013", "-2");
  type("0015", "1");
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_EQ(text::gbkToUtf8Lossy(boxes->calls()[1].text),
            "访销员 0013 李四 的限量最多还能调回 1.00，这次要调回 2.00，没有修改任何限量");
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 5);
  EXPECT_EQ(shownAdjustment("0013"), "-2");
  EXPECT_EQ(shownAdjustment("0015"), "1");
  type("0013", "-1");
  log->clear();
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 3u);
  EXPECT_EQ(log->snapshotExecutes(), std::vector<std::string>{statements::block(
                                         {statements::increment(q(-1), "D1", "0013", "P001"),
                                          statements::increment(q(1), "D1", "0015", "P001"),
                                          statements::increment(q(0), "D1", "0016", "P001"),
                                          statements::decrement(q(0), "D1", "0012", "P001")})});
  EXPECT_EQ(data().quota("D1", "0013", "P001"), 4);
  EXPECT_EQ(data().quota("D1", "0015", "P001"), 8);
}

// What the operator sees is what moves: every amount typed is held, shown, totalled,
// checked, sent and journalled as the same number of hundredths.
TEST_P(Handlers, TheAmountsShownAreTheAmountsThatMove) {
  auto& w = openWindow();
  // The giver's line of P001 set, and the product clicked afresh from m_qadj's rows.
  const auto giverHolds = [&](const char* quota) {
    data().db().executeScript(std::string("UPDATE XSTXLGL01 SET XL0000 = ") + quota +
                              " WHERE DHAO00 = 'D1' AND FXRY00 = '0012' AND SPDM00 = 'P001'");
    pickSalesperson("0013");
    pickSalesperson("0012");
    clickProduct("P001");
  };
  giverHolds("3.17");
  type("0013", "0.125");
  type("0015", "0.375");
  EXPECT_EQ(shownAdjustment("0013"), "0.13");
  EXPECT_EQ(shownAdjustment("0015"), "0.38");
  type("0016", "2.675");  // 2.68: 3.19 in all, more than 3.17
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_EQ(boxes->calls()[0].text, gbk("超过访销员的限量"));
  EXPECT_EQ(adjustmentFooter(), "0.51");
  type("0016", "2.66");
  EXPECT_EQ(adjustmentFooter(), "3.17");
  log->clear();
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u) << text::gbkToUtf8Lossy(boxes->calls().back().text);
  EXPECT_EQ(log->snapshotExecutes(), std::vector<std::string>{statements::block(
                                         {statements::increment(q(0.13), "D1", "0013", "P001"),
                                          statements::increment(q(0.38), "D1", "0015", "P001"),
                                          statements::increment(q(2.66), "D1", "0016", "P001"),
                                          statements::decrement(q(3.17), "D1", "0012", "P001")})});
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 0);
  EXPECT_EQ(data().quota("D1", "0016", "P001"), 4.66);

  // 1.005, 2.004 and -0.001 are held as 1.01, 2 and 0: 3.01 shown, 3.01 given.
  giverHolds("10");
  for (const auto& [who, typed] :
       {std::pair{"0013", "1.005"}, {"0015", "2.004"}, {"0016", "-0.001"}})
    type(who, typed);
  EXPECT_EQ(shownAdjustment("0013"), "1.01");
  EXPECT_EQ(shownAdjustment("0016"), "0");
  EXPECT_EQ(adjustmentFooter(), "3.01");
  log->clear();
  guarded([&] { w.tbokClick(); });
  EXPECT_EQ(log->snapshotExecutes(), std::vector<std::string>{statements::block(
                                         {statements::increment(q(1.01), "D1", "0013", "P001"),
                                          statements::increment(q(2), "D1", "0015", "P001"),
                                          statements::increment(q(0), "D1", "0016", "P001"),
                                          statements::decrement(q(3.01), "D1", "0012", "P001")})});
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 6.99);

  // 0.3 held, 0.1 sold: 0.20 adjustable, and a typed 0.2 is within it.
  data().db().execute(
      "INSERT INTO XSTFXDD0 VALUES ('S9', 1, '0012', 'P001', 0.1, '2026-12-08 12:00:00')");
  giverHolds("0.3");
  EXPECT_EQ(context.AdjustableQuantity, 0.2);
  type("0013", "0.2");
  guarded([&] { w.tbokClick(); });
  EXPECT_EQ(boxes->calls().size(), 4u);  // the confirmations, and only them
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 0.1);
  // The journal holds the same numbers: each total the sum of its receivers.
  const auto journal = appserver::readJournal(data().db(), {});
  ASSERT_EQ(journal.size(), 3u);
  const double totals[] = {3.17, 3.01, 0.2};
  for (std::size_t i = 0; i < journal.size(); ++i) {
    EXPECT_EQ(journal[i].total, totals[i]);
    QuantitySum given;
    for (const auto& [who, amount] : journal[i].receivers) given.add(q(amount));
    EXPECT_EQ(given.hundredths(), q(totals[i]).hundredths());
  }
}

TEST_P(Handlers, AZeroAdjustmentOfALineInAnotherDocumentDoesNotFailTheSave) {
  // P003: 0012 and 0013 in D1, 0015 in D2 only. 0015 receives nothing: its +0 finds no
  // line in D1, which changes nothing and so refuses nothing.
  auto& w = openDetail("0012", "P003");
  ASSERT_EQ(w.ClientDataSet2->RecordCount(), 2);
  adjust("0013", 2);
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 1u) << text::gbkToUtf8Lossy(boxes->calls().back().text);
  EXPECT_EQ(data().quota("D1", "0013", "P003"), 3);
  EXPECT_EQ(data().quota("D1", "0012", "P003"), 18);
  EXPECT_EQ(data().quota("D2", "0015", "P003"), 3);
}

TEST_P(Handlers, AnAmountInAnInsertedRowIsRefusedAndEmptyCellsCountAsZero) {
  auto& w = openDetail("0012", "P001");
  adjust("0013", 1);
  type("0015", "");                              // emptied cell: null
  QTest::keyClick(w.dxDBGrid2, Qt::Key_Insert);  // a new row before 0015's
  type("", "3");
  EXPECT_EQ(adjustmentFooter(), "4.00");
  // The row names nobody: the save is refused, nothing is sent, the amounts stay.
  log->clear();
  guarded([&] { w.tbokClick(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_EQ(text::gbkToUtf8Lossy(boxes->calls()[1].text),
            "第 2 行没有访销员，它的调整量 3 调不给任何人。请删除这一行（Ctrl+Delete）或把它的"
            "调整量改为 0，再保存");
  EXPECT_TRUE(log->snapshotFetches().size() <= 1);  // the document lookup at most
  EXPECT_TRUE(log->snapshotExecutes().empty());
  EXPECT_EQ(adjustmentFooter(), "4.00");
  type("", "0");
  guarded([&] { w.tbokClick(); });
  const auto executes = log->snapshotExecutes();
  ASSERT_EQ(executes.size(), 1u);
  EXPECT_NE(executes[0].find("XL0000=XL0000+0 where  DHAO00='D1' AND FXRY00='0015'"),
            std::string::npos);
  EXPECT_EQ(executes[0].find("FXRY00=''"), std::string::npos);
  EXPECT_NE(executes[0].find("XL0000=XL0000-1.00 WHERE"), std::string::npos);
  EXPECT_EQ(data().quota("D1", "0012", "P001"), 9);
}

INSTANTIATE_TEST_SUITE_P(Setups, Handlers,
                         ::testing::ValuesIn(setupsOver({Transport::InProcess, Transport::Grpc})),
                         setupName);

// An unreachable server at activation: the error is shown, the window stays usable,
// and choosing a salesperson then finds no server object.
class UnreachableServer : public WindowFixture {};

TEST_P(UnreachableServer, ActivationErrorThenNoAutomationObject) {
  OperatorWindow w("127.0.0.1:1");
  ASSERT_EQ(boxes->calls().size(), 1u);
  EXPECT_FALSE(boxes->calls()[0].text.empty());
  EXPECT_EQ(w.form.RYMC->count(), 0);
  guarded([&] { w.form.RYMCChange(); });
  ASSERT_EQ(boxes->calls().size(), 2u);
  EXPECT_EQ(boxes->calls()[1].text, "Variant does not reference an automation object.");
}

INSTANTIATE_TEST_SUITE_P(Remote, UnreachableServer,
                         ::testing::Values(Setup{Transport::InProcess, "sqlite"}), setupName);
