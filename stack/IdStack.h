// The process-wide socket stack: name resolution, sockets, transfers, options, byte order
// and the translation of platform errors into socket exceptions with fixed texts. The single
// instance exists while at least one user has registered with TIdStack::IncUsage().
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/IdException.h"
#include "base/IdThreadSafe.h"
#include "global/IdGlobal.h"
#include "stack/IdStackConsts.h"

namespace ftpc {

// ---- Exceptions ----------------------------------------------------------------------------

// A failed platform socket call. LastError() is the Windows Sockets number of the failure on
// every platform (ECONNREFUSED is 10061, an unknown host 11001).
class EIdSocketError : public EIdException {
public:
  EIdSocketError(int AErr, const std::string& AMsg) : EIdException(AMsg), FLastError(AErr) {}
  int LastError() const { return FLastError; }
  std::string ClassName() const override { return "EIdSocketError"; }

private:
  int FLastError;
};

// The failure code was 10038: the handle is not (or no longer) a socket.
FTPC_DECLARE_EXCEPTION(EIdNotASocket, EIdSocketError);

FTPC_DECLARE_EXCEPTION(EIdStackError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdIPVersionUnsupported, EIdStackError);
FTPC_DECLARE_EXCEPTION(EIdStackInitializationFailed, EIdStackError);
FTPC_DECLARE_EXCEPTION(EIdStackSetSizeExceeded, EIdStackError);
FTPC_DECLARE_EXCEPTION(EIdIPv6Unavailable, EIdException);
FTPC_DECLARE_EXCEPTION(EIdInvalidServiceName, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdPackageSizeTooBig, EIdSocketHandleError);
FTPC_DECLARE_EXCEPTION(EIdNotAllBytesSent, EIdSocketHandleError);

// Starting the platform socket library failed, or a library function could not be reached.
class EIdWinsockStubError : public EIdException {
public:
  // Title is ATitle filled with AArgs; the message adds ": " and the system's text for a
  // non-zero AWin32Error.
  static EIdWinsockStubError Build(int32_t AWin32Error, std::string_view ATitle,
                                   std::initializer_list<TFormatArg> AArgs = {});
  int32_t Win32Error() const { return FWin32Error; }
  const std::string& Win32ErrorMessage() const { return FWin32ErrorMessage; }
  const std::string& Title() const { return FTitle; }
  std::string ClassName() const override { return "EIdWinsockStubError"; }

private:
  EIdWinsockStubError(const std::string& AMsg, int32_t AWin32Error, std::string AErrorMessage,
                      std::string ATitle)
      : EIdException(AMsg), FWin32Error(AWin32Error), FWin32ErrorMessage(std::move(AErrorMessage)),
        FTitle(std::move(ATitle)) {}

  int32_t FWin32Error;
  std::string FWin32ErrorMessage;
  std::string FTitle;
};

// ---- Records ---------------------------------------------------------------------------------

// What ReceiveMsg learns about one datagram.
struct TIdPacketInfo {
  std::string SourceIP;
  TIdPort SourcePort = 0;
  uint32_t SourceIF = 0;
  std::string DestIP;
  TIdPort DestPort = 0;
  uint32_t DestIF = 0;
  uint8_t TTL = 0;
};

class TIdStack;
class TIdSocketList;

// The class the stack instance is made from, chosen at start-up (TIdStackPosix on Linux).
struct TIdStackClass {
  std::string_view Name;
  std::unique_ptr<TIdStack> (*Create)();
};

// The concrete socket-list class, chosen at start-up (TIdSocketListPosix on Linux).
struct TIdSocketListClass {
  std::string_view Name;
  std::unique_ptr<TIdSocketList> (*Create)();
  bool (*Select)(TIdSocketList* AReadList, TIdSocketList* AWriteList, TIdSocketList* AExceptList,
                 int32_t ATimeout);
};

// ---- The stack -------------------------------------------------------------------------------

class TIdStack : public TObject {
public:
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;
  ~TIdStack() override = default;

  // Registers one user; the first creates the instance from the stack class.
  static void IncUsage();
  // Releases one user; the last frees the instance. Does nothing when nobody is registered.
  static void DecUsage();

  // ---- Name resolution ----
  // Address text of AIPVersion for a host name or address. "LOCALHOST" (IPv4) and address
  // literals are answered without a lookup; IPv6 literals come back in canonical form.
  std::string ResolveHost(const std::string& AHost, TIdIPVersion AIPVersion = Id_IPv4);
  // True for dotted-decimal IPv4 text: four parts of 0 to 255 (blanks around parts and one
  // trailing dot are tolerated).
  bool IsIP(std::string_view AIP) const;
  virtual std::string HostByAddress(const std::string& AAddress,
                                    TIdIPVersion AIPVersion = Id_IPv4) = 0;
  virtual std::string HostName() = 0;
  std::string LocalAddress();                       // first local IPv4 address, or empty
  const std::vector<std::string>& LocalAddresses(); // refilled on each call
  virtual void AddLocalAddressesToList(std::vector<std::string>& AAddresses) = 0;
  // Port of a service name or decimal text; raises EIdInvalidServiceName for neither.
  virtual TIdPort WSGetServByName(const std::string& AServiceName) = 0;
  // Official name and aliases of the port's service; empty when it has none.
  virtual std::vector<std::string> WSGetServByPort(TIdPort APortNumber) = 0;
  virtual bool CheckIPVersionSupport(TIdIPVersion AIPVersion) = 0;
  virtual bool SupportsIPv6() = 0;

