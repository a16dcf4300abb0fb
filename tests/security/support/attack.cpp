#include "support/attack.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "qadj/com/com.h"
#include "qadj/platform/text.h"
#include "qadj/testing/com_scope.h"
#include "qadj/testing/store_calls.h"
#include "qadj/testing/wait_until.h"
#include "support/quota_db.h"

namespace qadj::testing {

namespace {

// An HPACK integer with a 7-bit prefix (RFC 7541, 5.1), the high bit clear.
void hpackLength(std::string& out, std::size_t n) {
  if (n < 127) {
    out += static_cast<char>(n);
    return;
  }
  out += static_cast<char>(127);
  for (n -= 127; n >= 128; n >>= 7) out += static_cast<char>((n & 0x7F) | 0x80);
  out += static_cast<char>(n);
}

// A header as a literal without indexing, new name, no Huffman coding.
void hpackField(std::string& out, const std::string& name, const std::string& value) {
  out += '\0';
  hpackLength(out, name.size());
  out += name;
  hpackLength(out, value.size());
  out += value;
}

std::uint32_t be24(const std::string& s, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8) |
         static_cast<unsigned char>(s[at + 2]);
}

constexpr std::uint8_t kData = 0, kHeaders = 1, kRstStream = 3, kSettings = 4, kPing = 6,
                       kGoAway = 7;
constexpr std::uint8_t kEndStream = 1, kAck = 1, kEndHeaders = 4;

}  // namespace

