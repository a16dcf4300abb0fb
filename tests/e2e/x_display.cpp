#include "x_display.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <thread>

namespace qadj::testing {
namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

VirtualDisplay::~VirtualDisplay() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

bool VirtualDisplay::start() {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  if (xvfb.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
    whyNot_ = "Xvfb or xdotool is not installed (scripts/setup.sh installs them)";
    return false;
  }
  int number = 91;
  while (number < 200 && (exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
                          exists("/tmp/.X" + std::to_string(number) + "-lock")))
    ++number;
  name_ = ":" + std::to_string(number);
  const std::string program = xvfb.toStdString();
  pid_ = ::fork();
  if (pid_ == 0) {
    // The server dies with the test, and keeps none of its output streams open (a
    // test runner waits for them to close).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    ::execl(program.c_str(), program.c_str(), name_.c_str(), "-nolisten", "tcp", "-screen", "0",
            "1280x1024x24", "-dpi", "96", "-noreset", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) {
    whyNot_ = "cannot start Xvfb";
    return false;
  }
  const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!exists(socket)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      whyNot_ = "Xvfb exited at start";
      return false;
    }
    if (std::chrono::steady_clock::now() > until) {
      whyNot_ = "Xvfb did not come up within 10 s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool xdotool(const QStringList& args) {
  return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

bool xclick(QPoint global) {
  return xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"),
                  QString::number(global.x()), QString::number(global.y()), QStringLiteral("click"),
                  QStringLiteral("1")});
}

bool xtype(const QString& text) {
  return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("0"), text});
}

}  // namespace qadj::testing
