#include "stack/IdStackPosix.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/IdResourceStrings.h"
#include "stack/IdIPAddress.h"
#include "stack/IdSockAddr.h"

namespace ftpc {

// The option numbers the layers above use are the platform's own.
static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_SOCK_RAW == SOCK_RAW);
static_assert(Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_TCP == IPPROTO_TCP &&
              Id_IPPROTO_UDP == IPPROTO_UDP && Id_IPPROTO_IPV6 == IPPROTO_IPV6);
static_assert(Id_SOL_SOCKET == SOL_SOCKET && Id_SO_REUSEADDR == SO_REUSEADDR &&
              Id_SO_BROADCAST == SO_BROADCAST && Id_SO_KEEPALIVE == SO_KEEPALIVE &&
              Id_SO_RCVBUF == SO_RCVBUF && Id_SO_SNDBUF == SO_SNDBUF);
static_assert(Id_TCP_NODELAY == TCP_NODELAY);
static_assert(Id_IP_MULTICAST_TTL == IP_MULTICAST_TTL &&
              Id_IP_MULTICAST_LOOP == IP_MULTICAST_LOOP &&
              Id_IP_ADD_MEMBERSHIP == IP_ADD_MEMBERSHIP &&
              Id_IP_DROP_MEMBERSHIP == IP_DROP_MEMBERSHIP);
static_assert(Id_IPV6_MULTICAST_HOPS == IPV6_MULTICAST_HOPS &&
              Id_IPV6_MULTICAST_LOOP == IPV6_MULTICAST_LOOP &&
              Id_IPV6_ADD_MEMBERSHIP == IPV6_ADD_MEMBERSHIP &&
              Id_IPV6_DROP_MEMBERSHIP == IPV6_DROP_MEMBERSHIP);
static_assert(Id_SD_Recv == SHUT_RD && Id_SD_Send == SHUT_WR && Id_SD_Both == SHUT_RDWR);
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr_in6) == 28);

