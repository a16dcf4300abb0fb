// The grid's in-place cell editor: a line edit over the focused cell that asks the
// grid before every change and hands the grid's keys back to it.
#pragma once

#include <QLineEdit>

namespace qadj::grid {

class TdxDBGrid;

class CellEditor : public QLineEdit {
 public:
  CellEditor(TdxDBGrid* grid, QWidget* parent);

  // Sets the text from the field and clears the changed flag.
  void setFieldText(const QString& text);
  bool changed() const { return changed_; }

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  // True when the key would change the text.
  static bool modifiesText(const QKeyEvent* e);
  TdxDBGrid* grid_;
  bool changed_ = false;
};

}  // namespace qadj::grid
