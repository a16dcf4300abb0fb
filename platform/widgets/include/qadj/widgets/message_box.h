// The message box service: the plug-in's only way to show a modal message box.
// The real implementation is a Qt message box; tests install a scripted one that
// records every call and answers a chosen button.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "qadj/platform/export.h"
#include "qadj/widgets/owner_window.h"

namespace qadj {

// Flags, as the Windows message box takes them: buttons in the low nibble, the
// icon in the next one.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_ABORTRETRYIGNORE = 0x02;
constexpr unsigned MB_YESNOCANCEL = 0x03;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_RETRYCANCEL = 0x05;
constexpr unsigned MB_TYPEMASK = 0x0F;
constexpr unsigned MB_ICONHAND = 0x10;
constexpr unsigned MB_ICONSTOP = MB_ICONHAND;
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONASTERISK = 0x40;
constexpr unsigned MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr unsigned MB_ICONMASK = 0xF0;

// Results: the button the operator chose.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class QADJ_PLATFORM_API MessageBoxService {
 public:
  virtual ~MessageBoxService();
  // Shows a modal box with GBK text and caption; blocks until a button is chosen
  // and returns its ID* value (IDCANCEL when the box is closed without a button
  // and it has a Cancel button, else the default button).
  virtual int show(const OwnerWindow& owner, const std::string& gbkText,
                   const std::string& gbkCaption, unsigned flags) = 0;
};

// The Qt implementation: an application-modal QMessageBox (while it is shown every
// other top-level window of the process is blocked), icon and buttons from the
// flags, transient for the owner (widget or X11 window id).
class QADJ_PLATFORM_API QtMessageBoxService : public MessageBoxService {
 public:
  int show(const OwnerWindow& owner, const std::string& gbkText, const std::string& gbkCaption,
           unsigned flags) override;
};

// For tests: records every call and answers from a queue (IDOK when it is empty).
class QADJ_PLATFORM_API ScriptedMessageBoxService : public MessageBoxService {
 public:
  struct Call {
    OwnerWindow owner;
    std::string text;     // GBK
    std::string caption;  // GBK
    unsigned flags = 0;
    int answer = 0;  // what show() returned
  };

  int show(const OwnerWindow& owner, const std::string& gbkText, const std::string& gbkCaption,
           unsigned flags) override;

  // Queues the answer for the next unanswered call.
  void answerNext(int button) { answers_.push_back(button); }
  const std::vector<Call>& calls() const { return calls_; }
  void clear() {
    calls_.clear();
    answers_.clear();
  }

 private:
  std::vector<Call> calls_;
  std::deque<int> answers_;
};

// The process-wide service; the Qt implementation until another one is set.
// The returned reference is valid until the next setMessageBoxService().
QADJ_PLATFORM_API MessageBoxService& messageBoxService();
// Installs service (nullptr restores the Qt implementation); returns the previous
// one set by this function (nullptr when it was the default).
QADJ_PLATFORM_API std::shared_ptr<MessageBoxService> setMessageBoxService(
    std::shared_ptr<MessageBoxService> service);

// Installs a service for the lifetime of the guard (for tests); restores the previous one.
class QADJ_PLATFORM_API ScopedMessageBoxService {
 public:
  explicit ScopedMessageBoxService(std::shared_ptr<MessageBoxService> service)
      : previous_(setMessageBoxService(std::move(service))) {}
  ~ScopedMessageBoxService() { setMessageBoxService(std::move(previous_)); }
  ScopedMessageBoxService(const ScopedMessageBoxService&) = delete;
  ScopedMessageBoxService& operator=(const ScopedMessageBoxService&) = delete;

 private:
  std::shared_ptr<MessageBoxService> previous_;
};

// Shows a message box through the current service; returns the chosen button.
QADJ_PLATFORM_API int MessageBox(const OwnerWindow& owner, const std::string& gbkText,
                                 const std::string& gbkCaption, unsigned flags);

}  // namespace qadj