namespace {

// ---- Error numbers ---------------------------------------------------------------------------

struct TErrorPair {
  int Native;
  int WSA;
};

// errno values and the Windows Sockets errors of the same name. Where two native numbers
// share one meaning for a socket, both map to it (EPIPE: the sending side is shut down).
constexpr TErrorPair kErrnoTable[] = {
    {EINTR, Id_WSAEINTR},
    {EBADF, Id_WSAEBADF},
    {EACCES, Id_WSAEACCES},
    {EPERM, Id_WSAEACCES},
    {EFAULT, Id_WSAEFAULT},
    {EINVAL, Id_WSAEINVAL},
    {EMFILE, Id_WSAEMFILE},
    {ENFILE, Id_WSAEMFILE},
    {EWOULDBLOCK, Id_WSAEWOULDBLOCK},
    {EAGAIN, Id_WSAEWOULDBLOCK},
    {EINPROGRESS, Id_WSAEINPROGRESS},
    {EALREADY, Id_WSAEALREADY},
    {ENOTSOCK, Id_WSAENOTSOCK},
    {EDESTADDRREQ, Id_WSAEDESTADDRREQ},
    {EMSGSIZE, Id_WSAEMSGSIZE},
    {EPROTOTYPE, Id_WSAEPROTOTYPE},
    {ENOPROTOOPT, Id_WSAENOPROTOOPT},
    {EPROTONOSUPPORT, Id_WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, Id_WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, Id_WSAEOPNOTSUPP},
    {EPFNOSUPPORT, Id_WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, Id_WSAEAFNOSUPPORT},
    {EADDRINUSE, Id_WSAEADDRINUSE},
    {EADDRNOTAVAIL, Id_WSAEADDRNOTAVAIL},
    {ENETDOWN, Id_WSAENETDOWN},
    {ENETUNREACH, Id_WSAENETUNREACH},
    {ENETRESET, Id_WSAENETRESET},
    {ECONNABORTED, Id_WSAECONNABORTED},
    {ECONNRESET, Id_WSAECONNRESET},
    {ENOBUFS, Id_WSAENOBUFS},
    {ENOMEM, Id_WSAENOBUFS},
    {EISCONN, Id_WSAEISCONN},
    {ENOTCONN, Id_WSAENOTCONN},
    {ESHUTDOWN, Id_WSAESHUTDOWN},
    {EPIPE, Id_WSAESHUTDOWN},
    {ETOOMANYREFS, Id_WSAETOOMANYREFS},
    {ETIMEDOUT, Id_WSAETIMEDOUT},
    {ECONNREFUSED, Id_WSAECONNREFUSED},
    {ELOOP, Id_WSAELOOP},
    {ENAMETOOLONG, Id_WSAENAMETOOLONG},
    {EHOSTDOWN, Id_WSAEHOSTDOWN},
    {EHOSTUNREACH, Id_WSAEHOSTUNREACH},
    {ENOTEMPTY, Id_WSAENOTEMPTY},
};

// Resolver results by name (their numbers differ between systems). EAI_SYSTEM is handled
// by the caller: it means "see errno".
constexpr TErrorPair kResolverTable[] = {
    {EAI_AGAIN, Id_WSATRY_AGAIN},
    {EAI_BADFLAGS, Id_WSAEINVAL},
    {EAI_FAIL, Id_WSANO_RECOVERY},
    {EAI_FAMILY, Id_WSAEAFNOSUPPORT},
    {EAI_MEMORY, Id_WSA_NOT_ENOUGH_MEMORY},
    {EAI_NONAME, Id_WSAHOST_NOT_FOUND},
    {EAI_SERVICE, Id_WSATYPE_NOT_FOUND},
    {EAI_SOCKTYPE, Id_WSAESOCKTNOSUPPORT},
    // A too small host buffer for getnameinfo is a buffer fault on Windows Sockets.
    {EAI_OVERFLOW, Id_WSAEFAULT},
#ifdef EAI_NODATA
    {EAI_NODATA, Id_WSANO_DATA},
#endif
#ifdef EAI_ADDRFAMILY
    // The host has no address of the family asked for: the same as "no data of that type",
    // rather than an error numbered 0 that would read as success.
    {EAI_ADDRFAMILY, Id_WSANO_DATA},
#endif
};

// h_errno of gethostbyname_r / gethostbyaddr_r.
constexpr TErrorPair kNetDbTable[] = {
    {HOST_NOT_FOUND, Id_WSAHOST_NOT_FOUND},
    {TRY_AGAIN, Id_WSATRY_AGAIN},
    {NO_RECOVERY, Id_WSANO_RECOVERY},
    {NO_DATA, Id_WSANO_DATA},
};

template <size_t N> int MapError(const TErrorPair (&ATable)[N], int ACode) {
  for (const auto& pair : ATable) {
    if (pair.Native == ACode) {
      return pair.WSA;
    }
  }
  return ACode;
}

// ---- Socket addresses ------------------------------------------------------------------------

struct TPosixAddrTypes {
  using In = sockaddr_in;
  using In6 = sockaddr_in6;
  using Storage = sockaddr_storage;
  using Length = socklen_t;
  static constexpr int Inet = AF_INET;
  static constexpr int Inet6 = AF_INET6;
};
using TCodec = detail::TIdSockAddrCodec<TPosixAddrTypes>;
using TSockAddr = TCodec::TSockAddr;
using detail::RaiseIPVersionUnsupported;

int FamilyOf(TIdIPVersion AIPVersion) { return TCodec::FamilyOf(AIPVersion); }

// ---- Resolver --------------------------------------------------------------------------------

struct TAddrInfoDeleter {
  void operator()(addrinfo* AInfo) const { freeaddrinfo(AInfo); }
};
using TAddrInfoList = std::unique_ptr<addrinfo, TAddrInfoDeleter>;

[[noreturn]] void RaiseResolverError(int AResult) {
  // EAI_SYSTEM carries its real reason in errno.
  TIdStack::RaiseSocketError(AResult == EAI_SYSTEM
                                 ? TIdStackPosix::WSAErrorFromPlatform(pesErrno, errno)
                                 : TIdStackPosix::WSAErrorFromPlatform(pesResolver, AResult));
}

TAddrInfoList ResolveOrRaise(const char* AName, int AFlags, int AFamily) {
  addrinfo hints{};
  hints.ai_flags = AFlags;
  hints.ai_family = AFamily;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(AName, nullptr, &hints, &list);
  if (rc != 0) {
    RaiseResolverError(rc);
  }
  return TAddrInfoList(list);
}

// The classic host-entry calls need a caller buffer; this size holds any /etc/hosts entry.
constexpr size_t kHostEntryBufferSize = 16384;
constexpr size_t kHostNameBufferSize = 250;
constexpr size_t kNameInfoHostSize = 1025;
constexpr size_t kServEntryBufferSize = 4096;

[[noreturn]] void RaiseNetDbError(int AHErrno) {
  TIdStack::RaiseSocketError(TIdStackPosix::WSAErrorFromPlatform(pesNetDb, AHErrno));
}

// A host entry with the storage its pointers refer to.
struct THostEntry {
  hostent Entry{};
  std::vector<char> Buffer = std::vector<char>(kHostEntryBufferSize);
};

// The IPv4 addresses of a host entry looked up by name; raises when there is none.
std::vector<std::string> HostEntryAddresses(const TIdStackBSDBase& AStack,
                                            const std::string& AHostName) {
  THostEntry store;
  hostent* result = nullptr;
  int herr = 0;
  gethostbyname_r(AHostName.c_str(), &store.Entry, store.Buffer.data(), store.Buffer.size(),
                  &result, &herr);
  if (result == nullptr || result->h_addr_list[0] == nullptr) {
    RaiseNetDbError(herr);
  }
  std::vector<std::string> addresses;
  for (char** addr = result->h_addr_list; *addr != nullptr; ++addr) {
    addresses.push_back(AStack.TranslateTInAddrToString(
        std::span(reinterpret_cast<const uint8_t*>(*addr), 4), Id_IPv4));
  }
  return addresses;
}

// ---- Start-up of the socket library ------------------------------------------------------------

std::atomic<bool> GSocketLibraryStarted{false};

void StopSocketLibrary() {
  // Nothing was loaded on this platform; forget what start-up recorded.
  SetIPv6FuncsAvailable(false);
  GSocketLibraryStarted.store(false);
}

void StartSocketLibrary() {
  // The socket functions are part of the C library here: nothing to load, and the
  // protocol-independent resolver is always present.
  SetIPv6FuncsAvailable(true);
  if (std::atexit(StopSocketLibrary) != 0) {
    throw EIdWinsockStubError::Build(EINVAL, RSWinsockLoadError, {"libc"});
  }
}

// ---- Waiting ---------------------------------------------------------------------------------

// poll() with the list time-out rules, restarted after a signal with the time that is left.
int PollWithTimeout(std::vector<pollfd>& VFds, int32_t ATimeout) {
  using Clock = std::chrono::steady_clock;
  const bool unlimited = ATimeout < 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : ATimeout);
  for (;;) {
    int waitMs = -1;
    if (!unlimited) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      waitMs = static_cast<int>(std::max<int64_t>(left.count(), 0));
    }
    const int rc = poll(VFds.data(), VFds.size(), waitMs);
    if (rc >= 0 || errno != EINTR) {
      return rc;
    }
  }
}

