#include "stack/IdStackWindows.h"

#include "stack/IdWinsock2.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/IdResourceStrings.h"
#include "stack/IdIPAddress.h"
#include "stack/IdSockAddr.h"

namespace ftpc {

// Socket types, protocols and shutdown directions have the same numbers as on Linux; the
// option levels and names do not and are translated below.
static_assert(Id_SOCK_STREAM == SOCK_STREAM && Id_SOCK_DGRAM == SOCK_DGRAM &&
              Id_SOCK_RAW == SOCK_RAW);
static_assert(Id_IPPROTO_IP == IPPROTO_IP && Id_IPPROTO_TCP == IPPROTO_TCP &&
              Id_IPPROTO_UDP == IPPROTO_UDP && Id_IPPROTO_IPV6 == IPPROTO_IPV6);
static_assert(Id_SD_Recv == SD_RECEIVE && Id_SD_Send == SD_SEND && Id_SD_Both == SD_BOTH);
static_assert(Id_WSAECONNREFUSED == WSAECONNREFUSED && Id_WSAHOST_NOT_FOUND == WSAHOST_NOT_FOUND &&
              Id_WSANOTINITIALISED == WSANOTINITIALISED);
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr_in6) == 28);

namespace {

namespace ws = winsock;

// ---- Handles -----------------------------------------------------------------------------------

// A SOCKET is a kernel handle, whose upper 32 bits are always zero on 64-bit Windows (the
// rule that lets 32-bit and 64-bit processes share handles), so the stack's int holds it; the
// invalid handle (all bits set) reads as -1.
SOCKET Native(TIdStackSocketHandle AHandle) {
  return AHandle == Id_INVALID_SOCKET ? INVALID_SOCKET
                                      : static_cast<SOCKET>(static_cast<uint32_t>(AHandle));
}

TIdStackSocketHandle FromNative(SOCKET AHandle) {
  return AHandle == INVALID_SOCKET ? Id_INVALID_SOCKET
                                   : static_cast<TIdStackSocketHandle>(static_cast<uint32_t>(AHandle));
}

// ---- Options -----------------------------------------------------------------------------------

struct TOptionPair {
  int Level;
  int Name;
  int NativeLevel;
  int NativeName;
};

constexpr TOptionPair kOptions[] = {
    {Id_SOL_SOCKET, Id_SO_REUSEADDR, SOL_SOCKET, SO_REUSEADDR},
    {Id_SOL_SOCKET, Id_SO_BROADCAST, SOL_SOCKET, SO_BROADCAST},
    {Id_SOL_SOCKET, Id_SO_KEEPALIVE, SOL_SOCKET, SO_KEEPALIVE},
    {Id_SOL_SOCKET, Id_SO_RCVBUF, SOL_SOCKET, SO_RCVBUF},
    {Id_SOL_SOCKET, Id_SO_SNDBUF, SOL_SOCKET, SO_SNDBUF},
    {Id_IPPROTO_TCP, Id_TCP_NODELAY, IPPROTO_TCP, TCP_NODELAY},
    {Id_IPPROTO_IP, Id_IP_MULTICAST_TTL, IPPROTO_IP, IP_MULTICAST_TTL},
    {Id_IPPROTO_IP, Id_IP_MULTICAST_LOOP, IPPROTO_IP, IP_MULTICAST_LOOP},
    {Id_IPPROTO_IP, Id_IP_ADD_MEMBERSHIP, IPPROTO_IP, IP_ADD_MEMBERSHIP},
    {Id_IPPROTO_IP, Id_IP_DROP_MEMBERSHIP, IPPROTO_IP, IP_DROP_MEMBERSHIP},
    {Id_IPPROTO_IPV6, Id_IPV6_MULTICAST_HOPS, IPPROTO_IPV6, IPV6_MULTICAST_HOPS},
    {Id_IPPROTO_IPV6, Id_IPV6_MULTICAST_LOOP, IPPROTO_IPV6, IPV6_MULTICAST_LOOP},
    {Id_IPPROTO_IPV6, Id_IPV6_ADD_MEMBERSHIP, IPPROTO_IPV6, IPV6_ADD_MEMBERSHIP},
    {Id_IPPROTO_IPV6, Id_IPV6_DROP_MEMBERSHIP, IPPROTO_IPV6, IPV6_DROP_MEMBERSHIP},
};

// The library's numbers for an option the layers above name; others pass unchanged.
TOptionPair NativeOption(int ALevel, int AName) {
  for (const TOptionPair& option : kOptions) {
    if (option.Level == ALevel && option.Name == AName) {
      return option;
    }
  }
  return {ALevel, AName, ALevel, AName};
}

// ---- Socket addresses --------------------------------------------------------------------------

// The interface's 28-byte buffer is large enough for either family.
struct TWinsockAddrTypes {
  using In = sockaddr_in;
  using In6 = sockaddr_in6;
  using Storage = sockaddr_in6;
  using Length = int;
  static constexpr int Inet = AF_INET;
  static constexpr int Inet6 = AF_INET6;
};
using TCodec = detail::TIdSockAddrCodec<TWinsockAddrTypes>;
using TSockAddr = TCodec::TSockAddr;
using detail::RaiseIPVersionUnsupported;

int FamilyOf(TIdIPVersion AIPVersion) { return TCodec::FamilyOf(AIPVersion); }

uint16_t NetworkOrder(uint16_t AValue) { return TIdStack::HostToNetwork(AValue); }

// ---- Text --------------------------------------------------------------------------------------

std::wstring Widen(const std::string& AText) {
  if (AText.empty()) {
    return {};
  }
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()),
                                         nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), wide.data(), size);
  return wide;
}

