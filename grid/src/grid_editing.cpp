// The cell editor and the keyboard of the grid: opening, changing and closing the
// editor, moving the focus and the record operations (delete, insert, cancel).
#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>

#include "cell_editor.h"
#include "guards.h"
#include "qadj/grid/dxdbgrid.h"
#include "qadj/platform/text.h"
#include "qadj/server/fields.h"
#include "qadj/widgets/error_frame.h"
#include "qadj/widgets/message_box.h"
#include "qadj/widgets/qt_text.h"

namespace qadj::grid {

using DB = TdxDBGridOptionDB;
using BH = TdxDBGridOptionBehavior;

namespace {

bool isTabKey(const QKeyEvent* k) {
  return (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) &&
         !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

bool isPrintable(const QKeyEvent* k) {
  if (k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString t = k->text();
  return !t.isEmpty() && t.at(0).isPrint();
}

bool editingState(const TDataSet& ds) {
  return ds.State() == TDataSetState::dsEdit || ds.State() == TDataSetState::dsInsert;
}

}  // namespace

// --- CellEditor ----------------------------------------------------------------

CellEditor::CellEditor(TdxDBGrid* grid, QWidget* parent) : QLineEdit(parent), grid_(grid) {
  hide();
  connect(this, &QLineEdit::textEdited, this, [this] { changed_ = true; });
}

void CellEditor::setFieldText(const QString& text) {
  setText(text);
  changed_ = false;
}

bool CellEditor::event(QEvent* e) {
  return guarded(
      [&] {
        if (e->type() == QEvent::KeyPress && isTabKey(static_cast<QKeyEvent*>(e))) {
          grid_->editorKey(static_cast<QKeyEvent*>(e));
          return true;
        }
        return QLineEdit::event(e);
      },
      true);
}

bool CellEditor::modifiesText(const QKeyEvent* e) {
  if (isPrintable(e)) return true;
  if (e->key() == Qt::Key_Backspace || e->key() == Qt::Key_Delete) return true;
  return e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut) ||
         e->matches(QKeySequence::Undo) || e->matches(QKeySequence::Redo) ||
         e->matches(QKeySequence::DeleteEndOfWord) || e->matches(QKeySequence::DeleteStartOfWord);
}

void CellEditor::keyPressEvent(QKeyEvent* e) {
  if (grid_->editorKey(e)) return;
  if (modifiesText(e)) {
    if (isPrintable(e)) {
      const TdxDBGridColumn* c = grid_->Column(grid_->FocusedColumn());
      const TField* field = c ? c->Field() : nullptr;
      for (QChar ch : e->text()) {
        bool valid = ch.unicode() < 0x80
                         ? (field ? field->IsValidChar(static_cast<char>(ch.unicode())) : true)
                         : (field ? field->DataType() == TFieldType::ftString : true);
        if (!valid) {
          if (grid_->Beep) grid_->Beep();
          return;
        }
      }
    }
    if (!grid_->beginCellChange()) return;
  }
  QLineEdit::keyPressEvent(e);
}

void CellEditor::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  guarded([&] {
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) return;
    QWidget* now = QApplication::focusWidget();
    if (now && (now == grid_ || grid_->isAncestorOf(now))) return;
    grid_->leaveGrid();
  });
}

// --- Opening and closing -------------------------------------------------------

CellEditor* TdxDBGrid::editor() {
  if (!editor_) editor_ = new CellEditor(this, viewport());
  return editor_;
}

QLineEdit* TdxDBGrid::Editor() const {
  return editor_;
}

bool TdxDBGrid::EditorVisible() const {
  return editor_ && !editor_->isHidden();
}

