// TIdFTP: the FTP client session. One object holds one control connection and, during a
// transfer, one data connection. The session's commands are split by concern:
//   IdFTP.cpp             construction, Connect/Disconnect, Abort, setters, login, features
//   IdFTPDataChannel.cpp  the data-port commands: PASV/EPSV/CPSV, PORT/EPRT, PBSZ/PROT/CCC
//   IdFTPTransfer.cpp     Get/Put/StoreUnique, the transfer engines, server-to-server copies
//   IdFTPCommands.cpp     the remote file and directory commands
// The data connection's life (creation, the abort hand-off, the wrap-up of every transfer) is
// TIdFTPDataConnection's; what a reply says is read by the free functions of
// IdFTPReplyParsers.h.
//   IdFTPListing.cpp      LIST/NLST/MLSD/MLST and the parsed directory listing
//   IdFTPVerify.cpp       digest checks of remote files (XSHA1/XMD5/XCRC) and COMB
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/IdReplyFTP.h"
#include "base/IdThreadSafe.h"
#include "ftp/IdExplicitTLSClientServerBase.h"
#include "ftp/IdFTPCommon.h"
#include "ftp/IdFTPDataConnection.h"
#include "ftp/IdFTPReplyParsers.h"
#include "ftp/IdFTPSiteToSite.h"
#include "ftp/IdFTPListParseBase.h"
#include "ftp/IdFTPListTypes.h"
#include "ftp/IdZLibCompressorBase.h"
#include "global/IdStream.h"

namespace ftpc {

class TIdSocketHandle;

// ---- Exceptions ------------------------------------------------------------------------
FTPC_DECLARE_EXCEPTION(EIdFTPException, EIdException);
FTPC_DECLARE_EXCEPTION(EIdFTPWrongIOHandler, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPFileAlreadyExists, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPUploadFileNameCanNotBeEmpty, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPMissingCompressor, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPCompressorNotReady, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPUnsupportedTransferMode, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPUnsupportedTransferType, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPServerSentInvalidPort, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPServerSentInvalidAddress, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPPassiveMustBeTrueWithNATFT, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPMustUseExtWithIPv6, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPMustUseExtWithNATFastTrack, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPOnCustomFTPProxyRequired, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPSToSNATFastTrack, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPSToSIPProtoMustBeSame, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPSToSTransModesMustBeSame, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPSToSNoDataProtection, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPDataPortProtection, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPNoDataPortProtectionWOEncryption, EIdFTPDataPortProtection);
FTPC_DECLARE_EXCEPTION(EIdFTPNoDataPortProtectionAfterCCC, EIdFTPDataPortProtection);
FTPC_DECLARE_EXCEPTION(EIdFTPAUTHException, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdFTPNoAUTHWOSSL, EIdFTPAUTHException);
FTPC_DECLARE_EXCEPTION(EIdFTPCanNotSetAUTHCon, EIdFTPAUTHException);
FTPC_DECLARE_EXCEPTION(EIdFTPNoCCCWOEncryption, EIdFTPException);
FTPC_DECLARE_EXCEPTION(EIdTLSClientException, EIdException);
FTPC_DECLARE_EXCEPTION(EIdTLSClientCanNotSetWhileConnected, EIdTLSClientException);
FTPC_DECLARE_EXCEPTION(EIdTLSClientSSLIOHandlerRequred, EIdTLSClientException);
FTPC_DECLARE_EXCEPTION(EIdTLSClientTLSHandShakeFailed, EIdTLSClientException);
FTPC_DECLARE_EXCEPTION(EIdTLSClientTLSNotAvailable, EIdTLSClientException);

// ---- Events ----------------------------------------------------------------------------
using TIdFTPBannerEvent = std::function<void(TObject* ASender, const std::string& AMsg)>;
using TIdFtpAfterGet = std::function<void(TObject* ASender, TStream& AStream)>;
using TIdNeedAccountEvent = std::function<void(TObject* ASender, std::string& VAcct)>;
// Lets the application put a collection of its own in VFTPList before a listing is parsed.
using TIdCreateFTPList =
    std::function<void(TObject* ASender, std::unique_ptr<TIdFTPListItems>& VFTPList)>;

class TIdFTP : public TIdExplicitTLSClient {
public:
  explicit TIdFTP(TIdInitializerComponent* AOwner = nullptr);
  // Closes the control connection without QUIT; sends nothing.
  ~TIdFTP() override;
  std::string ClassName() const override { return "TIdFTP"; }

