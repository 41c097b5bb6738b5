#include "proxy/IdSocks.h"

#include <algorithm>
#include <exception>

#include "base/IdResourceStrings.h"
#include "core/IdIOHandlerStack.h"
#include "stack/IdIPAddress.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStack.h"

namespace ftpc {

namespace {

// Start-up: a socket handler asked for its proxy before one was set gets SOCKS settings.
[[maybe_unused]] const bool GSocksIsDefaultProxy = [] {
  TIdCustomTransparentProxy::SetDefaultFactory([]() -> std::unique_ptr<TIdCustomTransparentProxy> {
    return std::make_unique<TIdSocksInfo>();
  });
  return true;
}();

// ---- Wire constants: SOCKS 4 and 4A, RFC 1928 (SOCKS 5) and RFC 1929 (user name/password) ----

constexpr uint8_t kSocks4Version = 4;
constexpr uint8_t kSocks5Version = 5;
constexpr uint8_t kCommandConnect = 1;
constexpr uint8_t kCommandBind = 2;
constexpr uint8_t kCommandUDPAssociate = 3;

constexpr uint8_t kSocks4Granted = 90;
constexpr uint8_t kSocks4Rejected = 91;
constexpr uint8_t kSocks4NoIdentd = 92;
constexpr uint8_t kSocks4IdentMismatch = 93;
constexpr int32_t kSocks4ReplyHeadSize = 2; // version, result
constexpr int32_t kSocks4ReplyTailSize = 6; // port, IPv4 address
// SOCKS 4A: an address 0.0.0.x (x not 0) tells the proxy that the host name follows.
constexpr uint8_t kSocks4AMarkerAddress[] = {0, 0, 0, 1};

constexpr uint8_t kMethodNoAuthentication = 0;
constexpr uint8_t kMethodUsernamePassword = 2;
constexpr uint8_t kMethodNoneAcceptable = 255;
constexpr uint8_t kUserPassVersion = 1;
constexpr int32_t kMethodReplySize = 2;
constexpr int32_t kUserPassReplySize = 2;

constexpr uint8_t kAddressIPv4 = 1;
constexpr uint8_t kAddressName = 3;
constexpr uint8_t kAddressIPv6 = 4;
constexpr size_t kIPv4Size = 4;
constexpr size_t kIPv6Size = 16;
constexpr size_t kPortSize = 2;
// Version, reply code, reserved, address type and the address's first byte (a name's length).
constexpr int32_t kSocks5ReplyHeadSize = 5;
constexpr size_t kSocks5AddressTypeOffset = 3;

// Every text on the wire is bounded by the one-byte length that SOCKS 5 gives it; SOCKS 4
// texts keep the same bound.
constexpr size_t kMaxWireText = 255;

// UDP relay header: reserved (2), fragment number, then an address field and a port.
constexpr size_t kUDPFragmentOffset = 2;
constexpr size_t kUDPAddressOffset = 3;
constexpr size_t kMaxUDPHeaderSize = kUDPAddressOffset + 2 + kMaxWireText + kPortSize;

template <typename E> [[noreturn]] void Raise(std::string_view AMessage) {
  throw E(std::string(AMessage));
}

// ---- Reading a proxy's replies ---------------------------------------------------------

// Reads exactly ACount bytes of a reply into VBuffer. A proxy that closes, fails or goes
// silent past the handler's read time-out in the middle of a reply has not responded.
void ReadReply(TIdIOHandler& AIOHandler, TBytes& VBuffer, int32_t ACount, bool AAppend = false) {
  try {
    AIOHandler.ReadBytes(VBuffer, ACount, AAppend);
  } catch (const EIdException&) {
    Raise<EIdSocksServerRespondError>(RSSocksServerRespondError);
  }
}

TIdPort PortAt(const uint8_t* AData) {
  return static_cast<TIdPort>((AData[0] << 8) | AData[1]);
}

std::string IPv4Text(const uint8_t* AData) {
  return std::to_string(AData[0]) + "." + std::to_string(AData[1]) + "." +
         std::to_string(AData[2]) + "." + std::to_string(AData[3]);
}

std::string IPv6Text(const uint8_t* AData) {
  TIdIPv6Address words{};
  for (size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<uint16_t>((AData[2 * i] << 8) | AData[2 * i + 1]);
  }
  return CompressedIPv6Text(IPv6WordsToText(words));
}

// An address with its port, as a reply or a UDP header carries it.
struct TSocksAddress {
  std::string Host;
  TIdPort Port = 0;
  TIdIPVersion IPVersion = Id_IPv4;
  bool IsName = false;
};

// Bytes of an address field after its type byte, judged from its first byte (a name's
// length); 0 for a type that RFC 1928 does not define.
size_t AddressFieldSize(uint8_t AType, uint8_t AFirst) {
  switch (AType) {
  case kAddressIPv4:
    return kIPv4Size;
  case kAddressIPv6:
    return kIPv6Size;
  case kAddressName:
    return 1 + size_t{AFirst};
  default:
    return 0;
  }
}

// Decodes an address field (type byte at AData[0]) and the port that follows it; the caller
// has checked that AddressFieldSize bytes and the port are there.
TSocksAddress DecodeAddress(const uint8_t* AData) {
  const uint8_t type = AData[0];
  const uint8_t* field = AData + 1;
  TSocksAddress result;
  if (type == kAddressIPv4) {
    result.Host = IPv4Text(field);
  } else if (type == kAddressIPv6) {
    result.Host = IPv6Text(field);
    result.IPVersion = Id_IPv6;
  } else {
    result.Host = ASCIIEncoding()->GetString(field + 1, field[0]);
    result.IsName = true;
  }
  result.Port = PortAt(field + AddressFieldSize(type, field[0]));
  return result;
}

[[noreturn]] void RaiseSocks4Error(uint8_t AResult) {
  switch (AResult) {
  case kSocks4Rejected:
    Raise<EIdSocksRequestFailed>(RSSocksRequestFailed);
  case kSocks4NoIdentd:
    Raise<EIdSocksRequestServerFailed>(RSSocksRequestServerFailed);
  case kSocks4IdentMismatch:
    Raise<EIdSocksRequestIdentFailed>(RSSocksRequestIdentFailed);
  default:
    Raise<EIdSocksUnknownError>(RSSocksUnknownError);
  }
}

// RFC 1928 reply codes 1 to 8.
[[noreturn]] void RaiseSocks5Error(uint8_t ACode) {
  switch (ACode) {
  case 1:
    Raise<EIdSocksServerGeneralError>(RSSocksServerGeneralError);
  case 2:
    Raise<EIdSocksServerPermissionError>(RSSocksServerPermissionError);
  case 3:
    Raise<EIdSocksServerNetUnreachableError>(RSSocksServerNetUnreachableError);
  case 4:
    Raise<EIdSocksServerHostUnreachableError>(RSSocksServerHostUnreachableError);
  case 5:
    Raise<EIdSocksServerConnectionRefusedError>(RSSocksServerConnectionRefusedError);
  case 6:
    Raise<EIdSocksServerTTLExpiredError>(RSSocksServerTTLExpiredError);
  case 7:
    Raise<EIdSocksServerCommandError>(RSSocksServerCommandError);
  case 8:
    Raise<EIdSocksServerAddressError>(RSSocksServerAddressError);
  default:
    Raise<EIdSocksUnknownError>(RSSocksUnknownError);
  }
}

// The 8-byte SOCKS 4 reply: the result is checked before the rest is read, so that a proxy
// that closes after a refusal still gets its refusal reported.
TSocksAddress ReadSocks4Reply(TIdIOHandler& AIOHandler) {
  TBytes reply;
  ReadReply(AIOHandler, reply, kSocks4ReplyHeadSize);
  if (reply[1] != kSocks4Granted) {
    RaiseSocks4Error(reply[1]);
  }
  ReadReply(AIOHandler, reply, kSocks4ReplyTailSize);
  return {IPv4Text(reply.data() + kPortSize), PortAt(reply.data()), Id_IPv4, false};
}

// A SOCKS 5 reply, read exactly as long as its address type says: nothing of it is left in
// the input buffer, so the next byte is the tunnel's.
TSocksAddress ReadSocks5Reply(TIdIOHandler& AIOHandler) {
  TBytes reply;
  ReadReply(AIOHandler, reply, kSocks5ReplyHeadSize);
  if (reply[1] != 0) {
    RaiseSocks5Error(reply[1]);
  }
  const uint8_t* address = reply.data() + kSocks5AddressTypeOffset;
  const size_t field = AddressFieldSize(address[0], address[1]);
  if (field == 0) {
    Raise<EIdSocksServerAddressError>(RSSocksServerAddressError);
  }
  ReadReply(AIOHandler, reply, static_cast<int32_t>(field - 1 + kPortSize), true);
  return DecodeAddress(reply.data() + kSocks5AddressTypeOffset); // the read may have moved it
}

// ---- Building requests -----------------------------------------------------------------

void AppendPort(TBytes& VBytes, TIdPort APort) {
  VBytes.push_back(static_cast<uint8_t>(APort >> 8));
  VBytes.push_back(static_cast<uint8_t>(APort & 0xFF));
}

// US-ASCII bytes of a text for the wire; longer than kMaxWireText raises E.
template <typename E> TBytes WireText(const std::string& AText, std::string_view AMessage) {
  TBytes bytes = ASCIIEncoding()->GetBytes(AText);
  if (bytes.size() > kMaxWireText) {
    Raise<E>(AMessage);
  }
  return bytes;
}

// A SOCKS 4 text ends at a zero byte, so a zero inside it would end it early.
template <typename E>
void AppendSocks4Text(TBytes& VBytes, const std::string& AText, std::string_view AMessage) {
  const TBytes bytes = WireText<E>(AText, AMessage);
  if (std::find(bytes.begin(), bytes.end(), 0) != bytes.end()) {
    Raise<E>(AMessage);
  }
  VBytes.insert(VBytes.end(), bytes.begin(), bytes.end());
  VBytes.push_back(0);
}

// Appends the four bytes of IPv4 text; false when the text is not an IPv4 address.
bool AppendIPv4(TBytes& VBytes, const std::string& AIP) {
  bool error = false;
  const uint32_t value = IPv4TextToNumber(AIP, error);
  if (error) {
    return false;
  }
  for (int shift = 24; shift >= 0; shift -= 8) {
    VBytes.push_back(static_cast<uint8_t>(value >> shift));
  }
  return true;
}

std::string ResolvedIPv4(const std::string& AHost) {
  TIdStackUser user;
  return user.Stack().IsIP(AHost) ? AHost : user.Stack().ResolveHost(AHost, Id_IPv4);
}

// SOCKS 4 / 4A request; 4A hands the host name to the proxy, 4 resolves it here.
TBytes Socks4Request(const TIdSocksInfo& AProxy, uint8_t ACommand, const std::string& AHost,
                     TIdPort APort) {
  TBytes request{kSocks4Version, ACommand};
  AppendPort(request, APort);
  const bool byName = AProxy.Version() == svSocks4A;
  if (byName) {
    for (const uint8_t byte : kSocks4AMarkerAddress) {
      request.push_back(byte);
    }
  } else if (!AppendIPv4(request, ResolvedIPv4(AHost))) {
    Raise<EIdSocksServerAddressError>(RSSocksServerAddressError);
  }
  AppendSocks4Text<EIdSocksAuthError>(request, AProxy.Username(), RSSocksAuthError);
  if (byName) {
    AppendSocks4Text<EIdSocksServerAddressError>(request, AHost, RSSocksServerAddressError);
  }
  return request;
}

// The address field of a SOCKS 5 request or UDP header: IPv6 text, IPv4 text, or a name for
// the proxy to resolve.
void AppendSocks5Address(TBytes& VBytes, const std::string& AHost) {
  if (!CanonicalIPv6Text(AHost).empty()) {
    TIdIPv6Address words{};
    IPv6TextToAddress(AHost, words);
    VBytes.push_back(kAddressIPv6);
    for (const uint16_t word : words) {
      AppendPort(VBytes, word); // a 16-bit value, most significant byte first
    }
    return;
  }
  if (TIdStackUser().Stack().IsIP(AHost)) {
    VBytes.push_back(kAddressIPv4);
    if (AppendIPv4(VBytes, AHost)) {
      return;
    }
    VBytes.pop_back();
  }
  const TBytes name = WireText<EIdSocksServerAddressError>(AHost, RSSocksServerAddressError);
  VBytes.push_back(kAddressName);
  VBytes.push_back(static_cast<uint8_t>(name.size()));
  VBytes.insert(VBytes.end(), name.begin(), name.end());
}

TBytes Socks5Request(uint8_t ACommand, const std::string& AHost, TIdPort APort) {
  TBytes request{kSocks5Version, ACommand, 0};
  AppendSocks5Address(request, AHost);
  AppendPort(request, APort);
  return request;
}

// RFC 1929: version 1, then the user name and the password, each counted.
void SendSocks5Credentials(const TIdSocksInfo& AProxy, TIdIOHandler& AIOHandler) {
  const TBytes user = WireText<EIdSocksAuthError>(AProxy.Username(), RSSocksAuthError);
  const TBytes password = WireText<EIdSocksAuthError>(AProxy.Password(), RSSocksAuthError);
  TBytes request{kUserPassVersion, static_cast<uint8_t>(user.size())};
  request.insert(request.end(), user.begin(), user.end());
  request.push_back(static_cast<uint8_t>(password.size()));
  request.insert(request.end(), password.begin(), password.end());
  AIOHandler.Write(request);
  TBytes reply;
  ReadReply(AIOHandler, reply, kUserPassReplySize);
  if (reply[1] != 0) {
    Raise<EIdSocksAuthError>(RSSocksAuthError);
  }
}

// Offers the one method the settings ask for and authenticates when it is user/password.
void NegotiateSocks5Method(const TIdSocksInfo& AProxy, TIdIOHandler& AIOHandler) {
  const bool withPassword = AProxy.Authentication() == saUsernamePassword;
  const uint8_t method = withPassword ? kMethodUsernamePassword : kMethodNoAuthentication;
  AIOHandler.Write(TBytes{kSocks5Version, 1, method});
  TBytes reply;
  ReadReply(AIOHandler, reply, kMethodReplySize);
  if (reply[1] != method || reply[1] == kMethodNoneAcceptable) {
    Raise<EIdSocksAuthMethodError>(RSSocksAuthMethodError);
  }
  if (withPassword) {
    SendSocks5Credentials(AProxy, AIOHandler);
  }
}

// One SOCKS 5 command on a connection to the proxy; returns the address of the reply.
TSocksAddress Socks5Command(const TIdSocksInfo& AProxy, TIdIOHandler& AIOHandler, uint8_t ACommand,
                            const std::string& AHost, TIdPort APort) {
  NegotiateSocks5Method(AProxy, AIOHandler);
  AIOHandler.Write(Socks5Request(ACommand, AHost, APort));
  return ReadSocks5Reply(AIOHandler);
}

TSocksAddress Socks4Command(const TIdSocksInfo& AProxy, TIdIOHandler& AIOHandler, uint8_t ACommand,
                            const std::string& AHost, TIdPort APort) {
  AIOHandler.Write(Socks4Request(AProxy, ACommand, AHost, APort));
  return ReadSocks4Reply(AIOHandler);
}

// ---- Bind and listen -------------------------------------------------------------------

TIdIOHandlerSocket& SocketOf(TIdIOHandler& AIOHandler) {
  auto* socket = dynamic_cast<TIdIOHandlerSocket*>(&AIOHandler);
  if (socket == nullptr) {
    Raise<EIdTransparentProxyCantBind>(RSTransparentProxyCannotBind);
  }
  return *socket;
}

// An address from a bind reply as the socket records it: a name is resolved for IPv4, and an
// unspecified address means the proxy's own (the address this handler reached it on).
TSocksAddress UsableAddress(TSocksAddress AAddress, const TIdSocketHandle& AProxyConnection) {
  if (AAddress.IsName) {
    AAddress.Host = ResolvedIPv4(AAddress.Host);
    AAddress.IPVersion = Id_IPv4;
  } else if (AAddress.Host == "0.0.0.0" || AAddress.Host == "::") {
    AAddress.Host = AProxyConnection.PeerIP();
    AAddress.IPVersion = AProxyConnection.IPVersion();
  }
  return AAddress;
}

// ---- UDP relay -------------------------------------------------------------------------

// The sender and the payload's offset of a relayed datagram; false for a malformed header
// or a fragment (RFC 1928: a relay client without reassembly drops fragments).
bool ParseUDPHeader(const TBytes& ADatagram, size_t ALength, TSocksAddress& VSender,
                    size_t& VPayloadOffset) {
  if (ALength < kUDPAddressOffset + 2 || ADatagram[kUDPFragmentOffset] != 0) {
    return false;
  }
  const uint8_t* address = ADatagram.data() + kUDPAddressOffset;
  const size_t field = AddressFieldSize(address[0], address[1]);
  const size_t header = kUDPAddressOffset + 1 + field + kPortSize;
  if (field == 0 || header > ALength) {
    return false;
  }
  VSender = DecodeAddress(address);
  VPayloadOffset = header;
  return true;
}

} // namespace

TIdSocksInfo::TIdSocksInfo(TIdInitializerComponent* AOwner)
    : TIdCustomTransparentProxy(AOwner),
      FUDPSocksAssociation(std::make_unique<TIdIOHandlerStack>()) {
  SetPort(IdPORT_SOCKS);
  SetIPVersion(Id_IPv4);
}

TIdSocksInfo::~TIdSocksInfo() = default;

std::unique_ptr<TIdCustomTransparentProxy> TIdSocksInfo::NewInstance() const {
  return std::make_unique<TIdSocksInfo>();
}

void TIdSocksInfo::Assign(const TIdCustomTransparentProxy& ASource) {
  TIdCustomTransparentProxy::Assign(ASource);
  if (const auto* socks = dynamic_cast<const TIdSocksInfo*>(&ASource)) {
    FAuthentication = socks->FAuthentication;
    FVersion = socks->FVersion;
  }
}

bool TIdSocksInfo::Enabled() const {
  return FVersion == svSocks4 || FVersion == svSocks4A || FVersion == svSocks5;
}

void TIdSocksInfo::MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost, TIdPort APort,
                                  TIdIPVersion /*AIPVersion*/) {
  if (FVersion == svSocks5) {
    Socks5Command(*this, AIOHandler, kCommandConnect, AHost, APort);
  } else if (Enabled()) {
    Socks4Command(*this, AIOHandler, kCommandConnect, AHost, APort);
  }
}

