// CPU time that processes have used (user + system, milliseconds), from the kernel's
// own accounting in /proc: what the concurrent pairs report per workflow.
#pragma once

#include <sys/types.h>

#include <vector>

namespace qadj::bench {

// CPU of a process with its reaped children; 0 when it is gone or unreadable.
double processCpuMs(pid_t pid);
// CPU of a process and of every child it has not reaped yet (a server that forks a
// process per connection, counted whole whatever connections came and went).
double processTreeCpuMs(pid_t pid);
// The parent of a process, -1 when it is gone or unreadable.
pid_t parentOf(pid_t pid);
// CPU of this process, every thread.
double selfCpuMs();

// The CPU of the three parties of a run: the database server, the daemons, the
// clients (this process).
struct CpuUse {
  double postgresMs = 0, daemonMs = 0, clientMs = 0;
};
CpuUse operator-(const CpuUse& a, const CpuUse& b);

// Where a run's CPU is read: the database server's main process (-1: not counted)
// and the daemons' processes.
struct CpuSources {
  pid_t postmaster = -1;
  std::vector<pid_t> daemons;
  CpuUse now() const;
};

}  // namespace qadj::bench