  // Every command below raises the reply error (EIdReplyRFCError, with the server's code and
  // text) when the reply's code is not among the ones named, and the connection's own errors
  // (EIdNotConnected, EIdConnClosedGracefully, EIdReadTimeout, EIdSocketError) when the
  // control connection fails.

  // ---- Connection (IdFTP.cpp) ----------------------------------------------------------
  // Connects (to the FTP proxy's host and port for a proxy that needs one), reads the greeting
  // (accepted 220, after at most one 1xx passed to OnBannerWarning), sends HOST (any reply; a
  // 220 replaces the greeting), then Login, "EPSV ALL" with TryNATFastTrack, SYST, SITE ZONE
  // and TYPE when AutoLogin; otherwise SYST and FEAT. On any failure the connection is closed
  // (with QUIT when the greeting was accepted) and the failure passes on.
  void Connect() override;
  using TIdTCPClientCustom::Connect;
  // QUIT (a reply read when one comes within 10 ms), then close; Disconnect(true).
  void Quit() { Disconnect(true); }
  // Writes ABOR. While a transfer runs (on another thread), it also sets the abort flag and
  // shuts the data connection down; the transfer's wrap-up then reads the replies to ABOR.
  // During the transfer's set-up (before its data command is out and its data connection
  // exists) nothing is written: the request is kept, and the transfer ends before its data
  // command, or writes ABOR itself right behind it. Without a transfer it reads one reply, any
  // code accepted. Raises the control connection's write errors (the data connection is shut
  // down all the same).
  virtual void Abort();
  // Shuts the data connection, if any, down without notifying the peer; the transfer's
  // wrap-up closes and frees it. Safe from another thread; sends nothing.
  virtual void KillDataChannel();
  // Progress of the data connection; the ABOR line Abort writes from another thread is not.
  void DoWork(TWorkMode AWorkMode, int64_t ACount) override;

  // ---- Login (IdFTP.cpp) ---------------------------------------------------------------
  // AUTH TLS/SSL/TLS-C/TLS-P (234 or 334 starts TLS) when TLS is set up, then USER (230, 232
  // or 331), PASS (230 or 332) and ACCT (202, 230 or 500) in the form the FTP proxy type
  // asks for, then FEAT when AutoIssueFEAT and TYPE (200). Raises the reply error for a refused
  // user name, password or account, EIdFTPOnCustomFTPProxyRequired for fpcmCustomProxy without
  // OnCustomFTPProxy, and the TLS failures of the explicit-TLS client.
  void Login();
  // The password for the last reply (or APrompt): the OTP six-word response to an "otp-"
  // challenge, otherwise Password. Sends nothing.
  std::string GetLoginPassword();
  std::string GetLoginPassword(const std::string& APrompt);

  // ---- Features (IdFTP.cpp) ------------------------------------------------------------
  // FEAT (211 or 221 fill the capability list, any other code empties it), then CLNT and
  // "OPTS UTF8 ON" / "OPTS UTF-8 NLST" (a 200 switches the control connection to UTF-8) where
  // the server lists them; none of these replies raises.
  void DiscoverFeatures();
  // Whether a capability line's first word is ACmd, ignoring case. Sends nothing.
  bool IsExtSupported(const std::string& ACmd) const;
  // The ";"-separated facts of the ACmd capability line (empty when none). Sends nothing.
  void ExtractFeatFacts(const std::string& ACmd, std::vector<std::string>& AResults) const;
  // 0-based index of the matching capability line (by first word, or the whole line when
  // AFeatLine holds a space), -1 when none. Sends nothing.
  int FeatLineIndex(const std::string& AFeatLine) const;
  // "OPTS ACMD AOptions", accepted 200.
  void SetCmdOpt(const std::string& ACMD, const std::string& AOptions);
  // "LANG ALangTag", accepted 200, only when the server lists LANG.
  void SetLang(const std::string& ALangTag);
  // Connected, and the server lists XSHA1, XMD5 or XCRC.
  bool SupportsVerification();
  // The server's AUTH capability line names TLS, SSL, TLS-C or TLS-P.
  bool SupportsTLS() override;
  // Greeting tests on the first line of the greeting's text; they send nothing.
  bool GreetingIsServU();
  bool GreetingIsBPFTP();
  bool GreetingIsTitan();
  // One of the three greetings above.
  bool IsServerMDTZAndListTForm();
  // One of those greetings, or "ZONE" among the facts of the SITE capability line.
  bool ServerHasSiteZone();