std::string Narrow(const wchar_t* AText) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, AText, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return {};
  }
  std::string narrow(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, AText, -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(static_cast<size_t>(size - 1));
  return narrow;
}

// ---- Resolver ----------------------------------------------------------------------------------

struct TAddrInfoDeleter {
  void operator()(ADDRINFOW* AInfo) const { ws::FreeAddrInfoW(AInfo); }
};
using TAddrInfoList = std::unique_ptr<ADDRINFOW, TAddrInfoDeleter>;

// The resolver returns Windows Sockets error numbers itself.
TAddrInfoList ResolveOrRaise(const std::string& AName, int AFlags, int AFamily) {
  ADDRINFOW hints{};
  hints.ai_flags = AFlags;
  hints.ai_family = AFamily;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* list = nullptr;
  const std::wstring name = Widen(AName);
  const int rc = ws::GetAddrInfoW(name.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    TIdStack::RaiseSocketError(rc);
  }
  return TAddrInfoList(list);
}

constexpr size_t kHostNameBufferSize = 250;
constexpr size_t kNameInfoHostSize = 1025;

std::vector<std::string> HostEntryAddresses(TIdStackBSDBase& AStack,
                                            const std::string& AHostName) {
  const hostent* entry = ws::gethostbyname(AHostName.c_str());
  if (entry == nullptr || entry->h_addr_list[0] == nullptr) {
    AStack.RaiseLastSocketError();
  }
  std::vector<std::string> addresses;
  for (char** addr = entry->h_addr_list; *addr != nullptr; ++addr) {
    addresses.push_back(AStack.TranslateTInAddrToString(
        std::span(reinterpret_cast<const uint8_t*>(*addr), 4), Id_IPv4));
  }
  return addresses;
}

// ---- Waiting -----------------------------------------------------------------------------------

// select()'s time-out: nullptr waits without limit.
struct TWaitTime {
  timeval Value{};
  timeval* Ptr = nullptr;

  explicit TWaitTime(int32_t ATimeout) {
    if (ATimeout >= 0) {
      Value.tv_sec = ATimeout / 1000;
      Value.tv_usec = (ATimeout % 1000) * 1000;
      Ptr = &Value;
    }
  }
};

} // namespace

// ---- TIdStackWindows ---------------------------------------------------------------------------

const TIdStackClass& detail::PlatformStackClass() {
  static const TIdStackClass stackClass{"TIdStackWindows", []() -> std::unique_ptr<TIdStack> {
                                          return std::make_unique<TIdStackWindows>();
                                        }};
  return stackClass;
}

TIdStackWindows::TIdStackWindows() {
  // Construction is serialised by the stack lock; a started library is not started again.
  try {
    ws::StartWinsock();
    if (!IPv6FuncsAvailable()) {
      ws::LoadResolver();
    }
  } catch (const std::exception& e) {
    throw EIdStackInitializationFailed(e.what());
  }
}

