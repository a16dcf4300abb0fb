// The time limit of a client's statement, and its stop when nobody waits for it.
#include <cassert>
#include <string>

#include "qadj/appserver/database.h"

namespace qadj::appserver {

void Database::StatementBound::set(int timeoutMs, std::function<bool()> abandoned) {
  assert(timeoutMs >= 0);
  timeoutMs_ = timeoutMs;
  abandoned_ = std::move(abandoned);
}

void Database::StatementBound::start() {
  why_ = Why::None;
  const auto now = std::chrono::steady_clock::now();
  deadline_ = now + std::chrono::milliseconds(timeoutMs_);
  nextAsk_ = now + std::chrono::milliseconds(kAskAbandonedMs);
}

bool Database::StatementBound::expired() {
  if (why_ != Why::None) return true;
  if (!active()) return false;
  const auto now = std::chrono::steady_clock::now();
  if (abandoned_ && now >= nextAsk_) {
    nextAsk_ = now + std::chrono::milliseconds(kAskAbandonedMs);
    if (abandoned_()) why_ = Why::Abandoned;
  }
  if (why_ == Why::None && timeoutMs_ > 0 && now >= deadline_) why_ = Why::Timeout;
  return why_ != Why::None;
}

StatementCancelled Database::StatementBound::error() const {
  if (why_ == Why::Abandoned)
    return StatementCancelled(
        "请求已取消：客户端已断开或不再等待，或应用服务器正在停止；未作任何修改");
  const std::string bound = timeoutMs_ % 1000 == 0 ? std::to_string(timeoutMs_ / 1000) + " 秒"
                                                   : std::to_string(timeoutMs_) + " 毫秒";
  return StatementCancelled("语句执行超过 " + bound +
                            "，已被取消，未作任何修改；请缩小查询范围后重试");
}

}  // namespace qadj::appserver