  // ---- Transfers (IdFTPTransfer.cpp) -----------------------------------------------------
  // Every transfer opens its data connection first: PRET where listed, then PASV or EPSV
  // (227 or 229) when Passive, else PORT or EPRT (200); under TLS PBSZ and PROT (200) come
  // first. A data command's final reply must be 226, 225 or 250. Raises
  // EIdFTPMissingCompressor / EIdFTPCompressorNotReady in MODE Z without a ready compressor,
  // EIdFTPServerSentInvalidAddress / EIdFTPServerSentInvalidPort for a bad passive address,
  // EIdAcceptTimeout when the server does not connect within ListenTimeout, and the local
  // stream's errors. An Abort from another thread ends the transfer without an error.

  // "RETR ASourceFile" (preliminary 125, 150 or 154; passive also 450, which raises the reply
  // error after the wrap-up), after "REST position" (350) when resuming and REST works; the
  // bytes go to ADest from its position.
  void Get(const std::string& ASourceFile, TStream& ADest, bool AResume = false);
  // Get into a local file, created, replaced (ACanOverwrite) or appended to (AResume). Raises
  // EIdFTPFileAlreadyExists before sending anything when the file exists and may be neither
  // overwritten nor resumed, and the file's open errors.
  void Get(const std::string& ASourceFile, const std::string& ADestFile,
           bool ACanOverwrite = false, bool AResume = false);
  // "STOR ADestFile" with the whole stream, or "APPE ADestFile" from the stream's position
  // (preliminary 110, 125 or 150). Raises EIdFTPUploadFileNameCanNotBeEmpty for an empty name.
  void Put(TStream& ASource, const std::string& ADestFile, bool AAppend = false);
  // Uploads a local file; an empty ADestFile means the file-name part of ASourceFile.
  void Put(const std::string& ASourceFile, const std::string& ADestFile = "",
           bool AAppend = false);
  // "STOU" (preliminary 110, 125 or 150): the server chooses the name. Returns that name as
  // the preliminary reply gives it ("150 FILE: name", RFC 1123 4.1.2.9), or "" when the reply
  // names no file.
  std::string StoreUnique(TStream& ASource);
  std::string StoreUnique(const std::string& ASourceFile);
  // "REST 1" (350 means yes) and "REST 0", both any code, once per object; the answer is kept.
  bool ResumeSupported();
  bool CanResume() { return ResumeSupported(); }
  // "MODE S" or "MODE Z" (200), only when the mode changes. Raises EIdFTPMissingCompressor
  // without a compressor and EIdFTPUnsupportedTransferMode when FEAT did not list "MODE Z".
  void TransferMode(TIdFTPTransferMode ATransferMode);
  // Copies ASourceFile from this server to AToSite's as ADestFile (the same name when empty):
  // the destination is asked for a passive address (PASV/EPSV, 227 or 229), this side is told
  // to connect there (PORT/EPRT, 200), then STOR and RETR with their replies. Under TLS, with
  // PROT P, "SSCN ON" (200) goes to this server or else to the destination where listed;
  // without it the destination gets CPSV (227) and this side PORT (IPv4 only); PBSZ/PROT come
  // first on both sides. Raises, before sending anything, EIdFTPSToSNATFastTrack,
  // EIdFTPSToSIPProtoMustBeSame, EIdFTPSToSTransModesMustBeSame or EIdFTPSToSNoDataProtection
  // when the sessions do not fit; a refusal on one side gets ABOR on the other.
  void SiteToSiteUpload(TIdFTP& AToSite, const std::string& ASourceFile,
                        const std::string& ADestFile = "");
  // The same copy from AFromSite's server to this one; this side is the active one.
  void SiteToSiteDownload(TIdFTP& AFromSite, const std::string& ASourceFile,
                          const std::string& ADestFile = "");

