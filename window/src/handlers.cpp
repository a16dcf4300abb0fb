// The window's event handlers: activation, date change, salesperson choice,
// product click, adjustment check, save and exit.
#include <QDate>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/column.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/clock.h"
#include "qadj/platform/error.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/save_request.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/connection.h"
#include "qadj/server/fields.h"
#include "qadj/widgets/message_box.h"
#include "qadj/widgets/owner_window.h"
#include "qadj/widgets/qt_text.h"
#include "qadj/window/date_picker.h"
#include "qadj/window/main_form.h"
#include "qadj/window/numbers.h"
#include "qadj/window/salesperson_list.h"

namespace qadj::window {
namespace {

std::string gbk(const char* utf8) {
  return text::utf8ToGbk(utf8);
}

const QString& prompt() {
  static const QString text = QStringLiteral("请选择访销员");
  return text;
}

// Shows the salesperson prompt with no entry chosen; raises no change event.
void showPrompt(TFlatComboBox& box) {
  box.setCurrentIndex(-1);
  box.setText(prompt());
}

}  // namespace

std::string Tmain::salespersonCode() const {
  return salespersonCodeOf(text::utf8ToGbkLossy(RYMC->currentText().toStdString()));
}

void Tmain::FormActivate() {
  dcom->SetComputerName(context_.ServerHost);
  const Date d = today();
  DateTimePicker1->setValue(QDate(d.year, d.month, d.day));

  Public_qry->Close();
  Public_qry->SetCommandText(statements::warehouseLookup(context_.OperatorCode));
  Public_qry->Open();
  context_.WarehouseCode = Public_qry->FieldByName("CKDM00")->AsString();

  Public_qry->Close();
  Public_qry->SetCommandText(statements::salespersonList(context_.WarehouseCode));
  Public_qry->Open();
  RYMC->clear();
  RYMC->setEditText(QString());
  if (!Public_qry->IsEmpty()) {
    TField* code = Public_qry->FieldByName("RYDM00");
    TField* name = Public_qry->FieldByName("RYMC00");
    while (!Public_qry->Eof()) {
      RYMC->addItem(text::gbkToQString(salespersonEntry(code->AsString(), name->AsString())));
      Public_qry->Next();
    }
  }
  Public_qry->Close();
  showPrompt(*RYMC);
}

void Tmain::DateTimePicker1Change() {
  showPrompt(*RYMC);
  ClientDataSet1->Close();
  ClientDataSet2->Close();
}

void Tmain::RYMCChange() {
  std::string code = salespersonCode();
  ClientDataSet2->Close();
  ClientDataSet1->Close();
  dcom->CallMethod("m_qadj",
                   {DispatchArg::textRef(code), DispatchArg::date(DateTimePicker1->dateValue())});
  ClientDataSet1->SetCommandText(statements::productQuery());
  ClientDataSet1->Open();
}

void Tmain::dxDBGrid1Click() {
  const std::string date = dateText(DateTimePicker1->value());
  context_.ProductCode = ClientDataSet1->FieldByName("SPDM00")->AsString();
  context_.AdjustableQuantity = ClientDataSet1->FieldByName("KTZXL0")->AsFloat();
  if (context_.ProductCode.empty()) return;
  const std::string code = salespersonCode();
  ClientDataSet2->Close();
  ClientDataSet2->SetCommandText(
      statements::detailQuery(date, context_.WarehouseCode, code, context_.ProductCode));
  ClientDataSet2->Open();
  saveId_ = newSaveId();  // adjustments typed from here on are a new save
}

void Tmain::dxDBGrid2Edited() {
  ClientDataSet2->Edit();
  ClientDataSet2->Post();
  // The total the footer shows, exact in hundredths, against the adjustable quantity
  // taken to the hundredth.
  const grid::TdxDBGridColumn* column = dxDBGrid2->ColumnByName("dxDBGrid2TZXL00");
  if (overAdjustable(column->Summary().hundredths, context_.AdjustableQuantity)) {
    MessageBox(applicationOwner(), gbk(kOverLimitText), gbk("提示"), MB_OK);
    ClientDataSet2->Edit();
    ClientDataSet2->FieldByName("TZXL00")->SetAsFloat(0);
    ClientDataSet2->Post();
  }
}

void Tmain::tbokClick() {
  if (MessageBox(applicationOwner(), gbk("确定是否修改限量吗?"), gbk("提示"), MB_OKCANCEL) != IDOK)
    return;
  const std::string date = dateText(DateTimePicker1->value());
  Public_qry->Close();
  Public_qry->SetCommandText(statements::documentLookup(date));
  Public_qry->Open();
  const std::string document = Public_qry->FieldByName("DHAO00")->AsString();
  if (document.empty()) return;

  // Moving to the first row (the first step of reading the rows) writes back an
  // adjustment still in the cell editor, and its check runs, before any statement is
  // built.
  const std::vector<Adjustment> typed = adjustments();
  // A row inserted in the grid names no quota line: an amount in it would count in the
  // footer and move from nobody to nobody. The operator's values stay.
  for (std::size_t row = 0; row < typed.size(); ++row)
    if (typed[row].receiver.empty() && typed[row].amount != Quantity()) {
      MessageBox(applicationOwner(),
                 gbk(("第 " + std::to_string(row + 1) + " 行没有访销员，它的调整量 " +
                      typed[row].amount.text() +
                      " 调不给任何人。请删除这一行（Ctrl+Delete）或把它的调整量改为 0，再保存")
                         .c_str()),
                 gbk("提示"), MB_OK);
      return;
    }
  std::vector<std::string> save;
  QuantitySum sent;  // the giver gives exactly what the increments give
  for (const Adjustment& a : typed) {
    if (a.receiver.empty()) continue;  // holds 0 (above): nothing to send
    save.push_back(statements::increment(a.amount, document, a.receiver, a.product));
    sent.add(a.amount);
  }
  const auto total = sent.quantity();
  if (!total) throw EConvertError(gbk("调整量的合计超出了限量可以保存的范围"));
  save.push_back(statements::decrement(*total, document, salespersonCode(), context_.ProductCode));
  const bool applied = executeSave(save);
  // Applied, or refused over the limit: either way the grids show the lines as they
  // now are, and later checks compare with what is adjustable now. A refused save's
  // amounts are typed in again, so that the operator changes only what must change.
  reloadGiverAndDetail(date);
  if (!applied) restoreAdjustments(typed);
  // Known applied (or refused) and shown: the next save is another one. (Until here a
  // click on the button sends the same id again, which the server answers as done.)
  saveId_ = newSaveId();
}

std::vector<Tmain::Adjustment> Tmain::adjustments() {
  std::vector<Adjustment> out;
  for (ClientDataSet2->First(); !ClientDataSet2->Eof(); ClientDataSet2->Next())
    out.push_back({ClientDataSet2->FieldByName("FXRY00")->AsString(),
                   ClientDataSet2->FieldByName("SPDM00")->AsString(),
                   adjustmentQuantity(ClientDataSet2->FieldByName("TZXL00")->AsFloat())});
  return out;
}

void Tmain::restoreAdjustments(const std::vector<Adjustment>& typed) {
  std::vector<bool> used(typed.size());
  for (ClientDataSet2->First(); !ClientDataSet2->Eof(); ClientDataSet2->Next()) {
    const std::string receiver = ClientDataSet2->FieldByName("FXRY00")->AsString();
    for (std::size_t i = 0; i < typed.size(); ++i) {
      if (used[i] || typed[i].receiver != receiver) continue;
      used[i] = true;
      if (typed[i].amount == Quantity()) break;
      ClientDataSet2->Edit();
      ClientDataSet2->FieldByName("TZXL00")->SetAsFloat(typed[i].amount.value());
      ClientDataSet2->Post();
      break;
    }
  }
  ClientDataSet2->First();
}

void Tmain::reloadGiverAndDetail(const std::string& date) {
  ClientDataSet1->Close();
  std::string code = salespersonCode();
  dcom->CallMethod("m_qadj",
                   {DispatchArg::textRef(code), DispatchArg::date(DateTimePicker1->dateValue())});
  ClientDataSet1->SetCommandText(statements::productQuery());
  ClientDataSet1->Open();
  context_.AdjustableQuantity = ClientDataSet1->Locate("SPDM00", TValue(context_.ProductCode))
                                    ? ClientDataSet1->FieldByName("KTZXL0")->AsFloat()
                                    : 0;

  ClientDataSet2->Close();
  ClientDataSet2->SetCommandText(
      statements::detailQuery(date, context_.WarehouseCode, code, context_.ProductCode));
  ClientDataSet2->Open();
}

bool Tmain::executeSave(const std::vector<std::string>& save) {
  // All statements of one save take effect together or not at all, and at most once.
  Public_qry->Close();
  Public_qry->SetCommandText(statements::block(save));
  try {
    Public_qry->Execute(saveOwnerData({saveId_, text::gbkToUtf8Lossy(context_.OperatorCode)}));
    return true;
  } catch (const EOleError& e) {
    if (e.code() == QADJ_E_OVER_LIMIT) {
      // Another save (another window) gave from the same quota since the product was
      // clicked, or a colleague would be taken below what they sold: the server refused
      // this one whole, saying whose limit (the giver's text is the one the operator
      // knows).
      MessageBox(applicationOwner(), e.what(), gbk("提示"), MB_OK);
      return false;
    }
    if (!outcomeUnknown(e.code())) {
      saveId_ = newSaveId();  // the server refused it: nothing of it was applied
      throw;
    }
    // The id stays: the same save sent again is applied at most once.
    throw EOleException(gbk("没有收到服务器对这次保存的回答（") + e.what() +
                            gbk("）。保存可能已经执行，也可能没有执行；再次点击“保存”是安全的，"
                                "同一次保存不会执行两次"),
                        e.code());
  }
}

void Tmain::tbexitClick() {
  if (Tmain* form = currentForm()) {
    form->close();
  } else {
    close();
  }
}

}  // namespace qadj::window
