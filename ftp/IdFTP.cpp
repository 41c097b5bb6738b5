// TIdFTP: construction, the connect sequence, the orderly end, abort, the property setters,
// the login variants and the feature discovery.
#include "ftp/IdFTP.h"

#include "core/IdIOHandlerSocket.h"
#include "base/IdResourceStrings.h"
#include "global/IdGlobalProtocols.h"
#include "hash/IdOTPCalculator.h"
#include "proxy/IdSocks.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {

namespace {

constexpr uint16_t kFTPPort = 21;
constexpr uint16_t kFTPImplicitTLSPort = 990;
constexpr int32_t kControlReadTimeout = 60000;
// How long the goodbye waits for the server's answer to QUIT.
constexpr int32_t kQuitReplyWaitMs = 10;
constexpr int16_t kCodeReady = 220;

// Set while Abort writes ABOR on its own thread: that write runs beside the transfer, whose
// progress counters belong to the transferring thread; it must neither count nor report work.
thread_local bool tWritingAbort = false;

// Sets tWritingAbort for as long as it lives, however the write ends.
class TWritingAbortScope {
public:
  TWritingAbortScope() { tWritingAbort = true; }
  ~TWritingAbortScope() { tWritingAbort = false; }
  TWritingAbortScope(const TWritingAbortScope&) = delete;
  TWritingAbortScope& operator=(const TWritingAbortScope&) = delete;
};

} // namespace

// ---- Construction ------------------------------------------------------------------------

TIdFTP::TIdFTP(TIdInitializerComponent* AOwner)
    : TIdExplicitTLSClient(AOwner, TIdReplyFTP::ReplyClass()),
      FClientInfo(std::make_unique<TIdFTPClientIdentifier>()),
      FLoginMsg(std::make_unique<TIdReplyFTP>()),
      FProxySettings(std::make_unique<TIdFtpProxySettings>()),
      FTZInfo(std::make_unique<TIdFTPTZInfo>()) {
  FRegularProtPort = kFTPPort;
  FImplicitTLSProtPort = kFTPImplicitTLSPort;
  SetPort(kFTPPort);
  SetPassive(false);
  SetReadTimeout(kControlReadTimeout);
  FData.SetAbortWriter([this] {
    if (IOHandler() != nullptr && IOHandler()->Opened()) {
      SendAbortLine();
    }
  });
}

// Only the watch on the compressor is dropped: a destructor never talks to the server, and a
// MODE S refused here would end the program.
TIdFTP::~TIdFTP() {
  if (FCompressor != nullptr) {
    FCompressor->RemoveFreeNotification(this);
    FCompressor = nullptr;
  }
}

// ---- Connect and disconnect --------------------------------------------------------------

void TIdFTP::ResetConnectionState() {
  FCurrentTransferMode = dmStream;
  FTZInfo->SetGMTOffsetAvailable(false);
  FSSCNOn = false;
  FUsingSFTP = false;
  FUsingCCC = false;
  if (FUseExtensionDataPort) {
    FUsingExtDataPort = true;
  }
  FUsingNATFastTrack = false;
  FCapabilities.clear();
}

void TIdFTP::ConnectControlChannel() {
  const std::string host = Host();
  const TIdPort port = Port();
  const TIdFtpProxyType proxyType = FProxySettings->ProxyType();
  if (proxyType != fpcmNone && proxyType != fpcmTransparent && !FProxySettings->Host().empty()) {
    SetHost(FProxySettings->Host());
    SetPort(FProxySettings->Port());
  }
  if (FUseTLS == utUseImplicitTLS) {
    FUsingSFTP = true;
  }
  try {
    TIdExplicitTLSClient::Connect();
  } catch (...) {
    SetHost(host);
    SetPort(port);
    throw;
  }
  SetHost(host);
  SetPort(port);
}

// "220 Service ready", possibly after one "120 Service ready in nnn minutes".
void TIdFTP::ReadGreeting() {
  GetResponse();
  const int code = LastCmdResult().NumericCode();
  if (code >= 100 && code <= 199) {
    if (FOnBannerWarning) {
      FOnBannerWarning(this, LastCmdResult().FormattedText());
    }
    GetResponse();
  }
  CheckResponse(static_cast<int16_t>(LastCmdResult().NumericCode()), {kCodeReady});
  SetGreeting(LastCmdResult());
}

