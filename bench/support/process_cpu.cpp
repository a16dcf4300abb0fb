#include "process_cpu.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace qadj::bench {

namespace {

struct Stat {
  pid_t parent = -1;
  double ticks = 0;  // utime + stime + cutime + cstime
};

// Reads /proc/PID/stat: the fields after the command name, which may hold spaces and
// parentheses, so the text after its last ')'.
bool readStat(pid_t pid, Stat& out) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  const auto close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream fields(line.substr(close + 2));
  std::string field;
  // Field 3 (state) is the first here; 4 is the parent, 14 to 17 the times.
  for (int n = 3; n <= 17 && fields >> field; ++n) {
    if (n == 4) out.parent = static_cast<pid_t>(std::atol(field.c_str()));
    if (n >= 14) out.ticks += std::atof(field.c_str());
  }
  return static_cast<bool>(fields);
}

double ticksToMs(double ticks) {
  return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

double processCpuMs(pid_t pid) {
  Stat s;
  return pid > 0 && readStat(pid, s) ? ticksToMs(s.ticks) : 0;
}

double processTreeCpuMs(pid_t pid) {
  double total = processCpuMs(pid);
  if (total == 0) return 0;
  DIR* proc = opendir("/proc");
  if (!proc) return total;
  while (const dirent* e = readdir(proc)) {
    const pid_t child = static_cast<pid_t>(std::atol(e->d_name));
    Stat s;
    if (child > 0 && readStat(child, s) && s.parent == pid) total += ticksToMs(s.ticks);
  }
  closedir(proc);
  return total;
}

pid_t parentOf(pid_t pid) {
  Stat s;
  return readStat(pid, s) ? s.parent : -1;
}

double selfCpuMs() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(use.ru_utime) + ms(use.ru_stime);
}

CpuUse operator-(const CpuUse& a, const CpuUse& b) {
  return {a.postgresMs - b.postgresMs, a.daemonMs - b.daemonMs, a.clientMs - b.clientMs};
}

CpuUse CpuSources::now() const {
  CpuUse use;
  if (postmaster > 0) use.postgresMs = processTreeCpuMs(postmaster);
  for (pid_t d : daemons) use.daemonMs += processCpuMs(d);
  use.clientMs = selfCpuMs();
  return use;
}

}  // namespace qadj::bench
