// The stack over POSIX sockets (the Linux build's start-up choice) and its socket list.
// Platform headers stay inside IdStackPosix.cpp.
#pragma once

#include <vector>

#include "stack/IdSocketListHandles.h"
#include "stack/IdStackBSDBase.h"

namespace ftpc {

// Where a platform error number comes from; each source numbers its errors differently.
enum TIdPlatformErrorSource : uint8_t {
  pesErrno,    // errno of a socket call
  pesResolver, // result of getaddrinfo / getnameinfo (EAI_*)
  pesNetDb     // h_errno of the classic host lookups
};

class TIdStackPosix : public TIdStackBSDBase {
public:
  // Starts the socket library once per process; raises EIdStackInitializationFailed.
  TIdStackPosix();

  // The one mapping of platform error numbers onto the Windows Sockets numbers of the same
  // name (ECONNREFUSED to 10061, EAI_NONAME to 11001, ...). Numbers without a counterpart
  // pass unchanged.
  static int WSAErrorFromPlatform(TIdPlatformErrorSource ASource, int ACode);

  std::string HostByAddress(const std::string& AAddress,
                            TIdIPVersion AIPVersion = Id_IPv4) override;
  std::string HostName() override;
  void AddLocalAddressesToList(std::vector<std::string>& AAddresses) override;
  TIdPort WSGetServByName(const std::string& AServiceName) override;
  std::vector<std::string> WSGetServByPort(TIdPort APortNumber) override;
  bool CheckIPVersionSupport(TIdIPVersion AIPVersion) override;
  bool SupportsIPv6() override;

  TIdStackSocketHandle NewSocketHandle(int ASocketType, int AProtocol,
                                       TIdIPVersion AIPVersion = Id_IPv4,
                                       bool AOverlapped = false) override;
  void Bind(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
            TIdIPVersion AIPVersion = Id_IPv4) override;
  void Connect(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
               TIdIPVersion AIPVersion = Id_IPv4) override;
  void Listen(TIdStackSocketHandle ASocket, int ABackLog) override;
  using TIdStack::Accept;
  TIdStackSocketHandle Accept(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                              TIdIPVersion& VIPVersion) override;
  void Disconnect(TIdStackSocketHandle ASocket) override;
  void WSShutdown(TIdStackSocketHandle ASocket, int AHow) override;
  using TIdStack::GetSocketName;
  void GetSocketName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                     TIdIPVersion& VIPVersion) override;
  using TIdStack::GetPeerName;
  void GetPeerName(TIdStackSocketHandle ASocket, std::string& VIP, TIdPort& VPort,
                   TIdIPVersion& VIPVersion) override;
  int32_t ReceiveMsg(TIdStackSocketHandle ASocket, TBytes& VBuffer, TIdPacketInfo& APkt,
                     TIdIPVersion AIPVersion = Id_IPv4) override;

  using TIdStack::SetSocketOption;
  void SetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName, const void* AOptVal,
                       int32_t AOptLen) override;
  void SetBlocking(TIdStackSocketHandle ASocket, bool ABlocking) override;
  int IOControl(TIdStackSocketHandle ASocket, uint32_t ACmd, uint32_t& AArg) override;

  int WSGetLastError() override;
  void WSSetLastError(int AErr) override;

  TIdStackSocketHandle WSSocket(int AFamily, int AStruct, int AProtocol,
                                bool AOverlapped = false) override;
  int WSGetSockOpt(TIdStackSocketHandle ASocket, int Alevel, int AOptname, void* AOptval,
                   int32_t& AOptlen) override;
  int32_t RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, size_t ALength, int AFlags,
                   std::string& VIP, TIdPort& VPort, TIdIPVersion AIPVersion) override;
  int32_t WSSendTo(TIdStackSocketHandle ASocket, const void* ABuffer, size_t ABufferLength,
                   int AFlags, const std::string& AIP, TIdPort APort,
                   TIdIPVersion AIPVersion) override;

  std::string ClassName() const override { return "TIdStackPosix"; }

protected:
  std::string LookupHostAddress(const std::string& AHostName, TIdIPVersion AIPVersion) override;
  int32_t WSRecv(TIdStackSocketHandle ASocket, void* ABuffer, size_t ABufLength,
                 int AFlags) override;
  int32_t WSSend(TIdStackSocketHandle ASocket, const void* ABuffer, size_t ABufLength,
                 int AFlags) override;

private:
  std::string LookupWithResolver(const std::string& AHostName, TIdIPVersion AIPVersion);
  std::string HostByAddressWithResolver(const std::string& AAddress, TIdIPVersion AIPVersion);
  std::string HostByAddressWithHostEntry(const std::string& AAddress);
  // Completes a connect that a signal interrupted; raises when it failed.
  void FinishInterruptedConnect(TIdStackSocketHandle ASocket);
};

// Up to 64 handles; waits use poll(), so descriptor numbers have no upper limit.
class TIdSocketListPosix : public TIdSocketListHandles {
public:
  // The socket-list class's Select: see TIdSocketList::Select.
  static bool SelectLists(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                          TIdSocketList* AExceptList, int32_t ATimeout);

  std::unique_ptr<TIdSocketList> Clone() const override;

  std::string ClassName() const override { return "TIdSocketListPosix"; }

protected:
  std::vector<TIdStackSocketHandle> WaitReadable(int32_t ATimeout) const override;
};

} // namespace ftpc