// HOST (RFC 7151) names the virtual host; an address literal goes in brackets.
void TIdFTP::SendHost() {
  const TIdSocketHandle* binding = Socket() != nullptr ? Socket()->Binding() : nullptr;
  const bool isLiteral = binding != nullptr && Host() == binding->PeerIP();
  SendCmdLine(isLiteral ? "HOST [" + Host() + "]" : "HOST " + Host());
  if (GetResponse() == kCodeReady) {
    SetGreeting(LastCmdResult());
  }
}

void TIdFTP::SendSyst() {
  if (SendCmd("SYST") == 500) {
    FSystemDesc = std::string(RSFTPUnknownSystem);
  } else {
    FSystemDesc = LastCmdResult().FirstTextLine();
  }
}

// "210 UTC-300"; an unreadable zone leaves the offset unknown: SITE ZONE never fails the
// connect.
void TIdFTP::SendSiteZone() {
  if (SendCmd("SITE ZONE") != 210 || LastCmdResult().Text().empty()) {
    return;
  }
  if (const std::optional<TDateTime> offset = ZoneOffsetFromReply(LastCmdResult().FirstTextLine())) {
    FTZInfo->SetGMTOffset(*offset);
    FTZInfo->SetGMTOffsetAvailable(true);
  }
}

void TIdFTP::Connect() {
  ResetConnectionState();
  bool greeted = false;
  try {
    ConnectControlChannel();
    IOHandler()->SetDefStringEncoding(Latin1Encoding());
    ReadGreeting();
    greeted = true;
    if (FUseHOST) {
      SendHost();
    }
    if (FOnBannerBeforeLogin) {
      FOnBannerBeforeLogin(this, Greeting().FormattedText());
    }
    if (FAutoLogin) {
      LoginAfterConnect();
    } else {
      SendSyst();
      if (FAutoIssueFEAT) {
        DiscoverFeatures();
      }
    }
  } catch (...) {
    try {
      Disconnect(greeted);
    } catch (const std::exception&) {
      // The connect's own failure is the one the caller must see.
    }
    throw;
  }
}

void TIdFTP::LoginAfterConnect() {
  Login();
  if (FOnAfterClientLogin) {
    FOnAfterClientLogin(this);
  }
  if (FTryNATFastTrack) {
    DoTryNATFastTrack();
  }
  SendSyst();
  if (ServerHasSiteZone()) {
    SendSiteZone();
  }
  SendTransferType(FTransferType);
  ReportStatus(ftpReady, {RSFTPStatusReady});
}

void TIdFTP::DisconnectNotifyPeer() {
  if (IOHandler() == nullptr || !IOHandler()->Connected()) {
    return;
  }
  IOHandler()->WriteLn("QUIT");
  // Connected() reads what has arrived: a quick 221 may be in the buffer already, and the
  // socket then stays quiet until the server closes.
  if (IOHandler()->Connected() &&
      (!IOHandler()->InputBufferIsEmpty() || IOHandler()->Readable(kQuitReplyWaitMs))) {
    GetInternalResponse();
  }
}

void TIdFTP::KillDataChannel() { FData.Kill(); }

// While a transfer runs, its thread owns the control connection's input: this thread only
// writes ABOR and must not read (Connected() would).
void TIdFTP::Abort() {
  if (FData.AbortTransfer()) {
    return;
  }
  if (Connected()) {
    SendAbortLine();
  }
  GetResponse();
}

void TIdFTP::SendAbortLine() {
  const TWritingAbortScope scope;
  SendCmdLine("ABOR");
}

void TIdFTP::DoWork(TWorkMode AWorkMode, int64_t ACount) {
  if (!tWritingAbort) {
    TIdExplicitTLSClient::DoWork(AWorkMode, ACount);
  }
}

// ---- Setters -----------------------------------------------------------------------------

void TIdFTP::SetPassive(bool AValue) {
  if (!AValue && FTryNATFastTrack) {
    throw EIdFTPPassiveMustBeTrueWithNATFT(std::string(RSFTPPassiveMustBeTrueWithNATFT));
  }
  FPassive = AValue;
}

