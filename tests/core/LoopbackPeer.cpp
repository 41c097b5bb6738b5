#include "LoopbackPeer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace ftpc::test {

namespace {

using Clock = std::chrono::steady_clock;

// The time left until a point ATimeout from construction.
class TDeadline {
public:
  explicit TDeadline(std::chrono::milliseconds ATimeout) : FEnd(Clock::now() + ATimeout) {}
  std::chrono::milliseconds Left() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(FEnd - Clock::now());
  }

private:
  Clock::time_point FEnd;
};

sockaddr_in LoopbackAddress(uint16_t APort) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(APort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int PollOne(int AFd, short AEvents, std::chrono::milliseconds ATimeout) {
  pollfd entry{AFd, AEvents, 0};
  int result;
  do {
    result = ::poll(&entry, 1, static_cast<int>(ATimeout.count()));
  } while (result < 0 && errno == EINTR);
  return result;
}

int ConnectNonBlocking(uint16_t APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(APort);
  ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  return fd;
}

} // namespace

// ---- TPeerConnection -------------------------------------------------------------------

TPeerConnection::TPeerConnection(TPeerConnection&& AOther) noexcept
    : FFd(AOther.FFd), FPending(std::move(AOther.FPending)) {
  AOther.FFd = -1;
}

TPeerConnection& TPeerConnection::operator=(TPeerConnection&& AOther) noexcept {
  if (this != &AOther) {
    Close();
    FFd = AOther.FFd;
    FPending = std::move(AOther.FPending);
    AOther.FFd = -1;
  }
  return *this;
}

TPeerConnection::~TPeerConnection() { Close(); }

bool TPeerConnection::Send(const std::string& AData) {
  return Send(reinterpret_cast<const uint8_t*>(AData.data()), AData.size());
}

bool TPeerConnection::Send(const uint8_t* AData, size_t ALength) {
  size_t sent = 0;
  while (sent < ALength) {
    const ssize_t n = ::send(FFd, AData + sent, ALength - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool TPeerConnection::WaitReadable(std::chrono::milliseconds ATimeout) {
  return PollOne(FFd, POLLIN, ATimeout) > 0;
}

// One receive after waiting up to ATimeout, appended to VInto: the count, 0 when the peer
// closed, -1 on time-out or failure.
ssize_t TPeerConnection::ReceiveSome(std::string& VInto, std::chrono::milliseconds ATimeout) {
  if (ATimeout.count() <= 0 || !WaitReadable(ATimeout)) {
    return -1;
  }
  char chunk[65536];
  ssize_t n;
  do {
    n = ::recv(FFd, chunk, sizeof(chunk), 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) {
    VInto.append(chunk, static_cast<size_t>(n));
  }
  return n;
}

bool TPeerConnection::ReadLine(std::string& VLine, std::chrono::milliseconds ATimeout) {
  const TDeadline deadline(ATimeout);
  size_t lf;
  while ((lf = FPending.find('\n')) == std::string::npos) {
    if (ReceiveSome(FPending, deadline.Left()) <= 0) {
      return false;
    }
  }
  VLine = FPending.substr(0, lf);
  if (!VLine.empty() && VLine.back() == '\r') {
    VLine.pop_back();
  }
  FPending.erase(0, lf + 1);
  return true;
}

std::string TPeerConnection::ReadAll(std::chrono::milliseconds ATimeout) {
  const TDeadline deadline(ATimeout);
  std::string result = std::exchange(FPending, std::string());
  while (ReceiveSome(result, deadline.Left()) > 0) {
  }
  return result;
}

std::string TPeerConnection::ReadAvailable(std::chrono::milliseconds ATimeout) {
  std::string result = std::exchange(FPending, std::string());
  while (ReceiveSome(result, ATimeout) > 0) {
  }
  return result;
}

int64_t TPeerConnection::DrainAll() {
  auto total = static_cast<int64_t>(std::exchange(FPending, std::string()).size());
  std::string scratch;
  ssize_t n;
  while ((n = ReceiveSome(scratch, 30s)) > 0) { // a quiet half minute: the other side is stuck
    total += n;
    scratch.clear();
  }
  return total;
}

bool TPeerConnection::WaitForClose(std::chrono::milliseconds ATimeout) {
  const TDeadline deadline(ATimeout);
  std::string scratch;
  ssize_t n;
  while ((n = ReceiveSome(scratch, deadline.Left())) > 0) {
    scratch.clear();
  }
  return n == 0;
}

void TPeerConnection::ShutdownWrite() {
  if (FFd >= 0) {
    ::shutdown(FFd, SHUT_WR);
  }
}

void TPeerConnection::Close() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

// ---- TLoopbackListener -----------------------------------------------------------------

TLoopbackListener::TLoopbackListener(int ABacklog, bool AIPv6) {
  sockaddr_storage address{};
  socklen_t length;
  if (AIPv6) {
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    length = sizeof(v6);
  } else {
    reinterpret_cast<sockaddr_in&>(address) = LoopbackAddress(0);
    length = sizeof(sockaddr_in);
  }
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  FFd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FFd < 0 || ::bind(FFd, raw, length) != 0 || ::listen(FFd, ABacklog) != 0 ||
      ::getsockname(FFd, raw, &length) != 0) {
    throw std::runtime_error("loopback listener could not be set up");
  }
  FPort = ntohs(AIPv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                      : reinterpret_cast<sockaddr_in&>(address).sin_port);
}

TLoopbackListener::~TLoopbackListener() { Close(); }

TPeerConnection TLoopbackListener::Accept(std::chrono::milliseconds ATimeout) {
  if (PollOne(FFd, POLLIN, ATimeout) <= 0) {
    return TPeerConnection();
  }
  return TPeerConnection(::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC));
}

void TLoopbackListener::Close() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

// ---- TBlackHoleListener ----------------------------------------------------------------

// With a backlog of 0 the kernel queues one completed connection; once that slot is taken,
// SYNs to the port are dropped, so connects hang instead of being refused.
TBlackHoleListener::TBlackHoleListener() {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int fd = ConnectNonBlocking(Port());
    FFillers.push_back(fd);
    if (PollOne(fd, POLLOUT, 200ms) == 0) {
      return; // this one hangs: the queue is full
    }
  }
  throw std::runtime_error("could not fill the accept queue of the loopback listener");
}

TBlackHoleListener::~TBlackHoleListener() {
  for (const int fd : FFillers) {
    ::close(fd);
  }
}

// ---- helpers ---------------------------------------------------------------------------

uint16_t UnusedLoopbackPort() {
  TLoopbackListener listener;
  return listener.Port();
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') {
      ++count;
    }
  }
  ::closedir(dir);
  return count - 1; // the directory's own descriptor
}

TPeerConnection ConnectRaw(uint16_t APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(APort);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return TPeerConnection();
  }
  return TPeerConnection(fd);
}

} // namespace ftpc::test