  // ---- Remote commands (IdFTPCommands.cpp) -----------------------------------------------
  // "NOOP", accepted 200.
  void Noop();
  // "CWD ADirName", accepted 200 or 250.
  void ChangeDir(const std::string& ADirName);
  // "CDUP", accepted 200 or 250.
  void ChangeDirUp();
  // "MKD ADirName", accepted 257.
  void MakeDir(const std::string& ADirName);
  // "RMD ADirName", accepted 250.
  void RemoveDir(const std::string& ADirName);
  // "DELE AFilename", accepted 250.
  void Delete(const std::string& AFilename);
  // "RNFR ASourceFile" (350), then "RNTO ADestFile" (250).
  void Rename(const std::string& ASourceFile, const std::string& ADestFile);
  // "PWD", accepted 257; the directory between the reply's first two double quotes.
  std::string RetrieveCurrentDir();
  // "SITE ACommand", accepted 200.
  void Site(const std::string& ACommand);
  // ACommand as it is, any code accepted; returns the code.
  int16_t Quote(const std::string& ACommand);
  // "ALLO AAllocateBytes", accepted 200.
  void Allocate(int64_t AAllocateBytes);
  // "STRU F", "STRU R" or "STRU P", accepted 200 or 500.
  void FileStructure(TIdFTPDataStructure AStructure);
  // "SMNT APath", accepted 202, 250 or 500.
  void StructureMount(const std::string& APath);
  // "STAT", accepted 211, 212, 213 or 500; the reply's text lines unless 500.
  void Status(std::vector<std::string>& AStatusList);
  // "HELP" or "HELP ACommand", accepted 211, 214 or 500; the reply's text lines unless 500.
  void Help(std::vector<std::string>& AHelpContents, const std::string& ACommand = "");
  // Waits ADelay ms, then "REIN", accepted 120, 220 or 500; unless 500, the login state (user,
  // password, resume probe, Passive, TYPE, explicit TLS) is forgotten.
  void ReInitialize(int32_t ADelay = 10);
  // "SIZE AFileName" in binary type (TYPE I before, and the old type back after, when
  // needed), any code accepted; the size of a 213 reply, -1 otherwise.
  int64_t Size(const std::string& AFileName);
  // "MDTM AFileName", any code accepted; the time of a 213 reply, as local time or (AsGMT)
  // UTC; 0 otherwise.
  TDateTime FileDate(const std::string& AFileName, bool AsGMT = false);
  // "MFMT stamp AFileName" (213) where listed, else "MDTM stamp AFileName" in the form the
  // server knows (253 or 213); the stamp is ALocalTime as the server's time zone wants it.
  void SetModTime(const std::string& AFileName, TDateTime ALocalTime);
  // SetModTime for a time given in UTC.
  void SetModTimeGMT(const std::string& AFileName, TDateTime AGMTTime);
  // "PRET ACommand" when the server lists PRET; any reply accepted.
  void AnnounceTransfer(const std::string& ACommand);

  // ---- Listings (IdFTPListing.cpp) ----------------------------------------------------
  // "LIST -al ASpecifier" (ADetails) or "NLST -al ASpecifier" in ASCII type (restored after,
  // also on failure) into ListResult and ADest; MLSD instead for a detailed listing when
  // UseMLIS and the server lists MLSD or MLST. Failures as for Get.
  void List(std::vector<std::string>* ADest, const std::string& ASpecifier = "",
            bool ADetails = true);
  void List() { List(nullptr, "", true); }
  void List(const std::string& ASpecifier, bool ADetails = true) {
    List(nullptr, ASpecifier, ADetails);
  }
  // "MLSD ADirectory" into ListResult and ADest; the transfer type is left as it is.
  void ExtListDir(std::vector<std::string>* ADest = nullptr, const std::string& ADirectory = "");
  // "MLST AItem", accepted 250: the reply's fact lines into ADest and, parsed, into AFList.
  void ExtListItem(std::vector<std::string>& ADest, TIdFTPListItems* AFList,
                   const std::string& AItem);
  void ExtListItem(std::vector<std::string>& ADest, const std::string& AItem) {
    ExtListItem(ADest, nullptr, AItem);
  }
  void ExtListItem(TIdFTPListItems& AFList, const std::string& AItem);
  // The last listing parsed, built on the first call after each listing. Raises
  // EIdFTPListParseError for a detailed LIST when no LIST parser is registered.
  TIdFTPListItems* DirectoryListing();
  TIdFTPListParseClass ListParserClass() const { return FListParserClass; }