int TIdStackWindows::WSGetLastError() {
  return ws::WSAGetLastError();
}

void TIdStackWindows::WSSetLastError(int AErr) {
  ws::WSASetLastError(AErr);
}

// ---- Name resolution ----

std::string TIdStackWindows::LookupHostAddress(const std::string& AHostName,
                                               TIdIPVersion AIPVersion) {
  if (IPv6FuncsAvailable()) {
    const TAddrInfoList list = ResolveOrRaise(AHostName, 0, FamilyOf(AIPVersion));
    return TCodec::AddrInfoText(*this, *list);
  }
  detail::RequireClassicIPv4Lookup(AIPVersion);
  return HostEntryAddresses(*this, AHostName).front();
}

std::string TIdStackWindows::HostByAddress(const std::string& AAddress, TIdIPVersion AIPVersion) {
  if (IPv6FuncsAvailable()) {
    const TAddrInfoList list = ResolveOrRaise(AAddress, AI_CANONNAME, FamilyOf(AIPVersion));
    std::vector<wchar_t> host(kNameInfoHostSize);
    const int rc = ws::GetNameInfoW(list->ai_addr, static_cast<socklen_t>(list->ai_addrlen),
                                    host.data(), static_cast<DWORD>(host.size()), nullptr, 0,
                                    NI_NAMEREQD);
    if (rc != 0) {
      RaiseSocketError(rc);
    }
    return Narrow(host.data());
  }
  detail::RequireClassicIPv4Lookup(AIPVersion);
  bool err = false;
  uint32_t value = IPv4TextToNumber(AAddress, err);
  if (err) {
    value = INADDR_NONE;
  }
  const uint8_t raw[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  const hostent* entry = ws::gethostbyaddr(reinterpret_cast<const char*>(raw), 4, AF_INET);
  if (entry == nullptr) {
    RaiseLastSocketError();
  }
  return std::string(entry->h_name);
}

std::string TIdStackWindows::HostName() {
  char buffer[kHostNameBufferSize + 1] = {};
  CheckForSocketError(ws::gethostname(buffer, kHostNameBufferSize));
  return std::string(buffer);
}

void TIdStackWindows::AddLocalAddressesToList(std::vector<std::string>& AAddresses) {
  const std::string hostName = HostName();
  if (IPv6FuncsAvailable()) {
    const TAddrInfoList list = ResolveOrRaise(hostName, 0, AF_INET);
    for (const ADDRINFOW* info = list.get(); info != nullptr; info = info->ai_next) {
      AAddresses.push_back(TCodec::AddrInfoText(*this, *info));
    }
    return;
  }
  const std::vector<std::string> addresses = HostEntryAddresses(*this, hostName);
  AAddresses.insert(AAddresses.end(), addresses.begin(), addresses.end());
}

TIdPort TIdStackWindows::WSGetServByName(const std::string& AServiceName) {
  if (const servent* entry = ws::getservbyname(AServiceName.c_str(), nullptr)) {
    return NetworkOrder(static_cast<uint16_t>(entry->s_port));
  }
  return detail::ServicePortFromNumber(AServiceName);
}

std::vector<std::string> TIdStackWindows::WSGetServByPort(TIdPort APortNumber) {
  std::vector<std::string> names;
  if (const servent* entry = ws::getservbyport(NetworkOrder(APortNumber), nullptr)) {
    names.emplace_back(entry->s_name);
    for (char** alias = entry->s_aliases; *alias != nullptr; ++alias) {
      names.emplace_back(*alias);
    }
  }
  return names;
}

bool TIdStackWindows::CheckIPVersionSupport(TIdIPVersion AIPVersion) {
  const SOCKET handle = ws::socket(FamilyOf(AIPVersion), SOCK_STREAM, 0);
  if (handle == INVALID_SOCKET) {
    return false;
  }
  ws::closesocket(handle);
  return true;
}

bool TIdStackWindows::SupportsIPv6() {
  return CheckIPVersionSupport(Id_IPv6);
}

// ---- Sockets ----

TIdStackSocketHandle TIdStackWindows::WSSocket(int AFamily, int AStruct, int AProtocol,
                                               bool /*AOverlapped*/) {
  // socket() creates overlapped-capable sockets already; nothing here uses overlapped I/O.
  return FromNative(ws::socket(AFamily, AStruct, AProtocol));
}

TIdStackSocketHandle TIdStackWindows::NewSocketHandle(int ASocketType, int AProtocol,
                                                      TIdIPVersion AIPVersion, bool AOverlapped) {
  const TIdStackSocketHandle handle =
      WSSocket(FamilyOf(AIPVersion), ASocketType, AProtocol, AOverlapped);
  if (handle == Id_INVALID_SOCKET) {
    RaiseLastSocketError();
  }
  return handle;
}

void TIdStackWindows::Bind(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
                           TIdIPVersion AIPVersion) {
  const TSockAddr addr = TCodec::Build(*this, AIP, APort, AIPVersion, true);
  CheckForSocketError(ws::bind(Native(ASocket), addr.Ptr(), addr.Length));
}

void TIdStackWindows::Connect(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
                              TIdIPVersion AIPVersion) {
  const TSockAddr addr = TCodec::Build(*this, AIP, APort, AIPVersion, false);
  CheckForSocketError(ws::connect(Native(ASocket), addr.Ptr(), addr.Length));
}

void TIdStackWindows::Listen(TIdStackSocketHandle ASocket, int ABackLog) {
  CheckForSocketError(ws::listen(Native(ASocket), ABackLog));
}

TIdStackSocketHandle TIdStackWindows::Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                             TIdPort& VPort, TIdIPVersion& VIPVersion) {
  TSockAddr addr;
  const TIdStackSocketHandle handle =
      FromNative(ws::accept(Native(ASocket), addr.Ptr(), &addr.Length));
  if (handle == Id_INVALID_SOCKET) {
    return handle;
  }
  if (!TCodec::Decode(*this, addr.Ptr(), VIP, VPort, VIPVersion)) {
    ws::closesocket(Native(handle));
    RaiseIPVersionUnsupported();
  }
  return handle;
}