bool TdxDBGrid::ShowEditor() {
  if (EditorVisible()) return true;
  if (!optionsBehavior_.has(BH::edgoEditing)) return false;
  TDataSet* ds = DataSet();
  if (!ds || !dataActive() || focusedRow_ < 0 || focusedColumn_ < 0 ||
      focusedColumn_ >= ColumnCount())
    return false;
  bool allow = true;
  if (OnEditing) OnEditing(*this, focusedRow_, allow);
  if (!allow) return false;
  makeRowVisible(focusedRow_);
  // Bring the cell into view horizontally.
  QRect cell = CellRect(focusedRow_, focusedColumn_);
  if (cell.left() < 0 || cell.right() > viewport()->width()) {
    horizontalScrollBar()->setValue(xOffset_ + cell.left());
  }
  const TdxDBGridColumn& c = *columns_[focusedColumn_];
  editorOpenText_ = c.Field() ? c.Field()->Text() : std::string();
  CellEditor* ed = editor();
  ed->setFont(font());
  ed->setFieldText(text::gbkToQString(editorOpenText_));
  ed->setAlignment(rightAligned(c) ? Qt::AlignRight | Qt::AlignVCenter
                                   : Qt::AlignLeft | Qt::AlignVCenter);
  state_ = TdxGridState::Editing;
  ed->show();
  placeEditor();
  ed->setFocus(Qt::OtherFocusReason);
  ed->selectAll();
  viewport()->update();
  return true;
}

void TdxDBGrid::placeEditor() {
  if (!EditorVisible()) return;
  if (focusedRow_ < 0) {
    closeEditorForReload();
    return;
  }
  editor_->setGeometry(CellRect(focusedRow_, focusedColumn_).adjusted(-2, -2, 2, 2));
}

bool TdxDBGrid::canEditCell() const {
  TDataSet* ds = DataSet();
  if (!ds || !dataActive() || !ds->CanModify()) return false;
  if (focusedColumn_ < 0 || focusedColumn_ >= ColumnCount()) return false;
  const TdxDBGridColumn& c = *columns_[focusedColumn_];
  return !c.ReadOnly && c.Field() && c.Field()->CanModify();
}

bool TdxDBGrid::beginCellChange() {
  TDataSet* ds = DataSet();
  if (!canEditCell()) return false;
  if (rowModified_ && editingState(*ds)) return true;
  if (!editingState(*ds)) ds->Edit();
  rowModified_ = true;
  return true;
}

void TdxDBGrid::closeEditor(bool write, bool notify) {
  if (!EditorVisible() || editorClosing_) return;
  FlagGuard closing(editorClosing_);
  TDataSet* ds = DataSet();
  TdxDBGridColumn* c = focusedColumn_ >= 0 && focusedColumn_ < ColumnCount()
                           ? columns_[focusedColumn_].get()
                           : nullptr;
  if (write && editor_->changed() && ds && dataActive() && editingState(*ds) && c && c->Field()) {
    // Throws the field's conversion error; the editor then stays open.
    c->Field()->SetText(text::utf8ToGbk(editor_->text().toUtf8().toStdString()));
    refreshCurrentRowValues();
  }
  state_ = TdxGridState::Normal;
  auto hide = [this] {
    bool hadFocus = editor_->hasFocus();
    editor_->hide();
    if (hadFocus) setFocus(Qt::OtherFocusReason);
    viewport()->update();
  };
  try {
    if (notify && OnEdited) OnEdited(*this, focusedRow_);
  } catch (...) {
    hide();
    throw;
  }
  hide();
}

void TdxDBGrid::closeEditorForReload() {
  if (!EditorVisible()) return;
  state_ = TdxGridState::Normal;
  bool hadFocus = editor_->hasFocus();
  editor_->hide();
  if (hadFocus) setFocus(Qt::OtherFocusReason);
}

void TdxDBGrid::leaveGrid() {
  if (EditorVisible()) closeEditor(true, true);
  TDataSet* ds = DataSet();
  if (optionsDB_.has(DB::edgoCancelOnExit) && ds && ds->State() == TDataSetState::dsInsert &&
      !ds->Modified())
    ds->Cancel();
}

void TdxDBGrid::focusOutEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusOutEvent(e);
  if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) return;
  QWidget* now = QApplication::focusWidget();
  if (!now || now == this || isAncestorOf(now)) return;
  leaveGrid();
}

// --- Keys ----------------------------------------------------------------------

bool TdxDBGrid::editorKey(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Escape:
      editor_->setFieldText(text::gbkToQString(editorOpenText_));
      closeEditor(true, true);
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      closeEditor(true, true);
      return true;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      closeEditor(true, true);
      navigationKey(e);
      return true;
    default:
      return false;
  }
}

