#include "qadj/window/date_picker.h"

#include <QCalendarWidget>
#include <QLocale>

#include "qadj/widgets/error_frame.h"

namespace qadj::window {

TDateTimePicker::TDateTimePicker(QWidget* parent) : QDateEdit(parent) {
  setCalendarPopup(true);
  setDisplayFormat(QLocale::system().dateFormat(QLocale::ShortFormat));
  setButtonSymbols(QAbstractSpinBox::NoButtons);
  connect(this, &QDateEdit::dateChanged, this, [this](QDate) {
    if (programmatic_ || !OnChange) return;
    guarded([this] { OnChange(); });
  });
}

void TDateTimePicker::setValue(QDate d) {
  programmatic_ = true;
  setDate(d);
  programmatic_ = false;
}

double TDateTimePicker::dateValue() const {
  return toAutomationDate(date());
}

bool TDateTimePicker::event(QEvent* e) {
  return guarded([&] { return QDateEdit::event(e); }, false);
}

bool TDateTimePicker::focusNextPrevChild(bool next) {
  return QWidget::focusNextPrevChild(next);
}

double toAutomationDate(QDate d) {
  return static_cast<double>(QDate(1899, 12, 30).daysTo(d));
}

std::string dateText(QDate d) {
  return d.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}

}  // namespace qadj::window