void TIdStackWindows::Disconnect(TIdStackSocketHandle ASocket) {
  // Neither result matters: the socket is gone either way.
  ws::shutdown(Native(ASocket), SD_SEND);
  ws::closesocket(Native(ASocket));
}

void TIdStackWindows::WSShutdown(TIdStackSocketHandle ASocket, int AHow) {
  ws::shutdown(Native(ASocket), AHow);
}

void TIdStackWindows::GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP,
                                    TIdPort& VPort, TIdIPVersion& VIPVersion) {
  TSockAddr addr;
  CheckForSocketError(ws::getsockname(Native(ASocket), addr.Ptr(), &addr.Length));
  TCodec::DecodeOrRaise(*this, addr, VIP, VPort, VIPVersion);
}

void TIdStackWindows::GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                                  TIdIPVersion& VIPVersion) {
  TSockAddr addr;
  CheckForSocketError(ws::getpeername(Native(ASocket), addr.Ptr(), &addr.Length));
  TCodec::DecodeOrRaise(*this, addr, VIP, VPort, VIPVersion);
}

// ---- Transfers ----

namespace {

// One call moves at most INT_MAX bytes on Windows Sockets.
int ChunkOf(size_t ALength) {
  return static_cast<int>(std::min<size_t>(ALength, INT32_MAX));
}

} // namespace

int32_t TIdStackWindows::WSRecv(TIdStackSocketHandle ASocket, void* ABuffer, size_t ABufLength,
                                int AFlags) {
  return ws::recv(Native(ASocket), static_cast<char*>(ABuffer), ChunkOf(ABufLength), AFlags);
}

int32_t TIdStackWindows::WSSend(TIdStackSocketHandle ASocket, const void* ABuffer,
                                size_t ABufLength, int AFlags) {
  return ws::send(Native(ASocket), static_cast<const char*>(ABuffer), ChunkOf(ABufLength), AFlags);
}

int32_t TIdStackWindows::RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, size_t ALength,
                                  int AFlags, std::string& VIP, TIdPort& VPort,
                                  TIdIPVersion /*AIPVersion*/) {
  TSockAddr addr;
  const int rc = ws::recvfrom(Native(ASocket), static_cast<char*>(ABuffer), ChunkOf(ALength),
                              AFlags, addr.Ptr(), &addr.Length);
  TIdIPVersion version = Id_IPv4;
  if (rc >= 0 && !TCodec::Decode(*this, addr.Ptr(), VIP, VPort, version)) {
    VIP.clear();
    VPort = 0;
  }
  return rc;
}