constexpr short kReadEvents = POLLIN | POLLHUP | POLLERR;
constexpr short kWriteEvents = POLLOUT | POLLERR;
constexpr short kExceptEvents = POLLPRI;

} // namespace

// ---- TIdStackPosix -----------------------------------------------------------------------------

const TIdStackClass& detail::PlatformStackClass() {
  static const TIdStackClass stackClass{"TIdStackPosix", []() -> std::unique_ptr<TIdStack> {
                                          return std::make_unique<TIdStackPosix>();
                                        }};
  return stackClass;
}

TIdStackPosix::TIdStackPosix() {
  // Construction is serialised by the stack lock, so the flag needs no further guard.
  if (GSocketLibraryStarted.load()) {
    return;
  }
  try {
    StartSocketLibrary();
  } catch (const std::exception& e) {
    throw EIdStackInitializationFailed(e.what());
  }
  GSocketLibraryStarted.store(true);
}

int TIdStackPosix::WSAErrorFromPlatform(TIdPlatformErrorSource ASource, int ACode) {
  switch (ASource) {
  case pesErrno:
    return MapError(kErrnoTable, ACode);
  case pesResolver:
    return MapError(kResolverTable, ACode);
  case pesNetDb:
    return MapError(kNetDbTable, ACode);
  }
  return ACode;
}

