// Drives a modal window from inside its own event loop: steps queued before the
// window is opened run one after the other, each once its condition holds.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace qadj::testing {

class ModalScript : public QObject {
 public:
  using Ready = std::function<bool()>;
  using Action = std::function<void()>;

  // passBudget: event-loop passes a step may wait for its condition before the
  // script gives up (a count, not a time).
  explicit ModalScript(int passBudget = 20000);
  // stepDeadline: the time a step may wait for its condition instead (events from
  // another process, such as a display server's, arrive in their own time).
  explicit ModalScript(std::chrono::milliseconds stepDeadline);

  // Appends a step: when ready() holds, act() runs once. After the last step the
  // window must close within the budget, else the script closes it and fails.
  void add(std::string name, Ready ready, Action act);
  // Starts polling; call before entering the modal loop.
  void start();
  // Ends the script early (e.g. after a failed check) and closes the modal window,
  // so the call that opened it returns.
  void abort(const std::string& why);

  // True when every step has run.
  bool finished() const { return next_ == steps_.size(); }
  // Why the script stopped before its end; empty when it ran through.
  const std::string& failure() const { return failure_; }

  // The window the script drives: the active modal widget, else a visible
  // top-level widget with that object name. Null when there is none.
  static QWidget* findWindow(const QString& objectName);

 private:
  struct Step {
    std::string name;
    Ready ready;
    Action act;
  };
  void tick();
  void closeWindow();

  std::vector<Step> steps_;
  std::size_t next_ = 0;
  int waited_ = 0;
  int passBudget_;
  std::chrono::milliseconds stepDeadline_{0};
  QElapsedTimer waiting_;  // since the current step began waiting
  std::string failure_;
  QTimer timer_;
  // True when the current step has waited past its budget.
  bool outOfTime();
};

}  // namespace qadj::testing