void TIdSocksInfo::Bind(TIdIOHandler& AIOHandler, const std::string& AHost, TIdPort APort,
                        TIdIPVersion /*AIPVersion*/) {
  if (!Enabled()) {
    return;
  }
  TIdIOHandlerSocket& socket = SocketOf(AIOHandler);
  OpenStraightToProxy(socket);
  const TSocksAddress bound = FVersion == svSocks5
                                  ? Socks5Command(*this, AIOHandler, kCommandBind, AHost, APort)
                                  : Socks4Command(*this, AIOHandler, kCommandBind, AHost, APort);
  const TSocksAddress local = UsableAddress(bound, *socket.Binding());
  socket.Binding()->SetBinding(local.Host, local.Port, local.IPVersion);
}

// The proxy's connection for a bind goes straight to Host:Port: the handler's proxy (this
// one) is switched off while the handler connects, and switched on again whatever happens.
void TIdSocksInfo::OpenStraightToProxy(TIdIOHandlerSocket& ASocket) {
  const TSocksVersion version = FVersion;
  FVersion = svNoSocks;
  ASocket.SetHost(Host());
  ASocket.SetPort(Port());
  ASocket.SetIPVersion(IPVersion());
  try {
    ASocket.Open();
  } catch (...) {
    FVersion = version;
    try {
      ASocket.Close();
    } catch (...) { // the connect's own failure is the one to report
    }
    throw;
  }
  FVersion = version;
}