  // ---- Sockets ----
  virtual TIdStackSocketHandle NewSocketHandle(int ASocketType, int AProtocol,
                                               TIdIPVersion AIPVersion = Id_IPv4,
                                               bool AOverlapped = false) = 0;
  // Empty AIP binds to any local address, port 0 to any port.
  virtual void Bind(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
                    TIdIPVersion AIPVersion = Id_IPv4) = 0;
  virtual void Connect(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
                       TIdIPVersion AIPVersion = Id_IPv4) = 0;
  virtual void Listen(TIdStackSocketHandle ASocket, int ABackLog) = 0;
  // The accepted socket, or Id_INVALID_SOCKET when the platform call failed (never raises
  // for that).
  TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort);
  virtual TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP,
                                      TIdPort& VPort, TIdIPVersion& VIPVersion) = 0;
  // Shuts down the sending side and closes the socket; never raises.
  virtual void Disconnect(TIdStackSocketHandle ASocket) = 0;
  // Shuts down one or both directions (Id_SD_Recv, Id_SD_Send, Id_SD_Both) without closing
  // the socket, which wakes a thread blocked on it; never raises.
  virtual void WSShutdown(TIdStackSocketHandle ASocket, int AHow) = 0;
  void GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort);
  virtual void GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                             TIdIPVersion& VIPVersion) = 0;
  void GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort);
  virtual void GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                           TIdIPVersion& VIPVersion) = 0;

  // ---- Data transfer ----
  // Receives at most VBuffer.size() bytes into its start; 0 when the peer closed its side.
  virtual int32_t Receive(TIdStackSocketHandle ASocket, TBytes& VBuffer) = 0;
  // Sends from AOffset at most ASize bytes (negative: to the end); returns what the
  // platform accepted, which may be less. Never raises SIGPIPE.
  virtual int32_t Send(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset = 0,
                       int32_t ASize = -1) = 0;
  // The same on any run of bytes, so that a caller receives straight into its own buffer and
  // sends without a copy. An empty VBuffer raises EIdRangeError (0 would read as the end).
  virtual int32_t Receive(TIdStackSocketHandle ASocket, std::span<uint8_t> VBuffer) = 0;
  virtual int32_t Send(TIdStackSocketHandle ASocket, std::span<const uint8_t> ABuffer) = 0;
  virtual int32_t ReceiveFrom(TIdStackSocketHandle ASocket, TBytes& VBuffer, std::string& VIP,
                              TIdPort& VPort, TIdIPVersion AIPVersion = Id_IPv4) = 0;
  void SendTo(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset,
              const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion = Id_IPv4);
  virtual void SendTo(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset,
                      int32_t ASize, const std::string& AIP, TIdPort APort,
                      TIdIPVersion AIPVersion = Id_IPv4) = 0;
  virtual int32_t ReceiveMsg(TIdStackSocketHandle ASocket, TBytes& VBuffer, TIdPacketInfo& APkt,
                             TIdIPVersion AIPVersion = Id_IPv4) = 0;

  // ---- Options ----
  void SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, int32_t AOptVal);
  virtual void SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               const void* AOptVal, int32_t AOptLen) = 0;
  virtual void GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                               int32_t& AOptVal) = 0;
  virtual void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) = 0;
  // For a failed call: true when it would have blocked; raises for any other error.
  bool WouldBlock(int AResult);
  virtual int IOControl(TIdStackSocketHandle ASocket, uint32_t ACmd, uint32_t& AArg) = 0;

  // ---- Byte order ----
  static uint16_t HostToNetwork(uint16_t AValue);
  static uint32_t HostToNetwork(uint32_t AValue);
  static uint64_t HostToNetwork(uint64_t AValue);
  static TIdIPv6Address HostToNetwork(const TIdIPv6Address& AValue);
  static uint16_t NetworkToHost(uint16_t AValue);
  static uint32_t NetworkToHost(uint32_t AValue);
  static uint64_t NetworkToHost(uint64_t AValue);
  static TIdIPv6Address NetworkToHost(const TIdIPv6Address& AValue);

  // ---- Multicast and checksums ----
  bool IsValidIPv4MulticastGroup(std::string_view Value) const;
  bool IsValidIPv6MulticastGroup(std::string_view Value) const;
  virtual void SetMulticastTTL(TIdStackSocketHandle AHandle, uint8_t AValue,
                               TIdIPVersion AIPVersion) = 0;
  virtual void SetLoopBack(TIdStackSocketHandle AHandle, bool AValue, TIdIPVersion AIPVersion) = 0;
  // Both do nothing for a group that is not a multicast group of AIPVersion.
  virtual void AddMulticastMembership(TIdStackSocketHandle AHandle, const std::string& AGroupIP,
                                      const std::string& ALocalIP, TIdIPVersion AIPVersion) = 0;
  virtual void DropMulticastMembership(TIdStackSocketHandle AHandle, const std::string& AGroupIP,
                                       const std::string& ALocalIP, TIdIPVersion AIPVersion) = 0;
  // The Internet checksum of RFC 1071.
  static uint16_t CalcCheckSum(const TBytes& AData);
  virtual void WriteChecksum(TIdStackSocketHandle s, TBytes& VBuffer, int32_t AOffset,
                             const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion) = 0;

  // ---- Errors ----
  // The calling thread's last socket error as a Windows Sockets number.
  virtual int WSGetLastError() = 0;
  virtual void WSSetLastError(int AErr) = 0;
  // "Socket Error # <code>", CR LF and the table's text for the code (empty when it has none).
  static std::string WSTranslateSocketErrorMsg(int AErr);
  int CheckForSocketError(int AResult);
  // Returns the last error instead of raising when it is one of AIgnore.
  int CheckForSocketError(int AResult, std::initializer_list<int> AIgnore);
  [[noreturn]] void RaiseLastSocketError();
  // EIdNotASocket for 10038, EIdSocketError otherwise; LastError() is AErr.
  [[noreturn]] static void RaiseSocketError(int AErr);

  std::string ClassName() const override { return "TIdStack"; }