  // ---- Verification (IdFTPVerify.cpp) ----------------------------------------------------
  // Compares the digest of ALocalFile (or of AByteCount bytes from AStartPoint) with the
  // server's XSHA1, XMD5 or XCRC answer; false when they differ or the server refuses. An
  // empty ARemoteFile means the local file's name.
  bool VerifyFile(const std::string& ALocalFile, const std::string& ARemoteFile = "",
                  int64_t AStartPoint = -1, int64_t AByteCount = 0);
  bool VerifyFile(TStream& ALocalFile, const std::string& ARemoteFile, int64_t AStartPoint = -1,
                  int64_t AByteCount = 0);
  // The server's CRC-32 of the file (or range) by XCRC; -1 when not offered or refused.
  int64_t CRC(const std::string& AFIleName, int64_t AStartPoint = 0, int64_t AEndPoint = 0);
  // "COMB "target" part1 part2 ...", accepted 250, when the server lists COMB and there are parts.
  void CombineFiles(const std::string& ATargetFile, const std::vector<std::string>& AFileParts);

  // ---- Properties ----------------------------------------------------------------------
  // Getters and plain setters send nothing and raise nothing; the setters that do are noted.
  bool AutoLogin() const { return FAutoLogin; }
  void SetAutoLogin(bool AValue) { FAutoLogin = AValue; }
  bool AutoIssueFEAT() const { return FAutoIssueFEAT; }
  void SetAutoIssueFEAT(bool AValue) { FAutoIssueFEAT = AValue; }
  TIdFTPTransferMode CurrentTransferMode() const { return FCurrentTransferMode; }
  // TransferMode: sends MODE when connected and the mode changes.
  void SetCurrentTransferMode(TIdFTPTransferMode AValue) { TransferMode(AValue); }
  TIdFTPClientIdentifier& ClientInfo() { return *FClientInfo; }
  void SetClientInfo(const TIdFTPClientIdentifier& AValue) { FClientInfo->Assign(AValue); }
  bool UsingSFTP() const { return FUsingSFTP; }
  bool UseHOST() const { return FUseHOST; }
  void SetUseHOST(bool AValue) { FUseHOST = AValue; }
  bool UsingExtDataPort() const { return FUsingExtDataPort; }
  bool UsingNATFastTrack() const { return FUsingNATFastTrack; }
  TIdFTPListResult& ListResult() { return FListResult; }
  TIdReplyFTP& LoginMsg() { return *FLoginMsg; }
  bool Passive() const { return FPassive; }
  // Raises EIdFTPPassiveMustBeTrueWithNATFT for false while TryNATFastTrack is set.
  void SetPassive(bool AValue);
  bool PassiveUseControlHost() const { return FData.PassiveUseControlHost(); }
  void SetPassiveUseControlHost(bool AValue) { FData.SetPassiveUseControlHost(AValue); }
  TIdFTPDataPortSecurity DataPortProtection() const { return FDataPortProtection; }
  // Raises EIdFTPNoDataPortProtectionWOEncryption without TLS support and
  // EIdFTPNoDataPortProtectionAfterCCC once CCC has cleared the control connection.
  void SetDataPortProtection(TIdFTPDataPortSecurity AValue);
  TAuthCmd AUTHCmd() const { return FAUTHCmd; }
  // Raises EIdFTPNoAUTHWOSSL without TLS support and EIdFTPCanNotSetAUTHCon under TLS.
  void SetAUTHCmd(TAuthCmd AValue);
  uint16_t DataPort() const { return FData.DataPort(); }
  void SetDataPort(uint16_t AValue) { FData.SetDataPort(AValue); }
  uint16_t DataPortMin() const { return FData.DataPortMin(); }
  void SetDataPortMin(uint16_t AValue) { FData.SetDataPortMin(AValue); }
  uint16_t DataPortMax() const { return FData.DataPortMax(); }
  void SetDataPortMax(uint16_t AValue) { FData.SetDataPortMax(AValue); }
  const std::string& ExternalIP() const { return FExternalIP; }
  void SetExternalIP(const std::string& AValue) { FExternalIP = AValue; }
  const std::string& SystemDesc() const { return FSystemDesc; }
  TIdFTPTransferType TransferType() const { return FTransferType; }
  // Sends "TYPE A" or "TYPE I" (200) when connected and the type changes; ignored while a
  // transfer runs.
  void SetTransferType(TIdFTPTransferType AValue);
  int32_t TransferTimeout() const { return FData.TransferTimeout(); }
  void SetTransferTimeout(int32_t AValue) { FData.SetTransferTimeout(AValue); }
  int32_t ListenTimeout() const { return FData.ListenTimeout(); }
  void SetListenTimeout(int32_t AValue) { FData.SetListenTimeout(AValue); }
  const std::string& DirFormat() const { return FDirFormat; }
  TIdFtpProxySettings& ProxySettings() { return *FProxySettings; }
  void SetProxySettings(const TIdFtpProxySettings& AValue) { FProxySettings->Assign(AValue); }
  bool UseExtensionDataPort() const { return FUseExtensionDataPort; }
  // Raises EIdFTPMustUseExtWithIPv6 / EIdFTPMustUseExtWithNATFastTrack for false over IPv6
  // or with TryNATFastTrack.
  void SetUseExtensionDataPort(bool AValue);
  bool TryNATFastTrack() const { return FTryNATFastTrack; }
  // true also sets Passive and UseExtensionDataPort.
  void SetTryNATFastTrack(bool AValue);
  bool UseMLIS() const { return FUseMLIS; }
  void SetUseMLIS(bool AValue) { FUseMLIS = AValue; }
  std::vector<std::string>& LangsSupported() { return FLangsSupported; }
  bool UseCCC() const { return FUseCCC; }
  // Raises EIdFTPNoCCCWOEncryption without TLS support.
  void SetUseCCC(bool AValue);
  TIdFTPTZInfo& TZInfo() { return *FTZInfo; }
  void SetTZInfo(const TIdFTPTZInfo& AValue) { FTZInfo->Assign(AValue); }
  TIdZLibCompressorBase* Compressor() const { return FCompressor; }
  // Watches the compressor (not owned) for destruction; null sends "MODE S" when connected.
  void SetCompressor(TIdZLibCompressorBase* AValue);
  const std::string& Account() const { return FAccount; }
  void SetAccount(const std::string& AValue) { FAccount = AValue; }
  // The data connection while a transfer runs, else null.
  TIdTCPConnection* DataChannel() const { return FData.Channel(); }