bool TIdSocksInfo::Listen(TIdIOHandler& AIOHandler, int32_t ATimeOut) {
  if (!Enabled()) {
    return false;
  }
  TIdIOHandlerSocket& socket = SocketOf(AIOHandler);
  if (socket.Binding() == nullptr) { // never bound: there is no proxy connection to wait on
    Raise<EIdTransparentProxyCantBind>(RSTransparentProxyCannotBind);
  }
  // The second reply may have come with the first and already wait in the input buffer.
  if (AIOHandler.InputBufferIsEmpty() && !socket.Binding()->Readable(ATimeOut)) {
    return false;
  }
  const TSocksAddress peer =
      FVersion == svSocks5 ? ReadSocks5Reply(AIOHandler) : ReadSocks4Reply(AIOHandler);
  const TSocksAddress usable = UsableAddress(peer, *socket.Binding());
  socket.Binding()->SetPeer(usable.Host, usable.Port, usable.IPVersion);
  return true;
}

void TIdSocksInfo::RequireUDP() const {
  if (FVersion != svSocks5) {
    Raise<EIdSocksUDPNotSupportedBySOCKSVersion>(RSSocksUDPNotSupported);
  }
}

void TIdSocksInfo::OpenUDP(TIdSocketHandle& AHandle, const std::string& /*AHost*/,
                           TIdPort /*APort*/, TIdIPVersion AIPVersion) {
  RequireUDP();
  TIdIOHandlerStack& control = *FUDPSocksAssociation;
  try {
    control.SetHost(Host());
    control.SetPort(Port());
    control.SetIPVersion(IPVersion());
    control.Open();
    const std::string unspecified = AIPVersion == Id_IPv6 ? "::0" : "0.0.0.0";
    const TSocksAddress relay = Socks5Command(*this, control, kCommandUDPAssociate, unspecified, 0);
    const TIdSocketHandle& proxy = *control.Binding();
    if (!AHandle.HandleAllocated()) {
      AHandle.SetIPVersion(proxy.IPVersion());
      AHandle.AllocateSocket(Id_SOCK_DGRAM, Id_IPPROTO_UDP);
    }
    AHandle.SetPeer(proxy.PeerIP(), relay.Port, proxy.IPVersion());
    AHandle.Connect();
  } catch (...) {
    control.Close();
    throw;
  }
}

