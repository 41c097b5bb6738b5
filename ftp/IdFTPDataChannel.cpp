// TIdFTP: the data channel. Passive address queries (PASV, CPSV, EPSV with its fall-back to
// PASV), active announcements (EPRT with its fall-back to PORT, PORT), the data-protection
// commands that precede them under TLS, and the creation and set-up of the data connection.
#include "ftp/IdFTP.h"

#include <algorithm>

#include "core/IdIOHandlerSocket.h"
#include "base/IdResourceStrings.h"
#include "core/IdCustomTransparentProxy.h"
#include "server/IdSimpleServer.h"
#include "stack/IdIPAddress.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {

namespace {

constexpr int16_t kCodePassive = 227;
constexpr int16_t kCodeExtPassive = 229;
constexpr int16_t kCodeCommandOK = 200;
constexpr int32_t kMaxPort = 65535;
constexpr size_t kMaxIPv4PieceDigits = 3;
constexpr int kMaxIPv4Piece = 255;
// The smallest piece a download receives at a time. Pieces of 256 KiB halve the CPU time of a
// download to a file against 32 KiB ones (the page cache takes large writes in large folios)
// and still fit the processor's cache; larger ones got slower again.
constexpr int32_t kMinDataRecvBufferSize = 256 * 1024;

// The network protocol numbers of RFC 2428: 1 for IPv4, 2 for IPv6.
std::string ProtocolNumber(TIdIPVersion AIPVersion) { return AIPVersion == Id_IPv6 ? "2" : "1"; }

// The text between the first "(" and the first ")" after it; false when there is none.
bool TextInParentheses(const std::string& ALine, std::string& VInner) {
  const size_t open = ALine.find('(');
  if (open == std::string::npos) {
    return false;
  }
  const size_t close = ALine.find(')', open + 1);
  if (close == std::string::npos) {
    return false;
  }
  VInner = ALine.substr(open + 1, close - open - 1);
  return true;
}

// One piece of a dotted IPv4 address as a decimal number 0..255, else -1.
int IPv4Piece(const std::string& APiece) {
  const std::string piece = Trim(APiece);
  if (piece.size() > kMaxIPv4PieceDigits || !AreAllDigits(piece)) {
    return -1;
  }
  const int value = ParseTrimmedInt(piece);
  return value <= kMaxIPv4Piece ? value : -1;
}

[[noreturn]] void RaiseInvalidAddress(const std::string& AText) {
  throw EIdFTPServerSentInvalidAddress(FormatInvariant(RSFTPServerSentInvalidAddress, {AText}));
}

// "h1,h2,h3,h4" cut off the front of VText as a dotted address. Each piece must be a decimal
// number 0..255: a server must not make us resolve a name of its choosing.
std::string CutPassiveHost(std::string& VText) {
  std::string host;
  std::string shown;
  for (int i = 0; i < 4; ++i) {
    const std::string piece = CutToken(VText, ",");
    shown += (i > 0 ? "," : "") + piece;
    const int value = IPv4Piece(piece);
    if (value < 0) {
      RaiseInvalidAddress(shown);
    }
    host += (i > 0 ? "." : "") + std::to_string(value);
  }
  return host;
}

// An address field of a 229 reply is only taken as a numeric IPv4 or IPv6 literal.
bool IsNumericAddress(const std::string& AAddress) {
  if (AAddress.find(':') != std::string::npos) {
    TIdIPv6Address words{};
    bool error = false;
    IPv6TextToWords(AAddress, words, error);
    return !error;
  }
  std::string rest = AAddress;
  for (int i = 0; i < 4; ++i) {
    if (rest.empty() && i > 0) {
      return false;
    }
    if (IPv4Piece(CutToken(rest, ".")) < 0) {
      return false;
    }
  }
  return rest.empty();
}

} // namespace

// ---- Data protection (RFC 4217) ------------------------------------------------------------

void TIdFTP::SendDataSettings() {
  if (!FUsingSFTP || FUsingCCC) {
    return;
  }
  SendCmd("PBSZ 0");
  SendCmd(FDataPortProtection == ftpdpsPrivate ? "PROT P" : "PROT C", {kCodeCommandOK});
  if (!FUseCCC) {
    return;
  }
  const int16_t code = SendCmd("CCC");
  if (code >= 200 && code <= 299) {
    FUsingCCC = true;
    if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler())) {
      tls->SetPassThrough(true);
    }
  }
}

// ---- Passive address queries ---------------------------------------------------------------

void TIdFTP::SendPassive(std::string& VIP, uint16_t& VPort) {
  if (FUsingExtDataPort) {
    SendEPassive(VIP, VPort);
  } else {
    SendPASV(VIP, VPort);
  }
}

// "227 Entering Passive Mode (127,0,0,1,4,51)"; some servers leave out the parentheses
// ("227 Entering Passive Mode 127,0,0,1,4,51" or "227 =127,0,0,1,4,51").
void TIdFTP::SendPASV(std::string& VIP, uint16_t& VPort) {
  SendDataSettings();
  SendCmd("PASV", {kCodePassive});
  ParsePASVReply(VIP, VPort);
}

