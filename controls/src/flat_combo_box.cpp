#include "qadj/controls/flat_combo_box.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QStyledItemDelegate>

#include "qadj/controls/flat_geometry.h"
#include "qadj/controls/system_colours.h"
#include "qadj/widgets/error_frame.h"

namespace qadj {

namespace {

// Gives every row of the dropped list the combo's font-derived row height.
class RowDelegate : public QStyledItemDelegate {
 public:
  RowDelegate(TFlatComboBox* combo) : QStyledItemDelegate(combo), combo_(combo) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(combo_->listItemHeight());
    return size;
  }

 private:
  TFlatComboBox* combo_;
};

QPolygon trianglePolygon(const ArrowTriangle& t, QPoint offset) {
  return QPolygon({t.base1 + offset, t.base2 + offset, t.apex + offset});
}

}  // namespace

TFlatComboBox::TFlatComboBox(QWidget* parent) : QComboBox(parent) {
  color_ = systemColours().window;
  setInsertPolicy(QComboBox::NoInsert);
  // A placeholder keeps the toolkit from selecting the first item that is added: a
  // new list has no item selected. It is never drawn (paintEvent is our own).
  setPlaceholderText(QStringLiteral(" "));
  setMaxVisibleItems(dropDownCount_);
  makeEditor();
  installRowDelegate();
  connect(this, &QComboBox::activated, this, [this](int index) { userActivated(index); });
  // The container is created with the view; its showing and hiding tell "dropped".
  view()->parentWidget()->installEventFilter(this);
  view()->installEventFilter(this);
  applyColours();
}

void TFlatComboBox::makeEditor() {
  setEditable(true);
  auto* edit = new QLineEdit(this);
  edit->setFrame(false);
  // When editing finishes (Enter, focus leaving) the toolkit selects an item whose text
  // matches the edit text; that is no choice of the user's. These two connections
  // bracket the toolkit's own one.
  connect(edit, &QLineEdit::editingFinished, this, [this] { editingFinishing_ = true; });
  setLineEdit(edit);
  connect(edit, &QLineEdit::editingFinished, this, [this] { editingFinishing_ = false; });
  connect(edit, &QLineEdit::textEdited, this, [this] { reportChange(); });
  setCompleter(nullptr);
  placeEditor();
}

void TFlatComboBox::placeEditor() {
  if (QLineEdit* edit = lineEdit()) {
    const QRect wanted = comboEditRect(size());
    if (edit->geometry() != wanted) edit->setGeometry(wanted);
  }
}

void TFlatComboBox::applyColours() {
  if (QLineEdit* edit = lineEdit()) {
    QPalette p = edit->palette();
    p.setColor(QPalette::Base, color_);
    edit->setPalette(p);
  }
  QPalette listPalette = view()->palette();
  listPalette.setColor(QPalette::Base, color_);
  view()->setPalette(listPalette);
  update();
}

void TFlatComboBox::installRowDelegate() {
  if (!dynamic_cast<RowDelegate*>(itemDelegate())) setItemDelegate(new RowDelegate(this));
}

void TFlatComboBox::setColor(const QColor& color) {
  color_ = color;
  applyColours();
}

void TFlatComboBox::setColorBorder(const QColor& color) {
  colorBorder_ = color;
  update();
}

void TFlatComboBox::setColorArrowBackground(const QColor& color) {
  colorArrowBackground_ = color;
  update();
}

void TFlatComboBox::setColorArrow(const QColor& color) {
  colorArrow_ = color;
  update();
}

void TFlatComboBox::setComboStyle(ComboStyle style) {
  if (style == comboStyle_) return;
  comboStyle_ = style;
  if (style == ComboStyle::DropDown) {
    makeEditor();
  } else {
    setEditable(false);
  }
  applyColours();
}

void TFlatComboBox::setItemHeight(int height) {
  if (height > 0) itemHeight_ = height;
}

void TFlatComboBox::setText(const QString& text) {
  setEditText(text);
  if (QLineEdit* edit = lineEdit(); edit != nullptr && hasFocus()) edit->selectAll();
}

void TFlatComboBox::setDropDownCount(int count) {
  if (count < 1) return;
  dropDownCount_ = count;
  setMaxVisibleItems(count);
}

int TFlatComboBox::listItemHeight() const {
  return comboListItemHeight(fontMetrics().height());
}

int TFlatComboBox::dropDownHeight() const {
  return comboDropDownHeight(count(), dropDownCount_, listItemHeight());
}

void TFlatComboBox::showPopup() {
  keyReportedIndex_ = -1;
  QWidget* popup = view()->parentWidget();
  const int height = dropDownHeight();
  popup->setFixedHeight(height);
  if (count() == 0) {
    // The toolkit drops nothing for an empty box; the flat list still drops, empty.
    popup->setGeometry(QRect(mapToGlobal(QPoint(0, this->height())), QSize(width(), height)));
    popup->show();
  } else {
    QComboBox::showPopup();
  }
  if (!popup->isVisible()) return;
  // The rows fill the list less a 2-pixel edge above and below.
  const int edge = (height - comboVisibleItems(count(), dropDownCount_) * listItemHeight()) / 2;
  if (popup->layout()) popup->layout()->setContentsMargins(0, 0, 0, 0);
  view()->setFrameShape(QFrame::NoFrame);
  view()->setGeometry(1, edge, popup->width() - 2, height - 2 * edge);
  // With no entry chosen no row is highlighted (the list's focus would make the first
  // row its current one).
  if (currentIndex() < 0) clearListCurrent();
  update();
}