int TIdStackPosix::WSGetLastError() {
  return WSAErrorFromPlatform(pesErrno, errno);
}

void TIdStackPosix::WSSetLastError(int AErr) {
  for (const auto& pair : kErrnoTable) {
    if (pair.WSA == AErr) {
      errno = pair.Native;
      return;
    }
  }
  errno = AErr;
}

// ---- Name resolution ----

std::string TIdStackPosix::LookupHostAddress(const std::string& AHostName,
                                             TIdIPVersion AIPVersion) {
  if (IPv6FuncsAvailable()) {
    return LookupWithResolver(AHostName, AIPVersion);
  }
  detail::RequireClassicIPv4Lookup(AIPVersion);
  return HostEntryAddresses(*this, AHostName).front();
}

std::string TIdStackPosix::LookupWithResolver(const std::string& AHostName,
                                              TIdIPVersion AIPVersion) {
  const TAddrInfoList list = ResolveOrRaise(AHostName.c_str(), 0, FamilyOf(AIPVersion));
  return TCodec::AddrInfoText(*this, *list);
}

std::string TIdStackPosix::HostByAddress(const std::string& AAddress, TIdIPVersion AIPVersion) {
  if (IPv6FuncsAvailable()) {
    return HostByAddressWithResolver(AAddress, AIPVersion);
  }
  detail::RequireClassicIPv4Lookup(AIPVersion);
  return HostByAddressWithHostEntry(AAddress);
}

std::string TIdStackPosix::HostByAddressWithResolver(const std::string& AAddress,
                                                     TIdIPVersion AIPVersion) {
  const TAddrInfoList list = ResolveOrRaise(AAddress.c_str(), AI_CANONNAME, FamilyOf(AIPVersion));
  std::vector<char> host(kNameInfoHostSize);
  const int rc = getnameinfo(list->ai_addr, list->ai_addrlen, host.data(),
                             static_cast<socklen_t>(host.size()), nullptr, 0, NI_NAMEREQD);
  if (rc != 0) {
    RaiseResolverError(rc);
  }
  return std::string(host.data());
}

std::string TIdStackPosix::HostByAddressWithHostEntry(const std::string& AAddress) {
  // Text that is no address becomes 255.255.255.255, as the classic conversion does.
  bool err = false;
  uint32_t value = IPv4TextToNumber(AAddress, err);
  if (err) {
    value = INADDR_NONE;
  }
  const in_addr addr{htonl(value)};
  THostEntry store;
  hostent* result = nullptr;
  int herr = 0;
  gethostbyaddr_r(&addr, sizeof(addr), AF_INET, &store.Entry, store.Buffer.data(),
                  store.Buffer.size(), &result, &herr);
  if (result == nullptr) {
    RaiseNetDbError(herr);
  }
  return std::string(result->h_name);
}