void TIdFTP::SendCPassive(std::string& VIP, uint16_t& VPort) {
  SendDataSettings();
  SendCmd("CPSV", {kCodePassive});
  ParsePASVReply(VIP, VPort);
}

void TIdFTP::ParsePASVReply(std::string& VIP, uint16_t& VPort) {
  const std::string line = Trim(LastCmdResult().FirstTextLine());
  std::string text;
  if (!TextInParentheses(line, text)) {
    // "227 =127,0,0,1,4,51": the address is the last word, after any leading sign.
    const size_t blank = line.rfind(' ');
    text = blank == std::string::npos ? line : line.substr(blank + 1);
    const size_t digit = text.find_first_of("0123456789");
    text = digit == std::string::npos ? std::string() : text.substr(digit);
  }
  const std::string host = CutPassiveHost(text);
  // Only the low 8 bits of each byte count: "...,300,1" is port 44 * 256 + 1.
  const int32_t high = ParseTrimmedInt(CutToken(text, ",")) & 0xFF;
  const int32_t low = ParseTrimmedInt(CutToken(text, ",")) & 0xFF;
  VIP = host;
  VPort = static_cast<uint16_t>((high << 8) + low);
}

// RFC 2428: "229 Entering Extended Passive Mode (|||6446|)". Servers that do not know EPSV
// answer 500 or 502; then PASV serves this and every later transfer of the connection.
void TIdFTP::SendEPassive(std::string& VIP, uint16_t& VPort) {
  SendDataSettings();
  // Behind a proxy the network protocol is named; plain EPSV follows when that form is refused.
  const bool answeredNamed = FProxySettings->ProxyType() != fpcmNone &&
                             SendCmd("EPSV " + ProtocolNumber(IPVersion())) == kCodeExtPassive;
  if (!answeredNamed) {
    SendCmd("EPSV");
  }
  if (LastCmdResult().NumericCode() != kCodeExtPassive) {
    SendPASV(VIP, VPort);
    FUsingExtDataPort = false;
    return;
  }
  try {
    ParseEPSVReply(VIP, VPort);
  } catch (...) {
    // The server already listens for us; ABOR lets it give up that data connection.
    SendCmd("ABOR");
    throw;
  }
}

void TIdFTP::ParseEPSVReply(std::string& VIP, uint16_t& VPort) {
  std::string inner;
  TextInParentheses(Trim(LastCmdResult().FirstTextLine()), inner);
  const std::string delimiter = inner.empty() ? std::string() : inner.substr(0, 1);
  std::string fields = inner;
  std::string address;
  std::string port;
  if (!delimiter.empty()) {
    CutToken(fields, delimiter); // the empty text before the opening delimiter
    CutToken(fields, delimiter); // the network protocol
    address = CutToken(fields, delimiter);
    port = Trim(CutToken(fields, delimiter));
  }
  const int32_t value = ParseTrimmedInt(port, 0);
  if (value < 1 || value > kMaxPort) {
    throw EIdFTPServerSentInvalidPort(FormatInvariant(RSFTPServerSentInvalidPort, {port}));
  }
  if (!address.empty() && !IsNumericAddress(address)) {
    RaiseInvalidAddress(address);
  }
  VIP = address.empty() ? Host() : address;
  VPort = static_cast<uint16_t>(value);
}

// ---- Active announcements ------------------------------------------------------------------

void TIdFTP::SendPort(const TIdSocketHandle& AHandle) {
  AnnounceDataPort(FExternalIP.empty() ? AHandle.IP() : FExternalIP, AHandle.Port(),
                   AHandle.IPVersion());
}

void TIdFTP::AnnounceDataPort(const std::string& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  SendDataSettings();
  if (FUsingExtDataPort) {
    SendEPRT(AIP, APort, AIPVersion);
  } else {
    SendPORT(AIP, APort);
  }
}

// RFC 959: "PORT 127,0,0,1,195,80" for 127.0.0.1 port 50000.
void TIdFTP::SendPORT(const std::string& AIP, uint16_t APort) {
  std::string address = AIP;
  for (char& c : address) {
    if (c == '.') {
      c = ',';
    }
  }
  SendCmd("PORT " + address + "," + std::to_string(APort / 256) + "," +
              std::to_string(APort % 256),
          {kCodeCommandOK});
}

