#include "modal_script.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>

namespace qadj::testing {

ModalScript::ModalScript(int passBudget) : passBudget_(passBudget) {
  timer_.setInterval(0);
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

ModalScript::ModalScript(std::chrono::milliseconds stepDeadline) : ModalScript(0) {
  stepDeadline_ = stepDeadline;
}

bool ModalScript::outOfTime() {
  if (stepDeadline_.count() == 0) return ++waited_ > passBudget_;
  if (!waiting_.isValid()) waiting_.start();
  return waiting_.elapsed() > stepDeadline_.count();
}

void ModalScript::add(std::string name, Ready ready, Action act) {
  steps_.push_back({std::move(name), std::move(ready), std::move(act)});
}

void ModalScript::start() {
  timer_.start();
}

QWidget* ModalScript::findWindow(const QString& objectName) {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->objectName() == objectName) return w;
  return nullptr;
}

void ModalScript::tick() {
  if (!failure_.empty()) {
    timer_.stop();
    return;
  }
  if (finished()) {
    // After the last step the window must close by itself; should it stay open, it
    // is closed here so that the call that opened it returns.
    if (!findWindow(QStringLiteral("main"))) {
      timer_.stop();
    } else if (outOfTime()) {
      abort("the window stayed open after the last step");
    }
    return;
  }
  Step& step = steps_[next_];
  if (!step.ready()) {
    if (outOfTime()) abort("step \"" + step.name + "\" never became ready");
    return;
  }
  waited_ = 0;
  waiting_.invalidate();
  ++next_;
  step.act();
  if (::testing::Test::HasFailure()) {
    abort("step \"" + step.name + "\" failed");
  }
}

void ModalScript::abort(const std::string& why) {
  if (failure_.empty()) failure_ = why;
  timer_.stop();
  closeWindow();
}

void ModalScript::closeWindow() {
  QWidget* w = findWindow(QStringLiteral("main"));
  if (!w) return;
  if (auto* dialog = qobject_cast<QDialog*>(w))
    dialog->reject();
  else
    w->close();
}

}  // namespace qadj::testing