bool TdxDBGrid::navigationKey(QKeyEvent* e) {
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  const int count = RowCount();
  switch (e->key()) {
    case Qt::Key_Up:
      if (focusedRow_ > 0) moveToRow(focusedRow_ - 1);
      return true;
    case Qt::Key_Down:
      if (focusedRow_ + 1 < count)
        moveToRow(focusedRow_ + 1);
      else
        leaveRecord();  // Down on the last row posts; nothing is appended
      return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      if (focusedRow_ >= 0)
        moveToRow(pageMove(focusedRow_, visibleRowCount(), count, e->key() == Qt::Key_PageDown));
      return true;
    case Qt::Key_Home:
      if (ctrl)
        moveToRow(0);
      else
        setFocusedColumn(0);
      return true;
    case Qt::Key_End:
      if (ctrl)
        moveToRow(count - 1);
      else
        setFocusedColumn(ColumnCount() - 1);
      return true;
    case Qt::Key_Left:
      moveColumn(-1, false);
      return true;
    case Qt::Key_Right:
      moveColumn(1, false);
      return true;
    case Qt::Key_Tab:
      moveColumn(1, optionsBehavior_.has(BH::edgoTabThrough));
      return true;
    case Qt::Key_Backtab:
      moveColumn(-1, optionsBehavior_.has(BH::edgoTabThrough));
      return true;
    default:
      return false;
  }
}

void TdxDBGrid::moveColumn(int delta, bool wrapRows) {
  int n = ColumnCount();
  if (n == 0) return;
  int target = focusedColumn_ + delta;
  if (target >= 0 && target < n) {
    setFocusedColumn(target);
    return;
  }
  if (!wrapRows || focusedRow_ < 0) return;
  int row = focusedRow_ + (delta > 0 ? 1 : -1);
  if (row < 0 || row >= RowCount()) return;
  moveToRow(row);
  setFocusedColumn(delta > 0 ? 0 : n - 1);
}

void TdxDBGrid::keyPressEvent(QKeyEvent* e) {
  const bool ctrl = e->modifiers() & Qt::ControlModifier;
  TDataSet* ds = DataSet();
  if (e->key() == Qt::Key_Delete && ctrl) {
    deleteRecord();
    return;
  }
  if (e->key() == Qt::Key_Insert && !ctrl) {
    insertRecord();
    return;
  }
  if (e->key() == Qt::Key_Escape) {
    if (ds && dataActive() && editingState(*ds)) ds->Cancel();
    return;
  }
  const bool canOpen = optionsBehavior_.has(BH::edgoEnterShowEditor);
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    if (canOpen) ShowEditor();
    return;
  }
  if (canOpen &&
      (isPrintable(e) || e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut))) {
    if (ShowEditor()) QCoreApplication::sendEvent(editor_, e);
    return;
  }
  if (navigationKey(e)) return;
  QAbstractScrollArea::keyPressEvent(e);
}

// --- Record operations ---------------------------------------------------------

void TdxDBGrid::deleteRecord() {
  if (!optionsDB_.has(DB::edgoCanDelete) || !optionsDB_.has(DB::edgoCanNavigation)) return;
  if (EditorVisible()) return;
  TDataSet* ds = DataSet();
  if (!ds || !dataActive() || ds->IsEmpty() || !ds->CanModify() || focusedRow_ < 0) return;
  if (optionsDB_.has(DB::edgoConfirmDelete) &&
      MessageBox(OwnerWindow::fromWidget(this), "Delete record?", "Confirm",
                 MB_ICONQUESTION | MB_OKCANCEL) != IDOK)
    return;
  if (focusedRow_ < RowCount()) {
    TBookmark target{rows().id(focusedRow_)};
    if (!(ds->GetBookmark() == target) && ds->BookmarkValid(target)) ds->GotoBookmark(target);
  }
  ds->Delete();
}

void TdxDBGrid::insertRecord() {
  if (!optionsDB_.has(DB::edgoCanInsert) || !optionsDB_.has(DB::edgoCanNavigation)) return;
  TDataSet* ds = DataSet();
  if (!ds || !dataActive() || !ds->CanModify()) return;
  if (EditorVisible()) closeEditor(true, true);
  ds->Insert();
  syncFocusFromDataSet();
  viewport()->update();
}

}  // namespace qadj::grid