std::string TIdStackPosix::HostName() {
  char buffer[kHostNameBufferSize + 1] = {};
  CheckForSocketError(gethostname(buffer, kHostNameBufferSize));
  return std::string(buffer);
}

void TIdStackPosix::AddLocalAddressesToList(std::vector<std::string>& AAddresses) {
  const std::string hostName = HostName();
  if (IPv6FuncsAvailable()) {
    const TAddrInfoList list = ResolveOrRaise(hostName.c_str(), 0, AF_INET);
    for (const addrinfo* info = list.get(); info != nullptr; info = info->ai_next) {
      AAddresses.push_back(TCodec::AddrInfoText(*this, *info));
    }
    return;
  }
  const std::vector<std::string> addresses = HostEntryAddresses(*this, hostName);
  AAddresses.insert(AAddresses.end(), addresses.begin(), addresses.end());
}

TIdPort TIdStackPosix::WSGetServByName(const std::string& AServiceName) {
  servent entry{};
  servent* result = nullptr;
  std::vector<char> buffer(kServEntryBufferSize);
  getservbyname_r(AServiceName.c_str(), nullptr, &entry, buffer.data(), buffer.size(), &result);
  if (result != nullptr) {
    return ntohs(static_cast<uint16_t>(result->s_port));
  }
  return detail::ServicePortFromNumber(AServiceName);
}

std::vector<std::string> TIdStackPosix::WSGetServByPort(TIdPort APortNumber) {
  servent entry{};
  servent* result = nullptr;
  std::vector<char> buffer(kServEntryBufferSize);
  getservbyport_r(htons(APortNumber), nullptr, &entry, buffer.data(), buffer.size(), &result);
  std::vector<std::string> names;
  if (result != nullptr) {
    names.emplace_back(result->s_name);
    for (char** alias = result->s_aliases; *alias != nullptr; ++alias) {
      names.emplace_back(*alias);
    }
  }
  return names;
}

bool TIdStackPosix::CheckIPVersionSupport(TIdIPVersion AIPVersion) {
  const int fd = socket(FamilyOf(AIPVersion), SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return false;
  }
  close(fd);
  return true;
}

bool TIdStackPosix::SupportsIPv6() {
  return CheckIPVersionSupport(Id_IPv6);
}

// ---- Sockets ----

TIdStackSocketHandle TIdStackPosix::WSSocket(int AFamily, int AStruct, int AProtocol,
                                             bool /*AOverlapped*/) {
  // Overlapped mode has no meaning here; every socket is closed on exec.
  return socket(AFamily, AStruct | SOCK_CLOEXEC, AProtocol);
}

TIdStackSocketHandle TIdStackPosix::NewSocketHandle(int ASocketType, int AProtocol,
                                                    TIdIPVersion AIPVersion, bool AOverlapped) {
  const TIdStackSocketHandle handle =
      WSSocket(FamilyOf(AIPVersion), ASocketType, AProtocol, AOverlapped);
  if (handle == Id_INVALID_SOCKET) {
    RaiseLastSocketError();
  }
  return handle;
}

void TIdStackPosix::Bind(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
                         TIdIPVersion AIPVersion) {
  const TSockAddr addr = TCodec::Build(*this, AIP, APort, AIPVersion, true);
  CheckForSocketError(bind(ASocket, addr.Ptr(), addr.Length));
}

void TIdStackPosix::Connect(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
                            TIdIPVersion AIPVersion) {
  const TSockAddr addr = TCodec::Build(*this, AIP, APort, AIPVersion, false);
  if (connect(ASocket, addr.Ptr(), addr.Length) == 0) {
    return;
  }
  if (errno == EINTR) {
    FinishInterruptedConnect(ASocket);
    return;
  }
  RaiseLastSocketError();
}

