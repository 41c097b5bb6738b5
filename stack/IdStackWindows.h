// The stack over Windows Sockets 2 (the Windows build's start-up choice) and its socket list.
// Error numbers are the library's own; Windows headers stay inside the Windows units.
#pragma once

#include <vector>

#include "stack/IdSocketListHandles.h"
#include "stack/IdStackBSDBase.h"

namespace ftpc {

class TIdStackWindows : public TIdStackBSDBase {
public:
  // Loads and starts the socket library once per process and looks up the resolver; raises
  // EIdStackInitializationFailed.
  TIdStackWindows();

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

  std::string ClassName() const override { return "TIdStackWindows"; }

protected:
  std::string LookupHostAddress(const std::string& AHostName, TIdIPVersion AIPVersion) override;
  int32_t WSRecv(TIdStackSocketHandle ASocket, void* ABuffer, size_t ABufLength,
                 int AFlags) override;
  int32_t WSSend(TIdStackSocketHandle ASocket, const void* ABuffer, size_t ABufLength,
                 int AFlags) override;
};

// Up to 64 handles; waits use select(), whose sets hold exactly that many here.
class TIdSocketListWindows : public TIdSocketListHandles {
public:
  // The socket-list class's Select: see TIdSocketList::Select.
  static bool SelectLists(TIdSocketList* AReadList, TIdSocketList* AWriteList,
                          TIdSocketList* AExceptList, int32_t ATimeout);

  std::unique_ptr<TIdSocketList> Clone() const override;

  std::string ClassName() const override { return "TIdSocketListWindows"; }

protected:
  std::vector<TIdStackSocketHandle> WaitReadable(int32_t ATimeout) const override;
};

} // namespace ftpc