  // Id_IPv6 also sets UseExtensionDataPort.
  void SetIPVersion(TIdIPVersion AValue) override;
  // Raises EIdFTPWrongIOHandler for a handler that is not a socket handler (it stays
  // assigned); an IPv6 handler switches the extended data-port commands on.
  void SetIOHandler(TIdIOHandler* AValue) override;
  using TIdExplicitTLSClient::SetIOHandler;
  // Raises EIdTLSClientCanNotSetWhileConnected when connected and
  // EIdTLSClientSSLIOHandlerRequred for TLS without a TLS handler; utNoTLSSupport also
  // resets DataPortProtection, UseCCC and AUTHCmd.
  void SetUseTLS(TIdUseTLS AValue) override;

  // ---- Events --------------------------------------------------------------------------
  // Each stores the handler; the sender passed to it is this session.
  void SetOnAfterClientLogin(TNotifyEvent AValue) { FOnAfterClientLogin = std::move(AValue); }
  void SetOnBeforeGet(TNotifyEvent AValue) { FOnBeforeGet = std::move(AValue); }
  void SetOnBeforePut(TIdFtpAfterGet AValue) { FOnBeforePut = std::move(AValue); }
  void SetOnAfterGet(TIdFtpAfterGet AValue) { FOnAfterGet = std::move(AValue); }
  void SetOnAfterPut(TNotifyEvent AValue) { FOnAfterPut = std::move(AValue); }
  void SetOnNeedAccount(TIdNeedAccountEvent AValue) { FOnNeedAccount = std::move(AValue); }
  void SetOnCustomFTPProxy(TNotifyEvent AValue) { FOnCustomFTPProxy = std::move(AValue); }
  void SetOnDataChannelCreate(TIdOnDataChannelCreate AValue) {
    FData.SetOnDataChannelCreate(std::move(AValue));
  }
  void SetOnDataChannelDestroy(TIdOnDataChannelDestroy AValue) {
    FData.SetOnDataChannelDestroy(std::move(AValue));
  }
  void SetOnBannerBeforeLogin(TIdFTPBannerEvent AValue) {
    FOnBannerBeforeLogin = std::move(AValue);
  }
  void SetOnBannerAfterLogin(TIdFTPBannerEvent AValue) { FOnBannerAfterLogin = std::move(AValue); }
  void SetOnBannerWarning(TIdFTPBannerEvent AValue) { FOnBannerWarning = std::move(AValue); }
  void SetOnRetrievedDir(TNotifyEvent AValue) { FOnRetrievedDir = std::move(AValue); }
  void SetOnDirParseStart(TNotifyEvent AValue) { FOnDirParseStart = std::move(AValue); }
  void SetOnDirParseEnd(TNotifyEvent AValue) { FOnDirParseEnd = std::move(AValue); }
  void SetOnCreateFTPList(TIdCreateFTPList AValue) { FOnCreateFTPList = std::move(AValue); }

protected:
  virtual void NotifyBeforeGet();
  virtual void NotifyBeforePut(TStream& AStream);
  virtual void NotifyAfterGet(TStream& AStream);
  virtual void NotifyAfterPut();
  void DisconnectNotifyPeer() override;
  // Writes ABOR without touching the session's progress counters.
  void SendAbortLine();
  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override;