protected:
  TIdStack() = default;
  // Looks a host name up for one IP version; overridden by the concrete stack.
  virtual std::string LookupHostAddress(const std::string& AHostName, TIdIPVersion AIPVersion) = 0;

private:
  std::vector<std::string> FLocalAddresses;
};

// The stack instance, or null while nobody has registered a use of it.
TIdStack* GStack();

// Registers one stack use for its lifetime (IncUsage on creation, DecUsage on destruction).
class TIdStackUser {
public:
  TIdStackUser() { TIdStack::IncUsage(); }
  ~TIdStackUser() { TIdStack::DecUsage(); }
  TIdStackUser(const TIdStackUser&) = delete;
  TIdStackUser& operator=(const TIdStackUser&) = delete;
  // The stack this user keeps alive.
  TIdStack& Stack() const { return *GStack(); }
};

// The classes chosen at start-up; tests and other platforms may replace them. Setting the
// stack class takes effect at the next creation of the instance.
const TIdStackClass* StackClass();
void SetStackClass(const TIdStackClass* AClass);
const TIdSocketListClass* SocketListClass();
void SetSocketListClass(const TIdSocketListClass* AClass);

namespace detail {
// Defined by the one platform unit of the build (IdStackPosix.cpp on Linux).
const TIdStackClass& PlatformStackClass();
const TIdSocketListClass& PlatformSocketListClass();
} // namespace detail

// True when the protocol-independent resolver (getaddrinfo, getnameinfo, freeaddrinfo) is
// available; decides which resolver path the stack takes.
bool IPv6FuncsAvailable();
void SetIPv6FuncsAvailable(bool AValue);

// ---- Socket lists ------------------------------------------------------------------------------

// A set of up to 64 socket handles for readiness waits, guarded by its own lock. Waits work
// on a copy taken under the lock and never block inside it.
class TIdSocketList : public TObject {
public:
  static constexpr int kCapacity = 64;

  // A new list of the start-up socket-list class.
  static std::unique_ptr<TIdSocketList> CreateSocketList();
  // Waits until a handle of a given list is ready and leaves only the ready handles in each
  // given list. ATimeout in milliseconds; IdTimeoutInfinite waits without limit, 0 polls.
  static bool Select(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                     TIdSocketList* AExceptList, int32_t ATimeout = IdTimeoutInfinite);

  // Raises EIdStackSetSizeExceeded when the list already holds kCapacity handles.
  virtual void Add(TIdStackSocketHandle AHandle) = 0;
  virtual void Remove(TIdStackSocketHandle AHandle) = 0;
  virtual int Count() const = 0;
  // Raises EIdStackSetSizeExceeded for an index outside the list.
  virtual TIdStackSocketHandle Item(int AIndex) const = 0;
  virtual void Clear() = 0;
  virtual std::unique_ptr<TIdSocketList> Clone() const = 0;
  virtual bool ContainsSocket(TIdStackSocketHandle AHandle) const = 0;
  // True when a handle of the list is ready for reading; the list itself is unchanged.
  virtual bool SelectRead(int32_t ATimeout = IdTimeoutInfinite) = 0;
  // As SelectRead; the ready handles are stored in VSocketList (created when null).
  virtual bool SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList,
                              int32_t ATimeout = IdTimeoutInfinite) = 0;

  void Lock() const { FLock.Enter(); }
  void Unlock() const { FLock.Leave(); }
  std::string ClassName() const override { return "TIdSocketList"; }

protected:
  mutable TIdCriticalSection FLock;
};

} // namespace ftpc
