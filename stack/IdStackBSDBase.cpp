#include "stack/IdStackBSDBase.h"

#include <array>
#include <cstring>
#include <limits>

#include "base/IdResourceStrings.h"
#include "stack/IdIPAddress.h"

namespace ftpc {

namespace {

constexpr size_t kIPv4AddrSize = 4;
constexpr size_t kIPv6AddrSize = 16;
// Multicast membership requests: IPv4 group and interface address; IPv6 group and index.
constexpr size_t kIPv4MembershipSize = 8;
constexpr size_t kIPv6MembershipSize = 20;

[[noreturn]] void RaiseIPVersionUnsupported() {
  throw EIdIPVersionUnsupported(std::string(RSIPVersionUnsupported));
}

[[noreturn]] void RaiseRangeError() {
  throw EIdRangeError(std::string(RSRangeCheckError));
}

size_t RawAddressSize(TIdIPVersion AIPVersion) {
  switch (AIPVersion) {
  case Id_IPv4:
    return kIPv4AddrSize;
  case Id_IPv6:
    return kIPv6AddrSize;
  }
  RaiseIPVersionUnsupported();
}

void RequireRoom(size_t AHave, TIdIPVersion AIPVersion) {
  if (AHave < RawAddressSize(AIPVersion)) {
    RaiseRangeError();
  }
}

// One dotted part for a socket address: a trimmed decimal number from 0 to 255 (text that
// is no number raises the conversion error).
uint8_t IPv4AddressByte(std::string_view APart) {
  const int32_t value = ParseTrimmedInt(APart);
  if (value < 0 || value > 255) {
    RaiseRangeError();
  }
  return static_cast<uint8_t>(value);
}

} // namespace

int32_t detail::SendCount(const TBytes& ABuffer, int32_t AOffset, int32_t ASize) {
  if (AOffset < 0) {
    RaiseAssertionFailure("Send"); // a caller error: no platform call is made
  }
  return UsableCount(ABuffer, AOffset, ASize);
}

// ---- Address conversion ------------------------------------------------------------------------

std::string TIdStackBSDBase::TranslateTInAddrToString(std::span<const uint8_t> AInAddr,
                                                      TIdIPVersion AIPVersion) const {
  RequireRoom(AInAddr.size(), AIPVersion);
  if (AIPVersion == Id_IPv4) {
    return FormatInvariant("%d.%d.%d.%d", {AInAddr[0], AInAddr[1], AInAddr[2], AInAddr[3]});
  }
  std::string out;
  for (size_t i = 0; i < kIPv6AddrSize; i += 2) {
    if (i != 0) {
      out += ':';
    }
    out += FormatInvariant("%X", {(unsigned{AInAddr[i]} << 8) | AInAddr[i + 1]});
  }
  return out;
}

void TIdStackBSDBase::TranslateStringToTInAddr(std::string_view AIP, std::span<uint8_t> AInAddr,
                                               TIdIPVersion AIPVersion) const {
  RequireRoom(AInAddr.size(), AIPVersion);
  if (AIPVersion == Id_IPv4) {
    // Text after the fourth part is ignored.
    std::string rest(AIP);
    for (size_t i = 0; i < kIPv4AddrSize; ++i) {
      AInAddr[i] = IPv4AddressByte(CutToken(rest, "."));
    }
    return;
  }
  TIdIPv6Address words{};
  IPv6TextToAddress(AIP, words);
  for (size_t i = 0; i < words.size(); ++i) {
    AInAddr[2 * i] = static_cast<uint8_t>(words[i] >> 8);
    AInAddr[2 * i + 1] = static_cast<uint8_t>(words[i] & 0xFF);
  }
}

// ---- Transfers -------------------------------------------------------------------------------

int32_t TIdStackBSDBase::Receive(TIdStackSocketHandle ASocket, TBytes& VBuffer) {
  return Receive(ASocket, std::span<uint8_t>(VBuffer));
}

int32_t TIdStackBSDBase::Receive(TIdStackSocketHandle ASocket, std::span<uint8_t> VBuffer) {
  if (VBuffer.empty()) {
    RaiseRangeError();
  }
  return CheckForSocketError(WSRecv(ASocket, VBuffer.data(), VBuffer.size(), 0));
}

int32_t TIdStackBSDBase::Send(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset,
                              int32_t ASize) {
  const int32_t count = detail::SendCount(ABuffer, AOffset, ASize);
  if (count <= 0) {
    return count;
  }
  return Send(ASocket, std::span<const uint8_t>(ABuffer.data() + AOffset, count));
}

int32_t TIdStackBSDBase::Send(TIdStackSocketHandle ASocket, std::span<const uint8_t> ABuffer) {
  if (ABuffer.empty()) {
    return 0;
  }
  return CheckForSocketError(WSSend(ASocket, ABuffer.data(), ABuffer.size(), 0));
}

int32_t TIdStackBSDBase::ReceiveFrom(TIdStackSocketHandle ASocket, TBytes& VBuffer,
                                     std::string& VIP, TIdPort& VPort, TIdIPVersion AIPVersion) {
  if (VBuffer.empty()) {
    RaiseRangeError();
  }
  return CheckForSocketError(
      RecvFrom(ASocket, VBuffer.data(), VBuffer.size(), 0, VIP, VPort, AIPVersion));
}

void TIdStackBSDBase::SendTo(TIdStackSocketHandle ASocket, const TBytes& ABuffer, int32_t AOffset,
                             int32_t ASize, const std::string& AIP, TIdPort APort,
                             TIdIPVersion AIPVersion) {
  const int32_t count = detail::SendCount(ABuffer, AOffset, ASize);
  if (count <= 0) {
    return;
  }
  const int32_t sent =
      WSSendTo(ASocket, ABuffer.data() + AOffset, count, 0, AIP, APort, AIPVersion);
  if (sent == Id_SOCKET_ERROR) {
    const int err = WSGetLastError();
    if (err == Id_WSAEMSGSIZE) {
      throw EIdPackageSizeTooBig(std::string(RSPackageSizeTooBig));
    }
    RaiseSocketError(err);
  }
  if (sent != count) {
    throw EIdNotAllBytesSent(std::string(RSNotAllBytesSent));
  }
}

void TIdStackBSDBase::GetSocketOption(TIdStackSocketHandle ASocket, int ALevel, int AOptName,
                                      int32_t& AOptVal) {
  int32_t length = sizeof(AOptVal);
  CheckForSocketError(WSGetSockOpt(ASocket, ALevel, AOptName, &AOptVal, length));
}

// ---- Multicast ---------------------------------------------------------------------------------

void TIdStackBSDBase::SetMulticastTTL(TIdStackSocketHandle AHandle, uint8_t AValue,
                                      TIdIPVersion AIPVersion) {
  SetVersionedOption(AHandle, AIPVersion, Id_IP_MULTICAST_TTL, Id_IPV6_MULTICAST_HOPS, AValue);
}

void TIdStackBSDBase::SetLoopBack(TIdStackSocketHandle AHandle, bool AValue,
                                  TIdIPVersion AIPVersion) {
  SetVersionedOption(AHandle, AIPVersion, Id_IP_MULTICAST_LOOP, Id_IPV6_MULTICAST_LOOP,
                     AValue ? 1 : 0);
}

void TIdStackBSDBase::SetVersionedOption(TIdStackSocketHandle AHandle, TIdIPVersion AIPVersion,
                                         int AIPv4Option, int AIPv6Option, int32_t AValue) {
  if (AIPVersion == Id_IPv4) {
    SetSocketOption(AHandle, Id_IPPROTO_IP, AIPv4Option, &AValue, sizeof(AValue));
  } else if (AIPVersion == Id_IPv6) {
    SetSocketOption(AHandle, Id_IPPROTO_IPV6, AIPv6Option, &AValue, sizeof(AValue));
  } else {
    RaiseIPVersionUnsupported();
  }
}

void TIdStackBSDBase::AddMulticastMembership(TIdStackSocketHandle AHandle,
                                             const std::string& AGroupIP,
                                             const std::string& ALocalIP, TIdIPVersion AIPVersion) {
  MembershipSockOpt(AHandle, AGroupIP, ALocalIP,
                    AIPVersion == Id_IPv6 ? Id_IPV6_ADD_MEMBERSHIP : Id_IP_ADD_MEMBERSHIP,
                    AIPVersion);
}

void TIdStackBSDBase::DropMulticastMembership(TIdStackSocketHandle AHandle,
                                              const std::string& AGroupIP,
                                              const std::string& ALocalIP,
                                              TIdIPVersion AIPVersion) {
  MembershipSockOpt(AHandle, AGroupIP, ALocalIP,
                    AIPVersion == Id_IPv6 ? Id_IPV6_DROP_MEMBERSHIP : Id_IP_DROP_MEMBERSHIP,
                    AIPVersion);
}

void TIdStackBSDBase::MembershipSockOpt(TIdStackSocketHandle AHandle, const std::string& AGroupIP,
                                        const std::string& ALocalIP, int ASockOpt,
                                        TIdIPVersion AIPVersion) {
  std::array<uint8_t, kIPv6MembershipSize> request{};
  if (AIPVersion == Id_IPv4) {
    if (!IsValidIPv4MulticastGroup(AGroupIP)) {
      return;
    }
    TranslateStringToTInAddr(AGroupIP, std::span(request).first(kIPv4AddrSize), Id_IPv4);
    // An empty local address leaves the interface to the system (any address).
    if (!ALocalIP.empty()) {
      TranslateStringToTInAddr(ALocalIP, std::span(request).subspan(kIPv4AddrSize, kIPv4AddrSize),
                               Id_IPv4);
    }
    SetSocketOption(AHandle, Id_IPPROTO_IP, ASockOpt, request.data(), kIPv4MembershipSize);
  } else if (AIPVersion == Id_IPv6) {
    if (!IsValidIPv6MulticastGroup(AGroupIP)) {
      return;
    }
    // The interface index after the group stays 0: the system chooses the interface.
    TranslateStringToTInAddr(AGroupIP, std::span(request).first(kIPv6AddrSize), Id_IPv6);
    SetSocketOption(AHandle, Id_IPPROTO_IPV6, ASockOpt, request.data(), kIPv6MembershipSize);
  } else {
    RaiseIPVersionUnsupported();
  }
}

// ---- Checksums ---------------------------------------------------------------------------------

void TIdStackBSDBase::WriteChecksum(TIdStackSocketHandle /*s*/, TBytes& VBuffer, int32_t AOffset,
                                    const std::string& /*AIP*/, TIdPort /*APort*/,
                                    TIdIPVersion AIPVersion) {
  // The ICMPv6 form needs a pseudo-header with the route's source address; nothing here
  // sends ICMPv6, so it is refused rather than computed wrongly.
  if (AIPVersion != Id_IPv4) {
    RaiseIPVersionUnsupported();
  }
  if (AOffset < 0 || static_cast<size_t>(AOffset) + 2 > VBuffer.size()) {
    RaiseRangeError();
  }
  const auto offset = static_cast<size_t>(AOffset);
  VBuffer[offset] = 0;
  VBuffer[offset + 1] = 0;
  // Summing in memory order and storing low byte first puts the bytes in wire order.
  const uint16_t checksum = CalcCheckSum(VBuffer);
  VBuffer[offset] = static_cast<uint8_t>(checksum & 0xFF);
  VBuffer[offset + 1] = static_cast<uint8_t>(checksum >> 8);
}

} // namespace ftpc
