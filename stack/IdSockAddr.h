// Socket addresses and lookup rules shared by the platform stacks. Each platform unit
// instantiates TIdSockAddrCodec with its own address structures and family numbers, so this
// header includes no platform header itself.
#pragma once

#include <span>
#include <string>

#include "base/IdResourceStrings.h"
#include "global/IdGlobal.h"
#include "stack/IdStackBSDBase.h"

namespace ftpc::detail {

[[noreturn]] inline void RaiseIPVersionUnsupported() {
  throw EIdIPVersionUnsupported(std::string(RSIPVersionUnsupported));
}

// The classic host lookups (without the protocol-independent resolver) know IPv4 only.
inline void RequireClassicIPv4Lookup(TIdIPVersion AIPVersion) {
  if (AIPVersion == Id_IPv6) {
    throw EIdIPv6Unavailable(std::string(RSIPv6Unavailable));
  }
  if (AIPVersion != Id_IPv4) {
    RaiseIPVersionUnsupported();
  }
}

// A service name that the services database does not know: its number, when it is one.
inline TIdPort ServicePortFromNumber(const std::string& AServiceName) {
  const std::string number = Trim(AServiceName);
  if (!IsIntegerText(number)) {
    throw EIdInvalidServiceName(FormatInvariant(RSInvalidServiceName, {AServiceName}));
  }
  const int64_t port = ParseTrimmedInt64(number, -1);
  if (port < 0 || port > 65535) {
    throw EIdRangeError(std::string(RSRangeCheckError));
  }
  return static_cast<TIdPort>(port);
}

// TTypes names the platform's In (sockaddr_in), In6 (sockaddr_in6), Storage (a buffer for
// either), Length (the length type) and the family numbers Inet and Inet6.
template <typename TTypes> struct TIdSockAddrCodec {
  using In = typename TTypes::In;
  using In6 = typename TTypes::In6;

  struct TSockAddr {
    typename TTypes::Storage Storage{};
    typename TTypes::Length Length = sizeof(typename TTypes::Storage);

    sockaddr* Ptr() { return reinterpret_cast<sockaddr*>(&Storage); }
    const sockaddr* Ptr() const { return reinterpret_cast<const sockaddr*>(&Storage); }
  };

  static int FamilyOf(TIdIPVersion AIPVersion) {
    switch (AIPVersion) {
    case Id_IPv4:
      return TTypes::Inet;
    case Id_IPv6:
      return TTypes::Inet6;
    }
    RaiseIPVersionUnsupported();
  }

  // A socket address for AIP and APort. With AAnyWhenEmpty, empty text is the any-address.
  static TSockAddr Build(const TIdStackBSDBase& AStack, const std::string& AIP, TIdPort APort,
                         TIdIPVersion AIPVersion, bool AAnyWhenEmpty) {
    TSockAddr addr;
    const bool any = AAnyWhenEmpty && AIP.empty();
    if (FamilyOf(AIPVersion) == TTypes::Inet) {
      auto* in = reinterpret_cast<In*>(&addr.Storage);
      in->sin_family = TTypes::Inet;
      in->sin_port = TIdStack::HostToNetwork(APort);
      if (!any) {
        AStack.TranslateStringToTInAddr(AIP, BytesOf(in->sin_addr), Id_IPv4);
      }
      addr.Length = sizeof(In);
    } else {
      auto* in6 = reinterpret_cast<In6*>(&addr.Storage);
      in6->sin6_family = TTypes::Inet6;
      in6->sin6_port = TIdStack::HostToNetwork(APort);
      if (!any) {
        AStack.TranslateStringToTInAddr(AIP, BytesOf(in6->sin6_addr), Id_IPv6);
      }
      addr.Length = sizeof(In6);
    }
    return addr;
  }

  // Reads address text, port and version back; false for a family other than IPv4 and IPv6.
  static bool Decode(const TIdStackBSDBase& AStack, const sockaddr* AAddr, std::string& VIP,
                     TIdPort& VPort, TIdIPVersion& VIPVersion) {
    if (AAddr->sa_family == TTypes::Inet) {
      const auto* in = reinterpret_cast<const In*>(AAddr);
      VIP = AStack.TranslateTInAddrToString(BytesOf(in->sin_addr), Id_IPv4);
      VPort = TIdStack::NetworkToHost(static_cast<uint16_t>(in->sin_port));
      VIPVersion = Id_IPv4;
      return true;
    }
    if (AAddr->sa_family == TTypes::Inet6) {
      const auto* in6 = reinterpret_cast<const In6*>(AAddr);
      VIP = AStack.TranslateTInAddrToString(BytesOf(in6->sin6_addr), Id_IPv6);
      VPort = TIdStack::NetworkToHost(static_cast<uint16_t>(in6->sin6_port));
      VIPVersion = Id_IPv6;
      return true;
    }
    return false;
  }

  static void DecodeOrRaise(const TIdStackBSDBase& AStack, const TSockAddr& AAddr,
                            std::string& VIP, TIdPort& VPort, TIdIPVersion& VIPVersion) {
    if (!Decode(AStack, AAddr.Ptr(), VIP, VPort, VIPVersion)) {
      RaiseIPVersionUnsupported();
    }
  }

  // The address text of a resolver entry (addrinfo or its wide Windows form).
  template <typename TAddrInfo>
  static std::string AddrInfoText(const TIdStackBSDBase& AStack, const TAddrInfo& AInfo) {
    std::string ip;
    TIdPort port = 0;
    TIdIPVersion version = Id_IPv4;
    if (!Decode(AStack, AInfo.ai_addr, ip, port, version)) {
      RaiseIPVersionUnsupported();
    }
    return ip;
  }

private:
  template <typename TAddr> static std::span<uint8_t> BytesOf(TAddr& AAddr) {
    return {reinterpret_cast<uint8_t*>(&AAddr), sizeof(AAddr)};
  }
  template <typename TAddr> static std::span<const uint8_t> BytesOf(const TAddr& AAddr) {
    return {reinterpret_cast<const uint8_t*>(&AAddr), sizeof(AAddr)};
  }
};

} // namespace ftpc::detail