// RFC 2428: "EPRT |1|127.0.0.1|50000|" or "EPRT |2|::1|50000|", the IPv6 address in its
// RFC 5952 form (pyftpdlib compares the text with the control connection's peer and refuses
// "0:0:0:0:0:0:0:1"). On IPv4 a refusal falls back to PORT for the rest of the connection;
// PORT cannot carry an IPv6 address, so there the refusal is the error.
void TIdFTP::SendEPRT(const std::string& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  const bool v6 = AIPVersion == Id_IPv6;
  const std::string address = v6 ? CompressedIPv6Text(AIP) : AIP;
  const int16_t code = SendCmd("EPRT |" + ProtocolNumber(AIPVersion) + "|" +
                               (address.empty() ? AIP : address) + "|" + std::to_string(APort) +
                               "|");
  if (code == kCodeCommandOK) {
    return;
  }
  if (v6) {
    RaiseExceptionForLastCmdResult();
  }
  SendPORT(AIP, APort);
  FUsingExtDataPort = false;
}

// ---- The data connection -------------------------------------------------------------------

void TIdFTP::InitDataChannel(TIdTCPConnection& AChannel) {
  auto* controlTLS = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler());
  if (FDataPortProtection == ftpdpsPrivate && controlTLS != nullptr) {
    std::unique_ptr<TIdSSLIOHandlerSocketBase> clone = controlTLS->Clone();
    clone->SetPassThrough(true);
    AChannel.SetIOHandler(clone.release());
    AChannel.SetManagedIOHandler(true);
  } else {
    AChannel.CreateIOHandler();
  }
  TIdIOHandler& data = *AChannel.IOHandler();
  auto* client = dynamic_cast<TIdTCPClientCustom*>(&AChannel);
  if (client != nullptr && IOHandler() != nullptr) {
    // The client pushes its own settings into the handler when it connects.
    client->SetConnectTimeout(IOHandler()->ConnectTimeout());
  }
  if (AChannel.Socket() != nullptr && Socket() != nullptr) {
    // Only an enabled proxy matters to the data connection; asking for the proxy would create
    // a disabled one on the control connection.
    AChannel.Socket()->SetTransparentProxy(Socket()->EnabledTransparentProxy());
    AChannel.Socket()->SetIPVersion(Socket()->IPVersion());
    if (client != nullptr) {
      client->SetIPVersion(Socket()->IPVersion());
    }
  }
  data.SetReadTimeout(FTransferTimeout);
  if (client != nullptr) {
    client->SetReadTimeout(FTransferTimeout);
  }
  if (IOHandler() != nullptr) {
    data.SetSendBufferSize(IOHandler()->SendBufferSize());
  }
  data.SetRecvBufferSize(std::max(IOHandler() != nullptr ? IOHandler()->RecvBufferSize() : 0,
                                  kMinDataRecvBufferSize));
  data.SetLargeStream(true);
  AChannel.SetWorkTarget(this);
}

// A new connection is stored only once its I/O handler is set up: from then on Abort may look
// at it from another thread. The old connection is destroyed outside the lock, so that its
// events cannot deadlock with an Abort on another thread.
void TIdFTP::SetDataChannel(std::unique_ptr<TIdTCPConnection> AChannel) {
  {
    const std::lock_guard guard(FDataChannelLock);
    FDataChannel.swap(AChannel);
  }
  AChannel.reset();
}

void TIdFTP::OpenPassiveDataChannel() {
  std::string host;
  uint16_t port = 0;
  SendPassive(host, port);
  OpenPassiveDataChannelTo(host, port);
}

void TIdFTP::OpenPassiveDataChannelTo(std::string AHost, uint16_t APort) {
  auto client = std::make_unique<TIdTCPClient>();
  TIdTCPClient& channel = *client;
  InitDataChannel(channel);
  SetDataChannel(std::move(client));
  if (FPassiveUseControlHost && Socket() != nullptr && Socket()->Binding() != nullptr) {
    // Behind a proxy the control socket's peer is the proxy; the server is the handler's host.
    AHost = Socket()->EnabledTransparentProxy() != nullptr ? Socket()->Host()
                                                           : Socket()->Binding()->PeerIP();
  }
  channel.SetHost(AHost);
  channel.SetPort(APort);
  if (FOnDataChannelCreate) {
    FOnDataChannelCreate(this, channel);
  }
  channel.Connect();
}

void TIdFTP::OpenActiveDataChannel() {
  auto server = std::make_unique<TIdSimpleServer>();
  TIdSimpleServer& listener = *server;
  InitDataChannel(listener);
  SetDataChannel(std::move(server));
  if (Socket() != nullptr) {
    listener.SetIPVersion(Socket()->IPVersion());
    if (Socket()->Binding() != nullptr) {
      listener.SetBoundIP(Socket()->Binding()->IP());
    }
  }
  listener.SetBoundPort(FDataPort);
  listener.SetBoundPortMin(FDataPortMin);
  listener.SetBoundPortMax(FDataPortMax);
  if (FOnDataChannelCreate) {
    FOnDataChannelCreate(this, listener);
  }
  listener.BeginListen();
  SendPort(*listener.Binding());
}

void TIdFTP::AcceptActiveDataChannel() {
  auto* listener = dynamic_cast<TIdSimpleServer*>(FDataChannel.get());
  if (listener != nullptr) {
    listener->Listen(FListenTimeout);
  }
}

} // namespace ftpc
