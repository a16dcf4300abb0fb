// The window's event handlers: activation, date change, salesperson choice,
// product click, adjustment check, save and exit.
#include <QDate>

#include "qadj/controls/flat_combo_box.h"
#include "qadj/grid/column.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/clock.h"
#include "qadj/platform/error.h"
#include "qadj/platform/message_box.h"
#include "qadj/platform/owner_window.h"
#include "qadj/platform/qt_text.h"
#include "qadj/platform/text.h"
#include "qadj/protocol/save_request.h"
#include "qadj/protocol/statements.h"
#include "qadj/server/client_dataset.h"
#include "qadj/server/connection.h"
#include "qadj/server/fields.h"
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
  box.setEditText(prompt());
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
  const grid::TdxDBGridColumn* column = dxDBGrid2->ColumnByName("dxDBGrid2TZXL00");
  const double total = strToFloat(column->SummaryFooterText());
  if (total > context_.AdjustableQuantity) {
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

  // Moving to the first row writes back an adjustment still in the cell editor, and
  // its check runs, before any statement is built.
  ClientDataSet2->First();
  std::vector<std::string> save;
  QuantitySum sent;  // the giver gives exactly what the increments give
  while (!ClientDataSet2->Eof()) {
    const std::string product = ClientDataSet2->FieldByName("SPDM00")->AsString();
    const std::string receiver = ClientDataSet2->FieldByName("FXRY00")->AsString();
    const Quantity adjustment =
        adjustmentQuantity(ClientDataSet2->FieldByName("TZXL00")->AsFloat());
    // A row inserted in the grid names no quota line: nothing is sent for it, and
    // nothing is taken from the giver for it.
    if (!receiver.empty()) {
      save.push_back(statements::increment(adjustment, document, receiver, product));
      sent.add(adjustment);
    }
    ClientDataSet2->Next();
  }
  const auto total = sent.quantity();
  if (!total) throw EConvertError(gbk("调整量的合计超出了限量可以保存的范围"));
  save.push_back(statements::decrement(*total, document, salespersonCode(), context_.ProductCode));
  executeSave(save);
  // Applied, or refused over the limit: either way the grids show the lines as they
  // now are, and later checks compare with what is adjustable now.
  reloadGiverAndDetail(date);
  // Known applied (or refused) and shown: the next save is another one. (Until here a
  // click on the button sends the same id again, which the server answers as done.)
  saveId_ = newSaveId();
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

void Tmain::executeSave(const std::vector<std::string>& save) {
  // All statements of one save take effect together or not at all, and at most once.
  Public_qry->Close();
  Public_qry->SetCommandText(statements::block(save));
  try {
    Public_qry->Execute(saveOwnerData({saveId_, text::gbkToUtf8Lossy(context_.OperatorCode)}));
  } catch (const EOleError& e) {
    if (e.code() == QADJ_E_OVER_LIMIT) {
      // Another save (another window) gave from the same quota since the product was
      // clicked: the server refused this one whole, with the box the operator knows.
      MessageBox(applicationOwner(), gbk(kOverLimitText), gbk("提示"), MB_OK);
      return;
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