void TIdFTP::SetUseExtensionDataPort(bool AValue) {
  if (!AValue && IPVersion() == Id_IPv6) {
    throw EIdFTPMustUseExtWithIPv6(std::string(RSFTPMustUseExtWithIPv6));
  }
  if (!AValue && FTryNATFastTrack) {
    throw EIdFTPMustUseExtWithNATFastTrack(std::string(RSFTPMustUseExtWithNATFastTrack));
  }
  FUseExtensionDataPort = AValue;
}

void TIdFTP::SetTryNATFastTrack(bool AValue) {
  FTryNATFastTrack = AValue;
  if (AValue) {
    FPassive = true;
    FUseExtensionDataPort = true;
  }
}

void TIdFTP::SetTransferType(TIdFTPTransferType AValue) {
  if (AValue == FTransferType || FData.Channel() != nullptr) {
    return;
  }
  // A type the server refused is not recorded: the server stays in the type it had.
  if (Connected()) {
    SendTransferType(AValue);
  }
  FTransferType = AValue;
}

void TIdFTP::SendTransferType(TIdFTPTransferType AValue) {
  switch (AValue) {
  case ftASCII:
    SendCmd("TYPE A", {200});
    return;
  case ftBinary:
    SendCmd("TYPE I", {200});
    return;
  }
  throw EIdFTPUnsupportedTransferType(std::string(RSFTPUnsupportedTransferType));
}

void TIdFTP::SetIPVersion(TIdIPVersion AValue) {
  if (AValue == IPVersion()) {
    return;
  }
  TIdExplicitTLSClient::SetIPVersion(AValue);
  if (AValue == Id_IPv6) {
    SetUseExtensionDataPort(true);
  }
}

void TIdFTP::SetIOHandler(TIdIOHandler* AValue) {
  TIdExplicitTLSClient::SetIOHandler(AValue);
  if (AValue == nullptr) {
    return;
  }
  auto* socket = dynamic_cast<TIdIOHandlerSocket*>(AValue);
  if (socket == nullptr) {
    throw EIdFTPWrongIOHandler(std::string(RSFTPWrongIOHandler));
  }
  if (socket->IPVersion() == Id_IPv6) {
    FUseExtensionDataPort = true;
  }
}

void TIdFTP::SetUseTLS(TIdUseTLS AValue) {
  TIdExplicitTLSClient::SetUseTLS(AValue);
  if (AValue == utNoTLSSupport) {
    FDataPortProtection = ftpdpsClear;
    FUseCCC = false;
    FAUTHCmd = tAuto;
  }
}

void TIdFTP::SetDataPortProtection(TIdFTPDataPortSecurity AValue) {
  if (AValue == FDataPortProtection) {
    return;
  }
  if (FUseTLS == utNoTLSSupport) {
    throw EIdFTPNoDataPortProtectionWOEncryption(
        std::string(RSFTPNoDataPortProtectionWOEncryption));
  }
  if (FUsingCCC) {
    throw EIdFTPNoDataPortProtectionAfterCCC(std::string(RSFTPNoDataPortProtectionAfterCCC));
  }
  FDataPortProtection = AValue;
}

void TIdFTP::SetAUTHCmd(TAuthCmd AValue) {
  if (AValue == FAUTHCmd) {
    return;
  }
  if (FUseTLS == utNoTLSSupport) {
    throw EIdFTPNoAUTHWOSSL(std::string(RSFTPNoAUTHWOSSL));
  }
  if (FUsingSFTP) {
    throw EIdFTPCanNotSetAUTHCon(std::string(RSFTPCanNotSetAUTHCon));
  }
  FAUTHCmd = AValue;
}

void TIdFTP::SetUseCCC(bool AValue) {
  if (FUseTLS == utNoTLSSupport) {
    throw EIdFTPNoCCCWOEncryption(std::string(RSFTPNoCCCWOEncryption));
  }
  FUseCCC = AValue;
}

void TIdFTP::SetCompressor(TIdZLibCompressorBase* AValue) {
  if (AValue == FCompressor) {
    return;
  }
  if (FCompressor != nullptr) {
    FCompressor->RemoveFreeNotification(this);
  }
  FCompressor = AValue;
  if (FCompressor != nullptr) {
    FCompressor->FreeNotification(this);
  } else if (Connected()) {
    TransferMode(dmStream);
  }
}