  // ---- Connect and login helpers (IdFTP.cpp) -------------------------------------------
  void SendTransferType(TIdFTPTransferType AValue);
  void ResetConnectionState();
  void ConnectControlChannel();
  void ReadGreeting();
  void SendHost();
  void SendSyst();
  void SendSiteZone();
  void LoginAfterConnect();
  void NegotiateAUTH();
  void StartControlTLS();
  void SendAccountIfNeeded();
  void LoginAs(const std::string& AUserLine, const TIdReplyCodes& AUserCodes,
               const std::function<std::string()>& APassword, const TIdReplyCodes& APassCodes,
               bool AAccountStep);
  void LoginToServer();
  void LoginToProxy(const std::function<std::string()>& APassword,
                    const TIdReplyCodes& APassCodes, bool AAccountStep);
  void RunLoginVariant();
  void LoginThroughFirewallID(const std::string& AProxyUser, const std::string& AProxyPassword);
  void LoginThroughNovellBorder(const std::string& AProxyUser);
  // Host, or "host:port" when the port is not 21.
  std::string HostPortText() const;
  bool GreetingStartsWith(std::string_view APrefix);
  // The server takes "MDTM stamp+zone filename" to set a time.
  bool UsesSpaceMdtmForm();

  // ---- Data-port commands (IdFTPDataChannel.cpp) ---------------------------------------
  // PBSZ/PROT/CCC before a data-port command, only under TLS.
  void SendDataSettings();
  // EPSV when FUsingExtDataPort, else PASV; returns the address to connect to.
  TIdFTPDataAddress SendPassive();
  TIdFTPDataAddress SendPASV();
  TIdFTPDataAddress SendCPassive();
  TIdFTPDataAddress SendEPassive();
  // The data-protection commands, then EPRT or PORT for AIP:APort: EPRT when
  // FUsingExtDataPort (falling back to PORT), else PORT.
  void AnnounceDataPort(const std::string& AIP, uint16_t APort, TIdIPVersion AIPVersion);
  void SendPORT(const std::string& AIP, uint16_t APort);
  void SendEPRT(const std::string& AIP, uint16_t APort, TIdIPVersion AIPVersion);
  // Queries the passive address and opens the data connection to it.
  void OpenPassiveDataChannel();
  // Opens the active-mode listener and announces it (ExternalIP instead of its address).
  void OpenActiveDataChannel();
  // Whether the data connection is to be protected by TLS.
  bool DataChannelProtected() const;
  void DoTryNATFastTrack();