int32_t TIdStackWindows::WSSendTo(TIdStackSocketHandle ASocket, const void* ABuffer,
                                  size_t ABufferLength, int AFlags, const std::string& AIP,
                                  TIdPort APort, TIdIPVersion AIPVersion) {
  const TSockAddr addr = TCodec::Build(*this, AIP, APort, AIPVersion, false);
  return ws::sendto(Native(ASocket), static_cast<const char*>(ABuffer), ChunkOf(ABufferLength),
                    AFlags, addr.Ptr(), addr.Length);
}

namespace {

ws::TWSARecvMsg RecvMsgFunction(SOCKET ASocket) {
  // Bound once per process through the first socket that asks; every provider here is TCP/IP.
  static std::atomic<ws::TWSARecvMsg> bound{nullptr};
  ws::TWSARecvMsg function = bound.load();
  if (function == nullptr) {
    const GUID id = WSAID_WSARECVMSG;
    function = reinterpret_cast<ws::TWSARecvMsg>(ws::BindExtension(ASocket, id, "WSARecvMsg"));
    bound.store(function);
  }
  return function;
}

} // namespace

int32_t TIdStackWindows::ReceiveMsg(TIdStackSocketHandle ASocket, TBytes& VBuffer,
                                    TIdPacketInfo& APkt, TIdIPVersion /*AIPVersion*/) {
  if (VBuffer.empty()) {
    throw EIdRangeError(std::string(RSRangeCheckError));
  }
  TSockAddr from;
  WSABUF data{static_cast<ULONG>(ChunkOf(VBuffer.size())), reinterpret_cast<char*>(VBuffer.data())};
  alignas(WSACMSGHDR) char control[256] = {};
  WSAMSG msg{};
  msg.name = from.Ptr();
  msg.namelen = from.Length;
  msg.lpBuffers = &data;
  msg.dwBufferCount = 1;
  msg.Control = {sizeof(control), control};
  DWORD received = 0;
  const ws::TWSARecvMsg recvMsg = RecvMsgFunction(Native(ASocket));
  CheckForSocketError(recvMsg(Native(ASocket), &msg, &received, nullptr, nullptr));
  APkt = TIdPacketInfo{};
  TIdIPVersion version = Id_IPv4;
  TCodec::Decode(*this, from.Ptr(), APkt.SourceIP, APkt.SourcePort, version);
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c != nullptr; c = WSA_CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      IN_PKTINFO info{};
      std::memcpy(&info, WSA_CMSG_DATA(c), sizeof(info));
      APkt.DestIP = TranslateTInAddrToString(
          std::span(reinterpret_cast<const uint8_t*>(&info.ipi_addr), 4), Id_IPv4);
      APkt.DestIF = info.ipi_ifindex;
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      IN6_PKTINFO info{};
      std::memcpy(&info, WSA_CMSG_DATA(c), sizeof(info));
      APkt.DestIP = TranslateTInAddrToString(
          std::span(reinterpret_cast<const uint8_t*>(&info.ipi6_addr), 16), Id_IPv6);
      APkt.DestIF = info.ipi6_ifindex;
    }
  }
  return static_cast<int32_t>(received);
}

// ---- Options ----

void TIdStackWindows::SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                      const void* AOptVal, int32_t AOptLen) {
  const TOptionPair option = NativeOption(ALevel, AOptName);
  CheckForSocketError(ws::setsockopt(Native(ASocket), option.NativeLevel, option.NativeName,
                                     static_cast<const char*>(AOptVal), AOptLen));
}

int TIdStackWindows::WSGetSockOpt(TIdStackSocketHandle ASocket, int Alevel, int AOptname,
                                  void* AOptval, int32_t& AOptlen) {
  const TOptionPair option = NativeOption(Alevel, AOptname);
  int length = AOptlen;
  const int rc = ws::getsockopt(Native(ASocket), option.NativeLevel, option.NativeName,
                                static_cast<char*>(AOptval), &length);
  AOptlen = length;
  return rc;
}

