// What every BSD-style socket interface shares: raw address conversion, the count and error
// rules of the transfer operations, and the multicast options.
#pragma once

#include <span>

#include "stack/IdStack.h"

namespace ftpc {

class TIdStackBSDBase : public TIdStack {
public:
  // Raw address (4 bytes, or 16 in network order) to the stack's address text: dotted
  // decimal, or eight upper-case groups without leading zeros and never shortened.
  std::string TranslateTInAddrToString(std::span<const uint8_t> AInAddr,
                                       TIdIPVersion AIPVersion) const;
  // Address text to the raw address (AInAddr must hold 4 or 16 bytes). IPv4 parts that are
  // not numbers raise EIdConvertError, parts above 255 EIdRangeError; bad IPv6 text raises
  // EIdInvalidIPv6Address.
  void TranslateStringToTInAddr(std::string_view AIP, std::span<uint8_t> AInAddr,
                                TIdIPVersion AIPVersion) const;

  virtual TIdStackSocketHandle WSSocket(int AFamily, int AStruct, int AProtocol,
                                        bool AOverlapped = false) = 0;
  virtual int WSGetSockOpt(TIdStackSocketHandle ASocket, int Alevel, int AOptname, void* AOptval,
                           int32_t& AOptlen) = 0;
  // Datagram primitives; -1 on failure, with the error left for WSGetLastError.
  virtual int32_t RecvFrom(TIdStackSocketHandle ASocket, void* ABuffer, size_t ALength, int AFlags,
                           std::string& VIP, TIdPort& VPort, TIdIPVersion AIPVersion) = 0;
  virtual int32_t WSSendTo(TIdStackSocketHandle ASocket, const void* ABuffer, size_t ABufferLength,
                           int AFlags, const std::string& AIP, TIdPort APort,
                           TIdIPVersion AIPVersion) = 0;

  int32_t Receive(TIdStackSocketHandle ASocket, TBytes& VBuffer) override;
  int32_t Send(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset = 0,
               int32_t ASize = -1) override;
  int32_t Receive(TIdStackSocketHandle ASocket, std::span<uint8_t> VBuffer) override;
  int32_t Send(TIdStackSocketHandle ASocket, std::span<const uint8_t> ABuffer) override;
  int32_t ReceiveFrom(TIdStackSocketHandle ASocket, TBytes& VBuffer, std::string& VIP,
                      TIdPort& VPort, TIdIPVersion AIPVersion = Id_IPv4) override;
  using TIdStack::SendTo;
  void SendTo(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset, int32_t ASize,
              const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion = Id_IPv4) override;
  using TIdStack::SetSocketOption;
  void GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                       int32_t& AOptVal) override;

  void SetMulticastTTL(TIdStackSocketHandle AHandle, uint8_t AValue,
                       TIdIPVersion AIPVersion) override;
  void SetLoopBack(TIdStackSocketHandle AHandle, bool AValue, TIdIPVersion AIPVersion) override;
  void AddMulticastMembership(TIdStackSocketHandle AHandle, const std::string& AGroupIP,
                              const std::string& ALocalIP, TIdIPVersion AIPVersion) override;
  void DropMulticastMembership(TIdStackSocketHandle AHandle, const std::string& AGroupIP,
                               const std::string& ALocalIP, TIdIPVersion AIPVersion) override;

  // Stores the checksum of a raw ICMP message into its 2-byte field at AOffset (the field is
  // cleared first, so it never takes part in the sum). Only IPv4 is supported.
  void WriteChecksum(TIdStackSocketHandle s, TBytes& VBuffer, int32_t AOffset,
                     const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion) override;

  std::string ClassName() const override { return "TIdStackBSDBase"; }

protected:
  TIdStackBSDBase() = default;
  // Stream primitives; -1 on failure, with the error left for WSGetLastError.
  virtual int32_t WSRecv(TIdStackSocketHandle ASocket, void* ABuffer, size_t ABufLength,
                         int AFlags) = 0;
  virtual int32_t WSSend(TIdStackSocketHandle ASocket, const void* ABuffer, size_t ABufLength,
                         int AFlags) = 0;

private:
  // A 32-bit option of level IPPROTO_IP or IPPROTO_IPV6, chosen by AIPVersion.
  void SetVersionedOption(TIdStackSocketHandle AHandle, TIdIPVersion AIPVersion, int AIPv4Option,
                          int AIPv6Option, int32_t AValue);
  void MembershipSockOpt(TIdStackSocketHandle AHandle, const std::string& AGroupIP,
                         const std::string& ALocalIP, int ASockOpt, TIdIPVersion AIPVersion);
};

namespace detail {
// The number of bytes Send and SendTo hand to the platform: the buffer after AOffset,
// limited to ASize when ASize is not negative, never below 0 and never above INT32_MAX. A
// negative AOffset raises EIdAssertionFailure.
int32_t SendCount(const TBytes& ABuffer, int32_t AOffset, int32_t ASize);
} // namespace detail

} // namespace ftpc