void TIdStackPosix::FinishInterruptedConnect(TIdStackSocketHandle ASocket) {
  // An interrupted connect goes on in the background: wait for its outcome.
  std::vector<pollfd> fds{{ASocket, POLLOUT, 0}};
  if (PollWithTimeout(fds, IdTimeoutInfinite) < 0) {
    RaiseLastSocketError();
  }
  int err = 0;
  socklen_t length = sizeof(err);
  CheckForSocketError(getsockopt(ASocket, SOL_SOCKET, SO_ERROR, &err, &length));
  if (err != 0) {
    RaiseSocketError(WSAErrorFromPlatform(pesErrno, err));
  }
}

void TIdStackPosix::Listen(TIdStackSocketHandle ASocket, int ABackLog) {
  CheckForSocketError(listen(ASocket, ABackLog));
}

TIdStackSocketHandle TIdStackPosix::Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                           TIdPort& VPort, TIdIPVersion& VIPVersion) {
  TSockAddr addr;
  TIdStackSocketHandle handle = Id_INVALID_SOCKET;
  do {
    addr.Length = sizeof(addr.Storage);
    handle = accept4(ASocket, addr.Ptr(), &addr.Length, SOCK_CLOEXEC);
  } while (handle == Id_INVALID_SOCKET && errno == EINTR);
  if (handle == Id_INVALID_SOCKET) {
    return handle;
  }
  if (!TCodec::Decode(*this, addr.Ptr(), VIP, VPort, VIPVersion)) {
    close(handle);
    RaiseIPVersionUnsupported();
  }
  return handle;
}

void TIdStackPosix::Disconnect(TIdStackSocketHandle ASocket) {
  // Neither result matters: the socket is gone either way.
  shutdown(ASocket, SHUT_WR);
  close(ASocket);
}

void TIdStackPosix::WSShutdown(TIdStackSocketHandle ASocket, int AHow) {
  const int how = AHow == Id_SD_Recv ? SHUT_RD : AHow == Id_SD_Send ? SHUT_WR : SHUT_RDWR;
  shutdown(ASocket, how);
}

void TIdStackPosix::GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                                  TIdIPVersion& VIPVersion) {
  TSockAddr addr;
  CheckForSocketError(getsockname(ASocket, addr.Ptr(), &addr.Length));
  TCodec::DecodeOrRaise(*this, addr, VIP, VPort, VIPVersion);
}

void TIdStackPosix::GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                                TIdIPVersion& VIPVersion) {
  TSockAddr addr;
  CheckForSocketError(getpeername(ASocket, addr.Ptr(), &addr.Length));
  TCodec::DecodeOrRaise(*this, addr, VIP, VPort, VIPVersion);
}

// ---- Transfers ----

int32_t TIdStackPosix::WSRecv(TIdStackSocketHandle ASocket, void* ABuffer, size_t ABufLength,
                              int AFlags) {
  ssize_t rc = 0;
  do {
    rc = recv(ASocket, ABuffer, ABufLength, AFlags);
  } while (rc < 0 && errno == EINTR);
  return static_cast<int32_t>(rc);
}

int32_t TIdStackPosix::WSSend(TIdStackSocketHandle ASocket, const void* ABuffer, size_t ABufLength,
                              int AFlags) {
  // MSG_NOSIGNAL: a peer that has gone away gives EPIPE instead of killing the process.
  ssize_t rc = 0;
  do {
    rc = send(ASocket, ABuffer, ABufLength, AFlags | MSG_NOSIGNAL);
  } while (rc < 0 && errno == EINTR);
  return static_cast<int32_t>(rc);
}

int32_t TIdStackPosix::RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, size_t ALength,
                                int AFlags, std::string& VIP, TIdPort& VPort,
                                TIdIPVersion /*AIPVersion*/) {
  TSockAddr addr;
  ssize_t rc = 0;
  do {
    addr.Length = sizeof(addr.Storage);
    rc = recvfrom(ASocket, ABuffer, ALength, AFlags, addr.Ptr(), &addr.Length);
  } while (rc < 0 && errno == EINTR);
  TIdIPVersion version = Id_IPv4;
  if (rc >= 0 && !TCodec::Decode(*this, addr.Ptr(), VIP, VPort, version)) {
    VIP.clear();
    VPort = 0;
  }
  return static_cast<int32_t>(rc);
}

