// TFlatComboBox: an editable drop-down list of texts with a flat frame and its own
// arrow button. The edit field and the list rows are the toolkit's; the control draws
// its frame, arrow button and arrow, and sizes the edit field and the dropped list.
//
// onChange reports what the user did, never what the program did: a selection of an
// item with the mouse or the arrow keys (after the text has become the item's text),
// and every edit of the text by typing or pasting. setEditText(), setCurrentIndex()
// and the like stay silent. Texts are QString (UTF-16); convert GBK at the caller.
#pragma once

#include <QColor>
#include <QComboBox>
#include <functional>

namespace qadj {

class TFlatComboBox : public QComboBox {
 public:
  enum class ComboStyle { DropDown, DropDownList };

  explicit TFlatComboBox(QWidget* parent = nullptr);
  TFlatComboBox(const TFlatComboBox&) = delete;
  TFlatComboBox& operator=(const TFlatComboBox&) = delete;

  // Background of the edit area and of the dropped list; the system window colour
  // when created.
  QColor color() const { return color_; }
  void setColor(const QColor& color);
  QColor colorBorder() const { return colorBorder_; }
  void setColorBorder(const QColor& color);
  QColor colorArrowBackground() const { return colorArrowBackground_; }
  void setColorArrowBackground(const QColor& color);
  QColor colorArrow() const { return colorArrow_; }
  void setColorArrow(const QColor& color);

  // DropDown: the text can be typed; DropDownList: only items can be chosen.
  ComboStyle comboStyle() const { return comboStyle_; }
  void setComboStyle(ComboStyle style);

  // The list item height setting; back to 13 whenever the font changes. Rows of the
  // dropped list themselves take listItemHeight(), which follows the font.
  int itemHeight() const { return itemHeight_; }
  void setItemHeight(int height);

  // Sets the edit text (silently, as setEditText()); while the box has the focus the
  // new text is selected, as the platform's drop-down selects a text set into it, so
  // that what the user types next replaces it.
  void setText(const QString& text);

  // Most rows visible at once in the dropped list (values below 1 are ignored).
  int dropDownCount() const { return dropDownCount_; }
  void setDropDownCount(int count);

  // Row height of the dropped list for the current font.
  int listItemHeight() const;
  // Height that the dropped list gets for the current items.
  int dropDownHeight() const;
  // True while the list is dropped.
  bool isDropped() const { return dropped_; }

  // Reports a change made by the user (see above). Exceptions it throws are reported
  // through the error frame and never reach Qt.
  std::function<void()> onChange;

  void showPopup() override;

 protected:
  bool event(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void makeEditor();
  void placeEditor();
  void applyColours();
  void installRowDelegate();
  void reportChange();
  void userActivated(int index);
  bool navigateDroppedList(int key);
  // The dropped list without a current or selected row.
  void clearListCurrent();

  QColor color_;
  QColor colorBorder_{160, 150, 131};
  QColor colorArrowBackground_{217, 214, 197};
  QColor colorArrow_{Qt::black};
  ComboStyle comboStyle_ = ComboStyle::DropDown;
  int itemHeight_ = 13;
  int dropDownCount_ = 8;
  bool dropped_ = false;
  int keyReportedIndex_ = -1;      // row already reported by arrow keys in the open list
  bool editingFinishing_ = false;  // inside the toolkit's end-of-editing handling
  bool openingRelease_ = false;    // the list was dropped by a press not yet released
};

}  // namespace qadj
