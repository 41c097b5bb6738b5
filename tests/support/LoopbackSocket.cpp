#include "support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ftpc::test {

namespace {

constexpr int kListenBacklog = 16;

struct NumericAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;
  int Family = AF_UNSPEC;
};

bool ParseNumericAddress(const std::string& AAddress, uint16_t APort, NumericAddress& VOut) {
  VOut = NumericAddress{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&VOut.Storage);
  if (inet_pton(AF_INET, AAddress.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(APort);
    VOut.Length = sizeof(sockaddr_in);
    VOut.Family = AF_INET;
    return true;
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&VOut.Storage);
  if (inet_pton(AF_INET6, AAddress.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(APort);
    VOut.Length = sizeof(sockaddr_in6);
    VOut.Family = AF_INET6;
    return true;
  }
  return false;
}

FileDescriptor NewSocket(int AFamily) {
  return FileDescriptor(::socket(AFamily, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

int RemainingMs(Clock::time_point ADeadline) {
  const auto left = std::chrono::duration_cast<Millis>(ADeadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

} // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Reset(other.Release());
  }
  return *this;
}

int FileDescriptor::Release() {
  const int fd = FFd;
  FFd = -1;
  return fd;
}

void FileDescriptor::Reset(int fd) {
  if (FFd >= 0) {
    ::close(FFd);
  }
  FFd = fd;
}

std::string ErrnoText(int AError) {
  return std::string(std::strerror(AError)) + " (errno " + std::to_string(AError) + ")";
}

bool IsLoopbackAddress(const std::string& AAddress) {
  in_addr v4{};
  if (inet_pton(AF_INET, AAddress.c_str(), &v4) == 1) {
    return (ntohl(v4.s_addr) >> 24) == 127;
  }
  in6_addr v6{};
  return inet_pton(AF_INET6, AAddress.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

FileDescriptor ListenOn(const std::string& AAddress, uint16_t APort, std::string& VError) {
  NumericAddress address;
  if (!ParseNumericAddress(AAddress, APort, address)) {
    VError = "not a numeric address: " + AAddress;
    return {};
  }
  FileDescriptor fd = NewSocket(address.Family);
  if (!fd.Valid()) {
    VError = "socket: " + ErrnoText(errno);
    return {};
  }
  // Fixed ports (127.0.0.N:21) are reused test after test; TIME_WAIT must not block them.
  const int on = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (address.Family == AF_INET6) {
    ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  }
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address.Storage), address.Length) != 0) {
    VError = "bind " + AAddress + ":" + std::to_string(APort) + ": " + ErrnoText(errno);
    return {};
  }
  // With SO_REUSEADDR two binds can both succeed; the second listen() then fails.
  if (::listen(fd.Get(), kListenBacklog) != 0) {
    VError = "listen " + AAddress + ":" + std::to_string(APort) + ": " + ErrnoText(errno);
    return {};
  }
  return fd;
}

std::string ListenProblem(const std::string& AAddress, uint16_t APort) {
  std::string error;
  const FileDescriptor fd = ListenOn(AAddress, APort, error);
  return fd.Valid() ? std::string() : error;
}

std::string FreeLoopbackAddress(uint16_t APort, std::string& VError) {
  // Start at a pid-dependent N so that parallel test processes rarely probe the same addresses.
  constexpr int kFirst = 2;
  constexpr int kCount = 253;
  const int offset = static_cast<int>(::getpid() % kCount);
  for (int i = 0; i < kCount; ++i) {
    const std::string address = "127.0.0." + std::to_string(kFirst + (offset + i) % kCount);
    VError = ListenProblem(address, APort);
    if (VError.empty()) {
      return address;
    }
  }
  return {};
}

uint16_t UnusedLoopbackPort(const std::string& AAddress) {
  std::string error;
  const FileDescriptor fd = ListenOn(AAddress, 0, error);
  return fd.Valid() ? LocalPort(fd.Get()) : 0;
}

uint16_t LocalPort(int AFd) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getsockname(AFd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    return 0;
  }
  if (storage.ss_family == AF_INET) {
    return ntohs(reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
  }
  return ntohs(reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
}

FileDescriptor ConnectTo(const std::string& AAddress, uint16_t APort, Millis ATimeout,
                         std::string& VError) {
  NumericAddress address;
  if (!ParseNumericAddress(AAddress, APort, address)) {
    VError = "not a numeric address: " + AAddress;
    return {};
  }
  if (!IsLoopbackAddress(AAddress)) {
    VError = "refusing to connect outside loopback: " + AAddress;
    return {};
  }
  FileDescriptor fd = NewSocket(address.Family);
  if (!fd.Valid()) {
    VError = "socket: " + ErrnoText(errno);
    return {};
  }
  const std::string target = AAddress + ":" + std::to_string(APort);
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address.Storage), address.Length) == 0) {
    return fd;
  }
  if (errno != EINPROGRESS) {
    VError = "connect " + target + ": " + ErrnoText(errno);
    return {};
  }
  if (WaitForEvents(fd.Get(), POLLOUT, Clock::now() + ATimeout) == 0) {
    VError = "connect " + target + ": timed out";
    return {};
  }
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
  if (error != 0) {
    VError = "connect " + target + ": " + ErrnoText(error);
    return {};
  }
  const int on = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

short WaitForEvents(int AFd, short AEvents, Clock::time_point ADeadline) {
  pollfd entry{AFd, AEvents, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, RemainingMs(ADeadline));
    if (ready > 0) {
      return entry.revents;
    }
    if (ready == 0 || errno != EINTR) {
      return 0;
    }
  }
}

void SetLingerReset(int AFd) {
  const linger hard{1, 0};
  ::setsockopt(AFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

SendProgress SendAvailable(int AFd, const char* AData, size_t ALength, size_t& VSent) {
  while (VSent < ALength) {
    const ssize_t n = ::send(AFd, AData + VSent, ALength - VSent, MSG_NOSIGNAL);
    if (n > 0) {
      VSent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return SendProgress::WouldBlock;
    } else if (n == 0 || errno != EINTR) {
      return SendProgress::Failed;
    }
  }
  return SendProgress::Done;
}

bool SendAll(int AFd, const char* AData, size_t ALength, Millis ATimeout, std::string& VError) {
  size_t sent = 0;
  for (;;) {
    switch (SendAvailable(AFd, AData, ALength, sent)) {
    case SendProgress::Done:
      return true;
    case SendProgress::Failed:
      VError = "send: " + ErrnoText(errno);
      return false;
    case SendProgress::WouldBlock:
      break;
    }
    if ((WaitForEvents(AFd, POLLOUT, Clock::now() + ATimeout) & POLLOUT) == 0) {
      VError = "send: no progress within " + std::to_string(ATimeout.count()) + " ms";
      return false;
    }
  }
}

} // namespace ftpc::test