int32_t TIdStackPosix::WSSendTo(TIdStackSocketHandle ASocket, const void* ABuffer,
                                size_t ABufferLength, int AFlags, const std::string& AIP,
                                TIdPort APort, TIdIPVersion AIPVersion) {
  const TSockAddr addr = TCodec::Build(*this, AIP, APort, AIPVersion, false);
  ssize_t rc = 0;
  do {
    rc = sendto(ASocket, ABuffer, ABufferLength, AFlags | MSG_NOSIGNAL, addr.Ptr(), addr.Length);
  } while (rc < 0 && errno == EINTR);
  return static_cast<int32_t>(rc);
}

int32_t TIdStackPosix::ReceiveMsg(TIdStackSocketHandle ASocket, TBytes& VBuffer,
                                  TIdPacketInfo& APkt, TIdIPVersion /*AIPVersion*/) {
  if (VBuffer.empty()) {
    throw EIdRangeError(std::string(RSRangeCheckError));
  }
  TSockAddr from;
  iovec iov{VBuffer.data(), VBuffer.size()};
  alignas(cmsghdr) char control[256] = {};
  msghdr msg{};
  msg.msg_name = from.Ptr();
  msg.msg_namelen = from.Length;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof(control);
  ssize_t rc = 0;
  do {
    rc = recvmsg(ASocket, &msg, 0);
  } while (rc < 0 && errno == EINTR);
  CheckForSocketError(static_cast<int>(rc));
  APkt = TIdPacketInfo{};
  TIdIPVersion version = Id_IPv4;
  TCodec::Decode(*this, from.Ptr(), APkt.SourceIP, APkt.SourcePort, version);
  // The destination and hop limit arrive only when the socket asked for them (IP_PKTINFO,
  // IPV6_RECVPKTINFO, IP_RECVTTL, IPV6_RECVHOPLIMIT).
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof(info));
      APkt.DestIP = TranslateTInAddrToString(
          std::span(reinterpret_cast<const uint8_t*>(&info.ipi_addr), 4), Id_IPv4);
      APkt.DestIF = static_cast<uint32_t>(info.ipi_ifindex);
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      in6_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(c), sizeof(info));
      APkt.DestIP = TranslateTInAddrToString(
          std::span(reinterpret_cast<const uint8_t*>(&info.ipi6_addr), 16), Id_IPv6);
      APkt.DestIF = info.ipi6_ifindex;
    } else if ((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) ||
               (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) {
      int ttl = 0;
      std::memcpy(&ttl, CMSG_DATA(c), sizeof(ttl));
      APkt.TTL = static_cast<uint8_t>(ttl);
    }
  }
  return static_cast<int32_t>(rc);
}

// ---- Options ----

void TIdStackPosix::SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                    const void* AOptVal, int32_t AOptLen) {
  CheckForSocketError(
      setsockopt(ASocket, ALevel, AOptName, AOptVal, static_cast<socklen_t>(AOptLen)));
}

int TIdStackPosix::WSGetSockOpt(TIdStackSocketHandle ASocket, int Alevel, int AOptname,
                                void* AOptval, int32_t& AOptlen) {
  auto length = static_cast<socklen_t>(AOptlen);
  const int rc = getsockopt(ASocket, Alevel, AOptname, AOptval, &length);
  AOptlen = static_cast<int32_t>(length);
  return rc;
}

void TIdStackPosix::SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) {
  const int flags = CheckForSocketError(fcntl(ASocket, F_GETFL));
  CheckForSocketError(
      fcntl(ASocket, F_SETFL, ABlocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)));
}