void TIdFTP::Notification(TIdInitializerComponent* AComponent, TOperation AOperation) {
  TIdExplicitTLSClient::Notification(AComponent, AOperation);
  if (AOperation == opRemove && AComponent != nullptr && AComponent == FCompressor) {
    FCompressor = nullptr;
    // This runs inside the compressor's destructor, which must not raise. When MODE S fails the
    // session stays in MODE Z without a compressor, and the next transfer reports that.
    try {
      if (Connected()) {
        TransferMode(dmStream);
      }
    } catch (const std::exception&) {
    }
  }
}

void TIdFTP::NotifyBeforeGet() {
  if (FOnBeforeGet) {
    FOnBeforeGet(this);
  }
}

void TIdFTP::NotifyBeforePut(TStream& AStream) {
  if (FOnBeforePut) {
    FOnBeforePut(this, AStream);
  }
}

void TIdFTP::NotifyAfterGet(TStream& AStream) {
  if (FOnAfterGet) {
    FOnAfterGet(this, AStream);
  }
}

void TIdFTP::NotifyAfterPut() {
  if (FOnAfterPut) {
    FOnAfterPut(this);
  }
}

// "EPSV ALL" (RFC 2428) tells NAT devices that no PORT will follow.
void TIdFTP::DoTryNATFastTrack() {
  if (!IsExtSupported("EPSV")) {
    return;
  }
  if (SendCmd("EPSV ALL") == 229) {
    SendCmd("ABOR");
  }
  FUsingNATFastTrack = true;
}

void TIdFTP::TransferMode(TIdFTPTransferMode ATransferMode) {
  if (ATransferMode == FCurrentTransferMode) {
    return;
  }
  std::string argument = "S";
  if (ATransferMode == dmDeflate) {
    if (FCompressor == nullptr) {
      throw EIdFTPMissingCompressor(std::string(RSFTPMissingCompressor));
    }
    if (CapabilityLineIndexExact(FCapabilities, "MODE Z") < 0) {
      throw EIdFTPUnsupportedTransferMode(std::string(RSFTPUnsupportedTransferMode));
    }
    argument = "Z";
  }
  SendCmd("MODE " + argument, {200});
  FCurrentTransferMode = ATransferMode;
}

// ---- Login -------------------------------------------------------------------------------

std::string TIdFTP::GetLoginPassword() { return GetLoginPassword(LastCmdResult().JoinedText()); }

// An "otp-md5 499 ke1234" challenge (RFC 2289) is answered with the six-word response.
std::string TIdFTP::GetLoginPassword(const std::string& APrompt) {
  if (TIdOTPCalculator::IsValidOTPString(APrompt)) {
    std::string response;
    if (TIdOTPCalculator::GenerateSixWordKey(APrompt, Password(), response)) {
      return response;
    }
  }
  return Password();
}

std::string TIdFTP::HostPortText() const {
  return Port() == kFTPPort ? Host() : Host() + ":" + std::to_string(Port());
}

void TIdFTP::NegotiateAUTH() {
  if (FAUTHCmd != tAuto) {
    const int16_t code = SendCmd(std::string("AUTH ") + kFTPAuthArguments[FAUTHCmd - tAuthTLS]);
    if (code == 234 || code == 334) {
      StartControlTLS();
    } else {
      ProcessTLSNegCmdFailed();
    }
    return;
  }
  for (const char* argument : kFTPAuthArguments) {
    const int16_t code = SendCmd(std::string("AUTH ") + argument);
    if (code == 234 || code == 334) {
      StartControlTLS();
      return;
    }
    if (code < 500 || code > 999) {
      ProcessTLSNegCmdFailed();
      return;
    }
  }
}

// A handshake that failed but was let go on leaves the control connection plain: UsingSFTP
// stays false, so that the not-available handling is asked and no PBSZ/PROT follow.
void TIdFTP::StartControlTLS() { FUsingSFTP = TLSHandshake(); }

// ACCT (RFC 959) when the server asks for an account with 332, or mentions one while the
// application has set one.
void TIdFTP::SendAccountIfNeeded() {
  const bool needed =
      LastCmdResult().NumericCode() == 332 ||
      (LastCmdResult().JoinedText().find("ACCOUNT") != std::string::npos && !FAccount.empty());
  if (!needed) {
    return;
  }
  if (FAccount.empty() && FOnNeedAccount) {
    FOnNeedAccount(this, FAccount);
  }
  if (FAccount.empty()) {
    RaiseExceptionForLastCmdResult();
  }
  SendCmd("ACCT " + FAccount, {202, 230, 500});
}