void TFlatComboBox::clearListCurrent() {
  view()->selectionModel()->clear();
}

bool TFlatComboBox::event(QEvent* e) {
  return guarded(
      [&] {
        const bool handled = QComboBox::event(e);
        switch (e->type()) {
          case QEvent::Resize:
          case QEvent::Move:
          case QEvent::Show:
          case QEvent::Polish:
          case QEvent::StyleChange:
          case QEvent::FontChange:
          case QEvent::LayoutRequest:
            placeEditor();
            break;
          case QEvent::FocusIn:
            // As an editable drop-down of the platform: the text is selected whenever
            // the box takes the focus (also when its window is activated), so that
            // typing replaces it; a click into the text then places the caret.
            if (QLineEdit* edit = lineEdit()) edit->selectAll();
            break;
          default:
            break;
        }
        return handled;
      },
      true);
}

bool TFlatComboBox::eventFilter(QObject* watched, QEvent* e) {
  return guarded(
      [&] {
        if (watched == view()->parentWidget()) {
          if (e->type() == QEvent::Show || e->type() == QEvent::Hide) {
            dropped_ = e->type() == QEvent::Show;
            if (!dropped_) openingRelease_ = false;
            update();
          } else if (e->type() == QEvent::MouseButtonPress) {
            openingRelease_ = false;
          } else if (e->type() == QEvent::MouseButtonRelease && openingRelease_) {
            // The release of the click that dropped the list reaches the open list
            // outside its rows; it ends that click, not the list.
            openingRelease_ = false;
            auto* mouse = static_cast<QMouseEvent*>(e);
            return !view()->parentWidget()->rect().contains(mouse->position().toPoint());
          }
        } else if (watched == view() && e->type() == QEvent::KeyPress) {
          auto* key = static_cast<QKeyEvent*>(e);
          if (key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier) {
            return navigateDroppedList(key->key());
          }
        }
        return false;
      },
      false);
}

bool TFlatComboBox::navigateDroppedList(int key) {
  if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
  // Keys move from the selected item (none yet: the first Down takes the first item).
  const int current = currentIndex();
  const int next = key == Qt::Key_Up ? current - 1 : current + 1;
  if (next < 0 || next >= count()) return true;
  view()->setCurrentIndex(model()->index(next, modelColumn(), rootModelIndex()));
  setCurrentIndex(next);
  keyReportedIndex_ = next;
  reportChange();
  return true;
}

void TFlatComboBox::userActivated(int index) {
  // Closing the list on a row already chosen with the arrow keys is no new change.
  const bool alreadyReported = index == keyReportedIndex_ && currentText() == itemText(index);
  keyReportedIndex_ = -1;
  if (!alreadyReported && !editingFinishing_) reportChange();
}

void TFlatComboBox::reportChange() {
  if (onChange) guarded([this] { onChange(); });
}

void TFlatComboBox::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton &&
      (!isEditable() || comboArrowButtonRect(size()).contains(e->position().toPoint()))) {
    if (dropped_) {
      hidePopup();
    } else {
      showPopup();
      openingRelease_ = dropped_;
    }
    e->accept();
    return;
  }
  QComboBox::mousePressEvent(e);
}

void TFlatComboBox::changeEvent(QEvent* e) {
  QComboBox::changeEvent(e);
  if (e->type() == QEvent::FontChange) itemHeight_ = 13;
  if (e->type() == QEvent::StyleChange) installRowDelegate();
}

void TFlatComboBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QSize s = size();
  p.fillRect(comboBackgroundRect(s), color_);

  const QRect frame = comboFrameRect(s);
  p.setBrush(Qt::NoBrush);
  p.setPen(colorBorder_);
  p.drawRect(frame.adjusted(0, 0, -1, -1));
  p.setPen(color_);
  p.drawRect(frame.adjusted(1, 1, -2, -2));
  p.drawRect(frame.adjusted(2, 2, -3, -3));

  if (!isEditable()) {
    p.setPen(palette().color(QPalette::Text));
    p.drawText(comboEditRect(s), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               currentText());
  }

  const QRect button = comboArrowButtonRect(s);
  p.fillRect(button, colorArrowBackground_);
  p.setPen(colorBorder_);
  p.drawRect(button.adjusted(0, 0, -1, -1));

  const ArrowTriangle arrow = comboArrow(s, dropped_);
  if (isEnabled()) {
    p.setPen(colorArrow_);
    p.setBrush(colorArrow_);
  } else {
    p.setPen(Qt::white);
    p.setBrush(Qt::white);
    p.drawPolygon(trianglePolygon(arrow, QPoint(1, 1)));
    p.setPen(QColor(128, 128, 128));
    p.setBrush(QColor(128, 128, 128));
  }
  p.drawPolygon(trianglePolygon(arrow, QPoint(0, 0)));

  if (dropped_) {
    p.setBrush(Qt::NoBrush);
    p.setPen(systemColours().window);
    p.drawRect(comboDroppedRect(s).adjusted(0, 0, -1, -1));
  }
}

}  // namespace qadj