H2Wire::H2Wire(int port, const std::string& source, int rcvbuf) : port_(port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  if (rcvbuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (!source.empty()) {
    inet_pton(AF_INET, source.c_str(), &to.sin_addr);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  out_ = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
  frame(kSettings, 0, 0, "");
  flush();
}

H2Wire::~H2Wire() {
  if (fd_ >= 0) ::close(fd_);
}

void H2Wire::frame(std::uint8_t type, std::uint8_t flags, std::uint32_t stream,
                   const std::string& payload) {
  const std::size_t n = payload.size();
  const char header[9] = {static_cast<char>(n >> 16),
                          static_cast<char>(n >> 8),
                          static_cast<char>(n),
                          static_cast<char>(type),
                          static_cast<char>(flags),
                          static_cast<char>(stream >> 24),
                          static_cast<char>(stream >> 16),
                          static_cast<char>(stream >> 8),
                          static_cast<char>(stream)};
  out_.append(header, 9);
  out_ += payload;
}

void H2Wire::call(std::uint32_t id, const std::string& method, const std::string& token,
                  const std::string& request, bool reset) {
  std::string block;
  hpackField(block, ":method", "POST");
  hpackField(block, ":scheme", "http");
  hpackField(block, ":path", "/qadj.wire.ObjectService/" + method);
  hpackField(block, ":authority", "127.0.0.1:" + std::to_string(port_));
  hpackField(block, "content-type", "application/grpc");
  hpackField(block, "te", "trailers");
  if (!token.empty()) hpackField(block, "x-qadj-token", token);
  frame(kHeaders, kEndHeaders, id, block);
  const std::size_t n = request.size();
  std::string message{'\0', static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                      static_cast<char>(n >> 8), static_cast<char>(n)};
  frame(kData, reset ? 0 : kEndStream, id, message + request);
  if (reset) frame(kRstStream, 0, id, std::string("\0\0\0\x08", 4));  // CANCEL
}

bool H2Wire::flush() {
  std::size_t sent = 0;
  while (fd_ >= 0 && sent < out_.size()) {
    const auto n = ::send(fd_, out_.data() + sent, out_.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      ::close(fd_);
      fd_ = -1;
    } else {
      sent += static_cast<std::size_t>(n);
    }
  }
  out_.clear();
  return fd_ >= 0;
}

bool H2Wire::nextFrame(Frame& f) {
  if (in_.size() < 9 || in_.size() < 9 + be24(in_, 0)) return false;
  const std::uint32_t length = be24(in_, 0);
  f.type = static_cast<std::uint8_t>(in_[3]);
  f.flags = static_cast<std::uint8_t>(in_[4]);
  f.stream =
      (static_cast<std::uint32_t>(static_cast<unsigned char>(in_[5]) & 0x7F) << 24) | be24(in_, 6);
  f.payload = in_.substr(9, length);
  in_.erase(0, 9 + length);
  // What HTTP/2 requires of every client: settings and pings acknowledged.
  if (f.type == kSettings && !(f.flags & kAck)) frame(kSettings, kAck, 0, "");
  if (f.type == kPing && !(f.flags & kAck)) frame(kPing, kAck, 0, f.payload);
  return true;
}

bool H2Wire::receive(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (fd_ < 0 || ::poll(&p, 1, timeoutMs) <= 0) return false;
  char buffer[65536];
  const auto n = ::recv(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  in_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool H2Wire::pump() {
  Frame f;
  while (receive(0))
    while (nextFrame(f)) {
    }
  return flush();
}

bool H2Wire::reply(std::uint32_t id, std::string& message, std::chrono::milliseconds timeout) {
  message.clear();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (Frame f; nextFrame(f);) {
      if (f.type == kGoAway) return false;
      if (f.stream != id) continue;
      if (f.type == kData) message += f.payload;
      if (f.type == kRstStream) return true;
      if ((f.type == kData || f.type == kHeaders) && (f.flags & kEndStream)) {
        if (message.size() >= 5) message.erase(0, 5);  // the message's prefix
        return true;
      }
    }
    if (!flush()) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !receive(static_cast<int>(left.count()))) return false;
  }
}

bool H2Wire::closedByPeer(std::chrono::milliseconds wait) {
  if (fd_ < 0) return true;
  return waitUntil(
      [&] {
        char buffer[65536];
        const auto n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) return false;
        ::close(fd_);
        fd_ = -1;
        return true;
      },
      wait);
}

std::u16string wideWarehouse(QuotaDatabase& db, const std::string& warehouse, int rows,
                             int nameBytes) {
  const std::string n = std::to_string(rows), w = std::to_string(nameBytes);
  if (db.db().dialect() == "sqlite") {
    db.db().executeScript(
        "INSERT INTO GSTRYGL0 WITH RECURSIVE N(I) AS (SELECT 0 UNION ALL SELECT I+1 FROM N WHERE "
        "I+1<" +
        n + ") SELECT '" + warehouse +
        "' || printf('%03X', I), "
        "substr(hex(zeroblob(" +
        w + ")), 1, " + w + "), '" + warehouse + "', 'Y' FROM N");
  } else {
    db.db().executeScript(
        "ALTER TABLE GSTRYGL0 ALTER COLUMN RYMC00 TYPE TEXT; INSERT INTO GSTRYGL0 SELECT '" +
        warehouse + "' || lpad(upper(to_hex(I)), 3, '0'), repeat('0', " + w + "), '" + warehouse +
        "', 'Y' FROM generate_series(0, " + n + " - 1) AS G(I)");
  }
  return salespersonsOf(warehouse);
}

WellBehavedWindow::WellBehavedWindow(const std::string& host) : host_(host) {
  thread_ = std::thread([this] {
    const ComScope comScope;
    com::HRESULT created = com::S_OK;
    if (auto server = createServerOn(host_, &created)) {
      ready_ = true;
      while (!stop_) {
        const auto start = std::chrono::steady_clock::now();
        const auto outcome = fetchOn(*server, salespersonsOf("01"));
        ms_.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (outcome.hr != com::S_OK || outcome.rows == 0) {
          if (tally_.failures++ == 0)
            tally_.firstFailure = "hr " + std::to_string(outcome.hr) + ": " + outcome.description;
        }
        ++done_;
      }
    } else {
      tally_.failures = 1;
      tally_.firstFailure = "creation failed: hr " + std::to_string(created);
      stop_ = true;
    }
    ready_ = true;
  });
  waitUntil([&] { return ready_ || done_ > 0; }, std::chrono::seconds(30));
}

WellBehavedWindow::~WellBehavedWindow() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

WellBehavedWindow::Tally WellBehavedWindow::stop(std::size_t minCalls) {
  waitUntil([&] { return stop_ || done_ >= minCalls; }, std::chrono::seconds(60));
  stop_ = true;
  thread_.join();
  tally_.calls = ms_.size();
  if (!ms_.empty()) {
    std::sort(ms_.begin(), ms_.end());
    tally_.p99Ms = ms_[std::min(ms_.size() - 1, ms_.size() * 99 / 100)];
    tally_.maxMs = ms_.back();
  }
  return tally_;
}

namespace {

long statusKiB(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return 0;
}

}  // namespace

long residentKiB(pid_t pid) {
  return statusKiB(pid, "VmRSS:");
}

long peakResidentKiB(pid_t pid) {
  return statusKiB(pid, "VmHWM:");
}

}  // namespace qadj::testing