// USER, then PASS with APassword (computed after the 331) when asked, then the account step.
void TIdFTP::LoginAs(const std::string& AUserLine, const TIdReplyCodes& AUserCodes,
                     const std::function<std::string()>& APassword,
                     const TIdReplyCodes& APassCodes, bool AAccountStep) {
  if (SendCmd(AUserLine, AUserCodes) != 331) {
    return;
  }
  SendCmd("PASS " + APassword(), APassCodes);
  if (AAccountStep) {
    SendAccountIfNeeded();
  }
}

void TIdFTP::LoginToServer() {
  LoginAs("USER " + Username(), {230, 232, 331}, [this] { return GetLoginPassword(); },
          {230, 332}, true);
}

void TIdFTP::LoginToProxy(const std::function<std::string()>& APassword,
                          const TIdReplyCodes& APassCodes, bool AAccountStep) {
  if (!FProxySettings->UserName().empty()) {
    LoginAs("USER " + FProxySettings->UserName(), {230, 331}, APassword, APassCodes,
            AAccountStep);
  }
}

void TIdFTP::RunLoginVariant() {
  const std::string proxyUser = FProxySettings->UserName();
  const std::string proxyPassword = FProxySettings->Password();
  auto proxyPass = [proxyPassword] { return proxyPassword; };
  auto loginPass = [this] { return GetLoginPassword(); };
  switch (FProxySettings->ProxyType()) {
  case fpcmNone:
    LoginToServer();
    return;
  case fpcmUserSite:
    LoginToProxy(proxyPass, {230}, true);
    LoginAs("USER " + Username() + "@" + HostPortText(), {230, 232, 331}, loginPass, {230, 331},
            true);
    return;
  case fpcmSite:
    LoginToProxy(proxyPass, {230}, false);
    SendCmd("SITE " + HostPortText());
    LoginToServer();
    return;
  case fpcmOpen:
    LoginToProxy(loginPass, {230, 332}, true);
    SendCmd("OPEN " + HostPortText());
    LoginToServer();
    return;
  case fpcmUserPass:
    LoginAs(FormatInvariant("USER %s@%s@%s", {Username(), proxyUser, HostPortText()}),
            {230, 232, 331},
            [this, proxyPassword] {
              const std::string pwd = GetLoginPassword();
              return proxyPassword.empty() ? pwd : pwd + "@" + proxyPassword;
            },
            {230, 332}, true);
    return;
  case fpcmTransparent:
    LoginToProxy(proxyPass, {230, 332}, false);
    LoginToServer();
    return;
  case fpcmUserHostFireWallID:
    LoginThroughFirewallID(proxyUser, proxyPassword);
    return;
  case fpcmNovellBorder:
    LoginThroughNovellBorder(proxyUser);
    return;
  case fpcmHttpProxyWithFtp:
    throw EIdSocksServerCommandError(std::string(RSSocksServerCommandError));
  case fpcmCustomProxy:
    if (!FOnCustomFTPProxy) {
      throw EIdFTPOnCustomFTPProxyRequired(std::string(RSFTPOnCustomFTPProxyReq));
    }
    FOnCustomFTPProxy(this);
    return;
  }
}

void TIdFTP::LoginThroughFirewallID(const std::string& AProxyUser,
                                    const std::string& AProxyPassword) {
  if (SendCmd(Trim("USER " + Username() + "@" + HostPortText() + " " + AProxyUser),
              {230, 331}) != 331) {
    return;
  }
  if (SendCmd("PASS " + GetLoginPassword(), {230, 232, 202, 332}) == 332) {
    SendCmd("ACCT " + AProxyPassword, {230, 232, 332});
    SendAccountIfNeeded();
  }
}

void TIdFTP::LoginThroughNovellBorder(const std::string& AProxyUser) {
  if (SendCmd(Trim("USER " + AProxyUser + "$" + Username() + "$" + HostPortText()),
              {230, 331}) != 331) {
    return;
  }
  if (SendCmd("PASS " + AProxyUser + "$" + GetLoginPassword(), {230, 232, 202, 332}) == 332) {
    SendAccountIfNeeded();
  }
}

