// What the denial-of-service tests share: a client that speaks HTTP/2 frame by frame
// (as an attacker does: streams reset at once, replies never read, any source address
// of this computer), a well-behaved window whose calls are timed while an attack runs,
// and the daemon's memory.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace qadj::testing {

class QuotaDatabase;

// A warehouse of `rows` (at most 4096) visit-salespersons whose names are `nameBytes`
// long, their codes the warehouse's one letter and three hexadecimal digits, made by
// the database itself (on PostgreSQL the name column is widened first, as a host's
// database may have it). Returns the window's salesperson list of it, which returns
// about rows * nameBytes bytes.
std::u16string wideWarehouse(QuotaDatabase& db, const std::string& warehouse, int rows,
                             int nameBytes);

// One HTTP/2 connection to the object service, written by hand. Every method returns
// false once the daemon has closed the connection (or it cannot be written).
class H2Wire {
 public:
  // Connects to 127.0.0.1:port from source (an address of this computer, "" any) and
  // sends the connection preface. rcvbuf > 0 sets the socket's receive buffer.
  H2Wire(int port, const std::string& source = "", int rcvbuf = 0);
  ~H2Wire();
  H2Wire(const H2Wire&) = delete;
  H2Wire& operator=(const H2Wire&) = delete;
  bool connected() const { return fd_ >= 0; }

  // Opens stream id with a call of the service's method ("Invoke") carrying token (""
  // none) and the request's bytes; reset: the stream is reset at once after it.
  // Frames are buffered until flush().
  void call(std::uint32_t id, const std::string& method, const std::string& token,
            const std::string& request, bool reset = false);
  bool flush();
  // Reads what the daemon sent, acknowledging its settings and pings, then flush()es.
  bool pump();
  // Reads until stream id ends (its trailers) and returns the message it carried, or
  // "" when it carried none; false when the connection closed first or nothing came
  // within timeout.
  bool reply(std::uint32_t id, std::string& message,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // True when the daemon has closed the connection (reading what is there meanwhile).
  bool closedByPeer(std::chrono::milliseconds wait);

 private:
  struct Frame {
    std::uint8_t type = 0, flags = 0;
    std::uint32_t stream = 0;
    std::string payload;
  };
  void frame(std::uint8_t type, std::uint8_t flags, std::uint32_t stream,
             const std::string& payload);
  // Takes the next whole frame read (answering settings and pings); false when none.
  bool nextFrame(Frame& f);
  // Waits up to timeoutMs for bytes and reads them; false when none came or it closed.
  bool receive(int timeoutMs);
  int fd_ = -1;
  int port_;
  std::string out_, in_;
};

// The window's calls in a loop on a thread of their own, each timed: the daemon's
// object created once, then the salesperson list fetched again and again.
class WellBehavedWindow {
 public:
  // Creates the object on host (ClientEnv must give the token) and returns once it is
  // created (or failed); calls from then on.
  explicit WellBehavedWindow(const std::string& host);
  ~WellBehavedWindow();
  struct Tally {
    std::size_t calls = 0, failures = 0;
    double p99Ms = 0, maxMs = 0;
    std::string firstFailure;
  };
  // Calls made so far.
  std::size_t calls() const { return done_; }
  // Stops and tells how the calls went; waits for at least minCalls first.
  Tally stop(std::size_t minCalls = 20);

 private:
  std::string host_;
  std::atomic<bool> stop_{false}, ready_{false};
  std::atomic<std::size_t> done_{0};
  std::thread thread_;
  Tally tally_;
  std::vector<double> ms_;
};

// Resident memory of a process now (VmRSS) and at its peak (VmHWM), in KiB; 0 unknown.
long residentKiB(pid_t pid);
long peakResidentKiB(pid_t pid);

}  // namespace qadj::testing