  // ---- Transfer engines (IdFTPTransfer.cpp) --------------------------------------------
  void InternalGet(const std::string& ACommand, TStream& ADest, bool AResume = false);
  // Returns the text lines of the server's preliminary reply to the data command.
  std::vector<std::string> InternalPut(const std::string& ACommand, TStream& ASource,
                                       bool AFromBeginning = true);
  // "SSCN OFF" (200) when SSCN is on.
  void SendSSCNOff();
  // "SSCN ON" (200) for a protected session whose server lists SSCN; true when SSCN is on.
  bool SwitchSSCNOn();
  // Puts one of the two servers of a protected server-to-server transfer in SSCN ON.
  static bool ArrangeSSCN(TIdFTP& ASource, TIdFTP& ADest);
  // Starts TLS on the data connection when it is to be protected.
  void StartDataChannelTLS();
  // The compressor checks every transfer in dmDeflate makes before sending anything.
  void CheckCompressor();
  void ReceiveData(TStream& ADest);
  void SendData(TStream& ASource, bool AFromBeginning);
  // What the checks before a server-to-server transfer look at.
  TIdFTPSiteFacts SiteFacts() const;
  // RETR on ASource, STOR on ADest; ADestPassive chooses which server listens.
  void SiteToSite(TIdFTP& ASource, TIdFTP& ADest, const std::string& ASourceFile,
                  const std::string& ADestFile, bool ADestPassive);
  // Reads the preliminary and final replies of both sides of a server-to-server transfer.
  static void AwaitSiteToSiteEnd(TIdFTP& ASource, TIdFTP& ADest);
  // One reply on ASite; a failure goes to VFailure (the first one is kept), the result says
  // whether the reply was accepted.
  static bool AwaitSiteToSiteReply(TIdFTP& ASite, const TIdReplyCodes& ACodes,
                                   std::exception_ptr& VFailure);
  // ABOR and its replies, for a side whose partner refused the transfer.
  void AbortSiteToSiteSide();

  // ---- Listing helpers (IdFTPListing.cpp) -----------------------------------------------
  // Runs the download engine with ACommand and replaces ListResult by the lines it brought.
  void RetrieveListing(const std::string& ACommand, bool ADetails, bool AUsedMLS);
  void ParseListResult();

  // ---- Fields --------------------------------------------------------------------------
  bool FAutoLogin = true;
  bool FAutoIssueFEAT = true;
  TIdFTPTransferMode FCurrentTransferMode = dmStream;
  std::unique_ptr<TIdFTPClientIdentifier> FClientInfo;
  bool FUsingSFTP = false;
  bool FUsingCCC = false;
  bool FUseHOST = true;
  bool FCanUseMLS = false;
  bool FUsingExtDataPort = false;
  bool FUsingNATFastTrack = false;
  // Whether REST works, once the probe ran; empty before.
  std::optional<bool> FCanResume;
  TIdFTPListResult FListResult;
  // The parsed form of FListResult; null until DirectoryListing is read after a listing.
  std::unique_ptr<TIdFTPListItems> FDirectoryListing;
  TIdFTPListParseClass FListParserClass = nullptr;
  std::unique_ptr<TIdReplyFTP> FLoginMsg;
  bool FPassive = false;
  TIdFTPDataPortSecurity FDataPortProtection = ftpdpsClear;
  TAuthCmd FAUTHCmd = tAuto;
  std::string FExternalIP;
  std::string FSystemDesc;
  TIdFTPTransferType FTransferType = ftASCII;
  std::string FDirFormat;
  TNotifyEvent FOnAfterClientLogin;
  TNotifyEvent FOnBeforeGet;
  TIdFtpAfterGet FOnBeforePut;
  TIdFtpAfterGet FOnAfterGet;
  TNotifyEvent FOnAfterPut;
  TIdNeedAccountEvent FOnNeedAccount;
  TNotifyEvent FOnCustomFTPProxy;
  std::unique_ptr<TIdFtpProxySettings> FProxySettings;
  bool FUseExtensionDataPort = false;
  bool FTryNATFastTrack = false;
  bool FUseMLIS = true;
  std::vector<std::string> FLangsSupported;
  bool FUseCCC = false;
  bool FSSCNOn = false;
  TIdFTPBannerEvent FOnBannerBeforeLogin;
  TIdFTPBannerEvent FOnBannerAfterLogin;
  TIdFTPBannerEvent FOnBannerWarning;
  std::unique_ptr<TIdFTPTZInfo> FTZInfo;
  TIdZLibCompressorBase* FCompressor = nullptr; // not owned; watched for destruction
  int32_t FZLibCompressionLevel = 7;
  int32_t FZLibWindowBits = 15;
  int32_t FZLibMemLevel = 8;
  int32_t FZLibStratagy = 0;
  TNotifyEvent FOnRetrievedDir;
  TNotifyEvent FOnDirParseStart;
  TNotifyEvent FOnDirParseEnd;
  TIdCreateFTPList FOnCreateFTPList;
  std::string FAccount;
  // The data connection with its settings, its abort hand-off and the transfer wrap-up.
  TIdFTPDataConnection FData{*this};
};

} // namespace ftpc