// An implicitly secured connection is under TLS from its first byte: it keeps UsingSFTP
// (also for a Login called by the application after Connect) and is never "TLS not available".
void TIdFTP::Login() {
  FUsingSFTP = FUseTLS == utUseImplicitTLS;
  if (FUseTLS == utUseRequireTLS || FUseTLS == utUseExplicitTLS) {
    NegotiateAUTH();
  }
  if (!FUsingSFTP) {
    ProcessTLSNotAvail();
  }
  RunLoginVariant();
  FLoginMsg->Assign(LastCmdResult());
  if (FOnBannerAfterLogin) {
    FOnBannerAfterLogin(this, FLoginMsg->FormattedText());
  }
  if (FAutoIssueFEAT) {
    DiscoverFeatures();
  }
  SendTransferType(FTransferType);
}

// ---- Features (RFC 2389) -----------------------------------------------------------------

void TIdFTP::DiscoverFeatures() {
  const int16_t code = SendCmd("FEAT");
  FCapabilities.clear();
  if (code == 211 || code == 221) {
    FCapabilities = CapabilitiesFromFeatReply(LastCmdResult().Text());
  }
  if (FUsingExtDataPort) {
    FUsingExtDataPort = IsExtSupported("EPRT") && IsExtSupported("EPSV");
  }
  FCanUseMLS = IsExtSupported("MLSD") || IsExtSupported("MLST");
  ExtractFeatFacts("LANG", FLangsSupported);
  const std::string clnt = FClientInfo->ClntOutput();
  if (!clnt.empty() && IsExtSupported("CLNT")) {
    SendCmd("CLNT " + clnt);
  }
  if (IsExtSupported("UTF8")) {
    // RFC 2640 servers answer "OPTS UTF8 ON"; some older ones only "OPTS UTF-8 NLST".
    if (SendCmd("OPTS UTF8 ON") == 200 || SendCmd("OPTS UTF-8 NLST") == 200) {
      IOHandler()->SetDefStringEncoding(UTF8Encoding());
    }
  }
}

bool TIdFTP::IsExtSupported(const std::string& ACmd) const {
  return CapabilityListed(FCapabilities, ACmd);
}

void TIdFTP::ExtractFeatFacts(const std::string& ACmd, std::vector<std::string>& AResults) const {
  AResults = CapabilityFacts(FCapabilities, ACmd);
}

int TIdFTP::FeatLineIndex(const std::string& AFeatLine) const {
  return CapabilityLineIndex(FCapabilities, AFeatLine);
}

void TIdFTP::SetCmdOpt(const std::string& ACMD, const std::string& AOptions) {
  SendCmd("OPTS " + ACMD + " " + AOptions, {200});
}

void TIdFTP::SetLang(const std::string& ALangTag) {
  if (IsExtSupported("LANG")) {
    SendCmd("LANG " + ALangTag, {200});
  }
}

bool TIdFTP::SupportsVerification() {
  return Connected() &&
         (IsExtSupported("XSHA1") || IsExtSupported("XMD5") || IsExtSupported("XCRC"));
}

bool TIdFTP::SupportsTLS() { return CapabilitiesOfferTLS(FCapabilities); }

bool TIdFTP::GreetingStartsWith(std::string_view APrefix) {
  return TextHasPrefix(Greeting().FirstTextLine(), APrefix);
}

bool TIdFTP::GreetingIsServU() { return GreetingStartsWith("Serv-U "); }

bool TIdFTP::GreetingIsBPFTP() { return GreetingStartsWith("BPFTP Server "); }

bool TIdFTP::GreetingIsTitan() {
  return GreetingStartsWith("TitanFTP server ") || GreetingStartsWith("Titan FTP Server ");
}

bool TIdFTP::IsServerMDTZAndListTForm() {
  return GreetingIsServU() || GreetingIsBPFTP() || GreetingIsTitan();
}

bool TIdFTP::ServerHasSiteZone() {
  if (IsServerMDTZAndListTForm()) {
    return true;
  }
  std::vector<std::string> facts;
  ExtractFeatFacts("SITE", facts);
  return IndexOfText("ZONE", facts, false) >= 0;
}

} // namespace ftpc