void TIdStackWindows::SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) {
  u_long nonBlocking = ABlocking ? 0 : 1;
  CheckForSocketError(ws::ioctlsocket(Native(ASocket), static_cast<long>(FIONBIO), &nonBlocking));
}

int TIdStackWindows::IOControl(TIdStackSocketHandle ASocket, uint32_t ACmd, uint32_t& AArg) {
  u_long arg = AArg;
  const int rc = ws::ioctlsocket(Native(ASocket), static_cast<long>(ACmd), &arg);
  AArg = static_cast<uint32_t>(arg);
  return rc;
}

// ---- TIdSocketListWindows ----------------------------------------------------------------------

namespace {

static_assert(FD_SETSIZE >= TIdSocketList::kCapacity);

// A select() set of a list's handles; empty for a missing list or one of another class.
struct TWaitSet {
  TIdSocketListWindows* List = nullptr;
  fd_set Set{};

  explicit TWaitSet(TIdSocketList* AList) : List(dynamic_cast<TIdSocketListWindows*>(AList)) {
    if (List != nullptr) {
      Fill(List->GetFDSet());
    }
  }
  explicit TWaitSet(const std::vector<TIdStackSocketHandle>& AHandles) { Fill(AHandles); }

  void Fill(const std::vector<TIdStackSocketHandle>& AHandles) {
    for (const TIdStackSocketHandle handle : AHandles) {
      Set.fd_array[Set.fd_count++] = Native(handle);
    }
  }
  fd_set* Ptr() { return List != nullptr || Set.fd_count > 0 ? &Set : nullptr; }

  // select() leaves only the ready handles in the set.
  std::vector<TIdStackSocketHandle> Ready() const {
    std::vector<TIdStackSocketHandle> ready;
    for (u_int i = 0; i < Set.fd_count; ++i) {
      ready.push_back(FromNative(Set.fd_array[i]));
    }
    return ready;
  }
  void StoreReady() {
    if (List != nullptr) {
      List->SetFDSet(Ready());
    }
  }
};

// select() with the list time-out rules; raises for a failed wait. Windows refuses a wait on
// three empty sets, so that one only sleeps.
bool WaitForSets(fd_set* ARead, fd_set* AWrite, fd_set* AExcept, int32_t ATimeout) {
  if (ARead == nullptr && AWrite == nullptr && AExcept == nullptr) {
    if (ATimeout > 0) {
      ::Sleep(static_cast<DWORD>(ATimeout));
    }
    return false;
  }
  TWaitTime wait(ATimeout);
  const int rc = ws::select(0, ARead, AWrite, AExcept, wait.Ptr);
  if (rc == SOCKET_ERROR) {
    TIdStack::RaiseSocketError(ws::WSAGetLastError());
  }
  return rc > 0;
}

} // namespace

const TIdSocketListClass& detail::PlatformSocketListClass() {
  static const TIdSocketListClass listClass{
      "TIdSocketListWindows",
      []() -> std::unique_ptr<TIdSocketList> { return std::make_unique<TIdSocketListWindows>(); },
      &TIdSocketListWindows::SelectLists};
  return listClass;
}

bool TIdSocketListWindows::SelectLists(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                                       TIdSocketList* AExceptList, int32_t ATimeout) {
  TWaitSet read(AReadList);
  TWaitSet write(AWriteList);
  TWaitSet except(AExceptList);
  const bool ready = WaitForSets(read.Ptr(), write.Ptr(), except.Ptr(), ATimeout);
  if (!ready) {
    read.Set.fd_count = write.Set.fd_count = except.Set.fd_count = 0;
  }
  read.StoreReady();
  write.StoreReady();
  except.StoreReady();
  return ready;
}

std::vector<TIdStackSocketHandle> TIdSocketListWindows::WaitReadable(int32_t ATimeout) const {
  TWaitSet read(GetFDSet());
  if (!WaitForSets(read.Ptr(), nullptr, nullptr, ATimeout)) {
    return {};
  }
  return read.Ready();
}

std::unique_ptr<TIdSocketList> TIdSocketListWindows::Clone() const {
  auto clone = std::make_unique<TIdSocketListWindows>();
  clone->SetFDSet(GetFDSet());
  return clone;
}

} // namespace ftpc
