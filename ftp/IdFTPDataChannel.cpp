// TIdFTP: the data-port commands. Passive address queries (PASV, CPSV, EPSV with its
// fall-back to PASV), active announcements (EPRT with its fall-back to PORT, PORT) and the
// data-protection commands that precede them under TLS. The data connection itself is
// TIdFTPDataConnection's; the replies are read by the free functions of IdFTPReplyParsers.
#include "ftp/IdFTP.h"

#include "base/IdResourceStrings.h"
#include "stack/IdIPAddress.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {

namespace {

constexpr int16_t kCodePassive = 227;
constexpr int16_t kCodeExtPassive = 229;
constexpr int16_t kCodeCommandOK = 200;

// The network protocol numbers of RFC 2428: 1 for IPv4, 2 for IPv6.
std::string ProtocolNumber(TIdIPVersion AIPVersion) { return AIPVersion == Id_IPv6 ? "2" : "1"; }

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

TIdFTPDataAddress TIdFTP::SendPassive() {
  return FUsingExtDataPort ? SendEPassive() : SendPASV();
}

// "227 Entering Passive Mode (127,0,0,1,4,51)"; some servers leave out the parentheses
// ("227 Entering Passive Mode 127,0,0,1,4,51" or "227 =127,0,0,1,4,51").
TIdFTPDataAddress TIdFTP::SendPASV() {
  SendDataSettings();
  SendCmd("PASV", {kCodePassive});
  return ParsePASVReply(LastCmdResult().FirstTextLine());
}

TIdFTPDataAddress TIdFTP::SendCPassive() {
  SendDataSettings();
  SendCmd("CPSV", {kCodePassive});
  return ParsePASVReply(LastCmdResult().FirstTextLine());
}

// RFC 2428: "229 Entering Extended Passive Mode (|||6446|)". Servers that do not know EPSV
// answer 500 or 502; then PASV serves this and every later transfer of the connection.
TIdFTPDataAddress TIdFTP::SendEPassive() {
  SendDataSettings();
  // Behind a proxy the network protocol is named; plain EPSV follows when that form is refused.
  const bool answeredNamed = FProxySettings->ProxyType() != fpcmNone &&
                             SendCmd("EPSV " + ProtocolNumber(IPVersion())) == kCodeExtPassive;
  if (!answeredNamed) {
    SendCmd("EPSV");
  }
  if (LastCmdResult().NumericCode() != kCodeExtPassive) {
    const TIdFTPDataAddress address = SendPASV();
    FUsingExtDataPort = false;
    return address;
  }
  try {
    return ParseEPSVReply(LastCmdResult().FirstTextLine(), Host());
  } catch (...) {
    // The server already listens for us; ABOR lets it give up that data connection.
    SendCmd("ABOR");
    throw;
  }
}

// ---- Active announcements ------------------------------------------------------------------

// PORT cannot carry an IPv6 address: an IPv6 one always goes out with EPRT.
void TIdFTP::AnnounceDataPort(const std::string& AIP, uint16_t APort, TIdIPVersion AIPVersion) {
  SendDataSettings();
  if (FUsingExtDataPort || AIPVersion == Id_IPv6) {
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

// ---- Opening the data connection ---------------------------------------------------------

bool TIdFTP::DataChannelProtected() const { return FDataPortProtection == ftpdpsPrivate; }

void TIdFTP::OpenPassiveDataChannel() {
  const TIdFTPDataAddress address = SendPassive();
  FData.OpenPassive(address.Host, address.Port, DataChannelProtected());
}

void TIdFTP::OpenActiveDataChannel() {
  const TIdSocketHandle& binding = FData.OpenActive(DataChannelProtected());
  AnnounceDataPort(FExternalIP.empty() ? binding.IP() : FExternalIP, binding.Port(),
                   binding.IPVersion());
}

} // namespace ftpc