int TIdStackPosix::IOControl(TIdStackSocketHandle ASocket, uint32_t ACmd, uint32_t& AArg) {
  int arg = static_cast<int>(AArg);
  const int rc = ioctl(ASocket, ACmd, &arg);
  AArg = static_cast<uint32_t>(arg);
  return rc;
}

// ---- TIdSocketListPosix ------------------------------------------------------------------------

namespace {

// One list taking part in a wait: its handles' poll entries start at First. Interest is what
// counts as ready for it (a hang-up or error makes a socket readable, as select reports).
struct TWaitList {
  TIdSocketListPosix* List;
  short Interest;
  size_t First;
  size_t Count;
};

void AddWaitList(TIdSocketList* AList, short AEvents, short AInterest, std::vector<pollfd>& VFds,
                 std::vector<TWaitList>& VLists) {
  auto* list = dynamic_cast<TIdSocketListPosix*>(AList);
  if (list == nullptr) {
    return;
  }
  const std::vector<TIdStackSocketHandle> handles = list->GetFDSet();
  VLists.push_back({list, AInterest, VFds.size(), handles.size()});
  for (const TIdStackSocketHandle handle : handles) {
    VFds.push_back({handle, AEvents, 0});
  }
}

// Waits on the poll entries; raises for a failed wait or a handle that is no socket.
bool WaitForEvents(std::vector<pollfd>& VFds, int32_t ATimeout) {
  const int rc = PollWithTimeout(VFds, ATimeout);
  if (rc < 0) {
    TIdStack::RaiseSocketError(TIdStackPosix::WSAErrorFromPlatform(pesErrno, errno));
  }
  for (const pollfd& fd : VFds) {
    if ((fd.revents & POLLNVAL) != 0) {
      TIdStack::RaiseSocketError(Id_WSAENOTSOCK);
    }
  }
  return rc > 0;
}

std::vector<TIdStackSocketHandle> ReadyHandles(const std::vector<pollfd>& AFds, size_t AFirst,
                                               size_t ACount, short AInterest) {
  std::vector<TIdStackSocketHandle> ready;
  for (size_t i = AFirst; i < AFirst + ACount; ++i) {
    if ((AFds[i].revents & AInterest) != 0) {
      ready.push_back(AFds[i].fd);
    }
  }
  return ready;
}

} // namespace

const TIdSocketListClass& detail::PlatformSocketListClass() {
  static const TIdSocketListClass listClass{
      "TIdSocketListPosix",
      []() -> std::unique_ptr<TIdSocketList> { return std::make_unique<TIdSocketListPosix>(); },
      &TIdSocketListPosix::SelectLists};
  return listClass;
}

bool TIdSocketListPosix::SelectLists(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                                     TIdSocketList* AExceptList, int32_t ATimeout) {
  std::vector<pollfd> fds;
  std::vector<TWaitList> lists;
  AddWaitList(AReadList, POLLIN, kReadEvents, fds, lists);
  AddWaitList(AWriteList, POLLOUT, kWriteEvents, fds, lists);
  AddWaitList(AExceptList, POLLPRI, kExceptEvents, fds, lists);
  const bool ready = WaitForEvents(fds, ATimeout);
  for (const TWaitList& wait : lists) {
    wait.List->SetFDSet(ReadyHandles(fds, wait.First, wait.Count, wait.Interest));
  }
  return ready;
}

std::vector<TIdStackSocketHandle> TIdSocketListPosix::WaitReadable(int32_t ATimeout) const {
  std::vector<pollfd> fds;
  for (const TIdStackSocketHandle handle : GetFDSet()) {
    fds.push_back({handle, POLLIN, 0});
  }
  if (!WaitForEvents(fds, ATimeout)) {
    return {};
  }
  return ReadyHandles(fds, 0, fds.size(), kReadEvents);
}

std::unique_ptr<TIdSocketList> TIdSocketListPosix::Clone() const {
  auto clone = std::make_unique<TIdSocketListPosix>();
  clone->SetFDSet(GetFDSet());
  return clone;
}

} // namespace ftpc