void TIdSocksInfo::CloseUDP(TIdSocketHandle& /*AHandle*/) {
  RequireUDP();
  FUDPSocksAssociation->Close();
}

int32_t TIdSocksInfo::RecvFromUDP(TIdSocketHandle& AHandle, TBytes& ABuffer, std::string& VPeerIP,
                                  TIdPort& VPeerPort, TIdIPVersion /*AIPVersion*/, int32_t AMSec) {
  RequireUDP();
  if (!AHandle.Readable(AMSec)) {
    return 0;
  }
  TBytes datagram(ABuffer.size() + kMaxUDPHeaderSize);
  const int32_t received = AHandle.Receive(datagram);
  TSocksAddress sender;
  size_t offset = 0;
  if (received <= 0 || !ParseUDPHeader(datagram, static_cast<size_t>(received), sender, offset)) {
    return 0;
  }
  const size_t length = std::min(static_cast<size_t>(received) - offset, ABuffer.size());
  std::copy_n(datagram.begin() + static_cast<std::ptrdiff_t>(offset), length, ABuffer.begin());
  VPeerIP = sender.Host;
  VPeerPort = sender.Port;
  return static_cast<int32_t>(length);
}

void TIdSocksInfo::SendToUDP(TIdSocketHandle& AHandle, const std::string& AHost, TIdPort APort,
                             TIdIPVersion /*AIPVersion*/, const TBytes& ABuffer) {
  RequireUDP();
  TBytes datagram{0, 0, 0}; // reserved, fragment 0: whole datagrams only
  AppendSocks5Address(datagram, AHost);
  AppendPort(datagram, APort);
  datagram.insert(datagram.end(), ABuffer.begin(), ABuffer.end());
  AHandle.Send(datagram);
}

} // namespace ftpc
