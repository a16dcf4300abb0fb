// The quota-date picker: date only, shown in the system's short date format, edited
// part by part or chosen in a drop-down month calendar. OnChange reports only the
// operator's changes; setDate() by the program reports nothing.
#pragma once

#include <QDate>
#include <QDateEdit>
#include <functional>

namespace qadj::window {

class TDateTimePicker : public QDateEdit {
 public:
  explicit TDateTimePicker(QWidget* parent);

  std::function<void()> OnChange;

  QDate value() const { return date(); }
  // Sets the date without raising OnChange.
  void setValue(QDate d);
  // The value as an automation date: days since 1899-12-30, time of day 00:00.
  double dateValue() const;

 protected:
  bool event(QEvent* e) override;
  // Tab leaves the picker for the next control; the parts are stepped with arrows.
  bool focusNextPrevChild(bool next) override;

 private:
  bool programmatic_ = false;
};

// Days since 1899-12-30 of a date at 00:00.
double toAutomationDate(QDate d);
// The date text the statements expect: yyyy-mm-dd.
std::string dateText(QDate d);

}  // namespace qadj::window
