#include "x_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <chrono>
#include <thread>
#include <vector>

namespace qadj::testing {
namespace {

// Starts program with args, its output streams closed, dying with the test (a test
// runner waits for the streams to close).
pid_t spawn(const std::string& program, const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  const int devNull = ::open("/dev/null", O_RDWR);
  ::dup2(devNull, STDIN_FILENO);
  ::dup2(devNull, STDOUT_FILENO);
  ::dup2(devNull, STDERR_FILENO);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

// True when a window manager has announced itself on the display in DISPLAY.
bool windowManaged() {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"),
              {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
  return xprop.waitForFinished(5000) && xprop.readAllStandardOutput().contains("window id");
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace

VirtualDisplay::~VirtualDisplay() {
  stop(windowManager_);
  stop(pid_);
}

bool VirtualDisplay::start(const std::string& windowManager) {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
  if (xvfb.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
    whyNot_ = "Xvfb or xdotool is not installed (scripts/setup.sh installs them)";
    return false;
  }
  const QString wm = QStandardPaths::findExecutable(QString::fromStdString(windowManager));
  if (!windowManager.empty() && wm.isEmpty()) {
    whyNot_ = windowManager + " is not installed (scripts/setup.sh installs it)";
    return false;
  }
  // Xvfb takes a free display itself and writes its number once it accepts connections
  // (-displayfd): two tests that start at once never share one display.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFD, 0) != 0) {
    whyNot_ = "cannot make a pipe for Xvfb";
    return false;
  }
  pid_ = spawn(xvfb.toStdString(), {"-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                                    "-screen", "0", "1600x1200x24", "-dpi", "96", "-noreset"});
  ::close(fds[1]);
  std::string number;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (char c = 0; pid_ > 0 && c != '\n';) {
    pollfd ready{fds[0], POLLIN, 0};
    if (std::chrono::steady_clock::now() > until) {
      whyNot_ = "Xvfb did not come up within 10 s";
      break;
    }
    if (::poll(&ready, 1, 100) == 1 && ::read(fds[0], &c, 1) != 1) {
      whyNot_ = "Xvfb exited at start";
      break;
    }
    if (ready.revents & POLLIN && c >= '0' && c <= '9') number += c;
  }
  ::close(fds[0]);
  if (pid_ < 0 || number.empty() || !whyNot_.empty()) {
    if (whyNot_.empty()) whyNot_ = "cannot start Xvfb";
    return false;
  }
  name_ = ":" + number;
  if (windowManager.empty()) return true;
  setenv("DISPLAY", name_.c_str(), 1);
  windowManager_ = spawn(wm.toStdString(), {});
  // Managed once it owns the screen's window-manager selection.
  while (!windowManaged()) {
    if (std::chrono::steady_clock::now() > until) {
      whyNot_ = windowManager + " did not manage the display within 10 s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool xdotool(const QStringList& args) {
  return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

bool xmove(QPoint global) {
  const qreal scale = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
  const QPoint at = (QPointF(global) * scale).toPoint();
  return xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()),
                  QString::number(at.y())});
}

bool xclick(QPoint global) {
  return xmove(global) && xdotool({QStringLiteral("click"), QStringLiteral("1")});
}

bool xtype(const QString& text) {
  return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("0"), text});
}

}  // namespace qadj::testing
