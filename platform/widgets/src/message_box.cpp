// The process-wide message box service and the scripted implementation.
#include "qadj/widgets/message_box.h"

#include <mutex>

namespace qadj {
namespace {

std::mutex& serviceMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<MessageBoxService>& installedService() {
  static std::shared_ptr<MessageBoxService> service;
  return service;
}

QtMessageBoxService& defaultService() {
  static QtMessageBoxService service;
  return service;
}

}  // namespace

MessageBoxService::~MessageBoxService() = default;

int ScriptedMessageBoxService::show(const OwnerWindow& owner, const std::string& gbkText,
                                    const std::string& gbkCaption, unsigned flags) {
  int answer = IDOK;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  }
  calls_.push_back(Call{owner, gbkText, gbkCaption, flags, answer});
  return answer;
}

MessageBoxService& messageBoxService() {
  std::lock_guard lock(serviceMutex());
  auto& installed = installedService();
  if (installed) return *installed;
  return defaultService();
}

std::shared_ptr<MessageBoxService> setMessageBoxService(
    std::shared_ptr<MessageBoxService> service) {
  std::lock_guard lock(serviceMutex());
  auto previous = std::move(installedService());
  installedService() = std::move(service);
  return previous;
}

int MessageBox(const OwnerWindow& owner, const std::string& gbkText, const std::string& gbkCaption,
               unsigned flags) {
  // Keep the service alive for the whole call even if it is replaced meanwhile.
  std::shared_ptr<MessageBoxService> service;
  {
    std::lock_guard lock(serviceMutex());
    service = installedService();
  }
  if (service) return service->show(owner, gbkText, gbkCaption, flags);
  return defaultService().show(owner, gbkText, gbkCaption, flags);
}

}  // namespace qadj
