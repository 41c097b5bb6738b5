// TIdFTP: file transfers. Get, Put and StoreUnique, the download and upload engines they share
// with the listings, the wrap-up after every data transfer (with the abort protocol of
// RFC 959 4.1.3), the resume probe and server-to-server transfers.
#include <exception>
#include <filesystem>
#include <system_error>

#include "base/IdExceptionCore.h"
#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"

namespace ftpc {

namespace {

// Preliminary replies to a data command (RFC 959 4.2; 110 is a restart marker some servers
// send for STOR, 154 is sent by some servers for RETR).
const TIdReplyCodes kRetrPreliminaryPassive = {125, 150, 154, 450};
const TIdReplyCodes kRetrPreliminaryActive = {125, 150, 154};
const TIdReplyCodes kStorPreliminaryPassive = {110, 125, 150};
const TIdReplyCodes kStorPreliminaryActive = {125, 150};
const TIdReplyCodes kTransferFinal = {226, 225, 250};
// What a server may answer after ABOR: first the end of the transfer, then the ABOR itself.
const TIdReplyCodes kAbortFirst = {225, 226, 250, 426, 450, 451, 425, 550, 552};
const TIdReplyCodes kAbortSecond = {226, 225};
const TIdReplyCodes kAbortThird = {226, 426, 450, 451, 425, 550};
constexpr int16_t kCodeFileUnavailable = 450;
constexpr int16_t kCodeRestartOK = 350;
constexpr int16_t kFirstRefusalCode = 300;
// After a 226 to ABOR, how long a further reply may take to be counted as part of the abort.
constexpr int32_t kLateAbortReplyMs = 10;

bool IsOneOf(int16_t ACode, const TIdReplyCodes& ACodes) {
  for (const int16_t code : ACodes) {
    if (code == ACode) {
      return true;
    }
  }
  return false;
}

std::string FileNamePart(const std::string& APath) {
  return std::filesystem::path(APath).filename().string();
}

// The reply to STOU names the file it stores: "150 FILE: STOU.1", "125 FILE: ftpd.gv9_kiib",
// or the first line of a multi-line 150 ("150-FILE: pureftpd.6b178ee8.ba.0000").
std::string UniqueNameFromReply(const std::vector<std::string>& ALines) {
  static constexpr std::string_view kFilePrefix = "FILE:";
  for (const std::string& line : ALines) {
    if (TextHasPrefix(line, kFilePrefix)) {
      return Trim(std::string_view(line).substr(kFilePrefix.size()));
    }
  }
  return {};
}

} // namespace

// ---- Public transfer operations ------------------------------------------------------------

void TIdFTP::Get(const std::string& ASourceFile, TStream& ADest, bool AResume) {
  SendSSCNOff();
  const bool resume = AResume && ResumeSupported();
  NotifyBeforeGet();
  InternalGet("RETR " + ASourceFile, ADest, resume);
  NotifyAfterGet(ADest);
}

void TIdFTP::Get(const std::string& ASourceFile, const std::string& ADestFile,
                 bool ACanOverwrite, bool AResume) {
  const bool resume = AResume && ResumeSupported();
  std::unique_ptr<TStream> stream;
  if (ACanOverwrite && !resume) {
    std::error_code ignored;
    std::filesystem::remove(ADestFile, ignored);
    stream = std::make_unique<TIdFileCreateStream>(ADestFile);
  } else if (!ACanOverwrite && resume) {
    stream = std::make_unique<TIdAppendFileStream>(ADestFile);
  } else if (!LocalPathExists(ADestFile)) {
    stream = std::make_unique<TIdFileCreateStream>(ADestFile);
  } else {
    throw EIdFTPFileAlreadyExists(std::string(RSFTPFileAlreadyExists));
  }
  Get(ASourceFile, *stream, resume);
}

void TIdFTP::Put(TStream& ASource, const std::string& ADestFile, bool AAppend) {
  if (ADestFile.empty()) {
    throw EIdFTPUploadFileNameCanNotBeEmpty(std::string(RSFTPUploadFileNameCanNotBeEmpty));
  }
  NotifyBeforePut(ASource);
  if (AAppend) {
    InternalPut("APPE " + ADestFile, ASource, false);
  } else {
    InternalPut("STOR " + ADestFile, ASource, true);
  }
  NotifyAfterPut();
}

void TIdFTP::Put(const std::string& ASourceFile, const std::string& ADestFile, bool AAppend) {
  const std::string remote = ADestFile.empty() ? FileNamePart(ASourceFile) : ADestFile;
  TIdReadFileNonExclusiveStream stream(ASourceFile);
  Put(stream, remote, AAppend);
}

std::string TIdFTP::StoreUnique(TStream& ASource) {
  NotifyBeforePut(ASource);
  const std::string name = UniqueNameFromReply(InternalPut("STOU", ASource, true));
  NotifyAfterPut();
  return name;
}

std::string TIdFTP::StoreUnique(const std::string& ASourceFile) {
  TIdReadFileExclusiveStream stream(ASourceFile);
  return StoreUnique(stream);
}

// "REST 1" answered 350 means the server can restart transfers (RFC 3659 5); "REST 0" undoes
// the marker so that the next transfer starts at the beginning.
bool TIdFTP::ResumeSupported() {
  if (!FCanResume) {
    FCanResume = false; // a probe that fails midway is not repeated
    FCanResume = SendCmd("REST 1") == kCodeRestartOK;
    SendCmd("REST 0");
  }
  return *FCanResume;
}

// ---- Engines -------------------------------------------------------------------------------

TIdFTP::TTransferRun::TTransferRun(TIdFTP& AFTP) : FFTP(AFTP) {
  const std::lock_guard guard(FFTP.FDataChannelLock);
  FFTP.FTransferRunning = true;
  FFTP.FAbortFlag->SetValue(false);
}

TIdFTP::TTransferRun::~TTransferRun() {
  const std::lock_guard guard(FFTP.FDataChannelLock);
  FFTP.FTransferRunning = false;
}

void TIdFTP::CheckCompressor() {
  if (FCurrentTransferMode != dmDeflate) {
    return;
  }
  if (FCompressor == nullptr) {
    throw EIdFTPMissingCompressor(std::string(RSFTPMissingCompressor));
  }
  if (!FCompressor->IsReady()) {
    throw EIdFTPCompressorNotReady(std::string(RSFTPCompressorNotReady));
  }
}

void TIdFTP::SendSSCNOff() {
  if (FSSCNOn) {
    SendCmd("SSCN OFF", {200});
    FSSCNOn = false;
  }
}

void TIdFTP::StartDataChannelTLS() {
  if (!FUsingSFTP || FDataPortProtection != ftpdpsPrivate || !FDataChannel) {
    return;
  }
  if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(FDataChannel->IOHandler())) {
    tls->SetPassThrough(false);
  }
}

void TIdFTP::ReceiveData(TStream& ADest) {
  TIdIOHandler& data = *FDataChannel->IOHandler();
  if (FCurrentTransferMode == dmDeflate) {
    FCompressor->DecompressFTPFromIO(data, ADest, FZLibWindowBits);
  } else {
    data.ReadStream(ADest, -1, true);
  }
}

// The data connection's close tells the server that the file is complete (RFC 959 3.4,
// stream mode), so the caller closes it before the final reply is read.
void TIdFTP::SendData(TStream& ASource, bool AFromBeginning) {
  TIdIOHandler& data = *FDataChannel->IOHandler();
  if (FCurrentTransferMode == dmDeflate) {
    if (AFromBeginning) {
      ASource.SetPosition(0);
    }
    FCompressor->CompressFTPToIO(ASource, data, FZLibCompressionLevel, FZLibWindowBits,
                                 FZLibMemLevel, FZLibStratagy);
  } else {
    data.Write(ASource, AFromBeginning ? 0 : -1);
  }
}

void TIdFTP::InternalGet(const std::string& ACommand, TStream& ADest, bool AResume) {
  const TTransferRun run(*this);
  CheckCompressor();
  ReportStatus(ftpTransfer, {RSFTPStatusStartTransfer});
  bool commandSent = false;
  try {
    if (FPassive) {
      AnnounceTransfer(ACommand);
      OpenPassiveDataChannel();
    } else {
      OpenActiveDataChannel();
    }
    if (AResume) {
      SendCmd("REST " + std::to_string(ADest.Position()), {kCodeRestartOK});
    }
    commandSent = true;
    const int16_t code =
        SendCmd(ACommand, FPassive ? kRetrPreliminaryPassive : kRetrPreliminaryActive);
    if (code != kCodeFileUnavailable) {
      AcceptActiveDataChannel();
      StartDataChannelTLS();
      ReceiveData(ADest);
    }
  } catch (...) {
    FinalizeAfterFailure(commandSent);
    return;
  }
  FinalizeDataOperation();
  // A 450 ("file busy") means no file came: the caller must not take the transfer as done.
  if (LastCmdResult().NumericCode() == kCodeFileUnavailable) {
    RaiseExceptionForLastCmdResult();
  }
}

std::vector<std::string> TIdFTP::InternalPut(const std::string& ACommand, TStream& ASource,
                                             bool AFromBeginning) {
  const TTransferRun run(*this);
  CheckCompressor();
  SendSSCNOff();
  ReportStatus(ftpTransfer, {RSFTPStatusStartTransfer});
  bool commandSent = false;
  std::vector<std::string> preliminary;
  try {
    if (FPassive) {
      AnnounceTransfer(ACommand);
      std::string host;
      uint16_t port = 0;
      SendPassive(host, port);
      // Some servers open their side of the data connection only on the transfer command.
      commandSent = true;
      SendCmdLine(ACommand);
      OpenPassiveDataChannelTo(host, port);
      GetResponse(kStorPreliminaryPassive);
    } else {
      OpenActiveDataChannel();
      commandSent = true;
      SendCmd(ACommand, kStorPreliminaryActive);
      AcceptActiveDataChannel();
    }
    preliminary = LastCmdResult().Text();
    StartDataChannelTLS();
    try {
      SendData(ASource, AFromBeginning);
    } catch (const EIdConnClosedGracefully&) {
      // The server closed the data connection after taking the bytes; its final reply on
      // the control connection says whether the file arrived.
    }
    CloseDataChannelQuietly();
  } catch (...) {
    FinalizeAfterFailure(commandSent);
    return preliminary;
  }
  // The upload counts as done only once the final reply was read; a control connection that
  // closes before it is an error.
  FinalizeDataOperation();
  return preliminary;
}

void TIdFTP::CloseDataChannelQuietly() {
  try {
    FDataChannel->Disconnect(false);
  } catch (const EIdException&) {
    // The bytes are out; the final reply tells whether the server has them.
  }
}

// Called inside a catch block; returns only when the failure is swallowed. Before the data
// command went out there is no reply to wait for. With an abort
// requested, the failure of the data connection is the abort's doing: the wrap-up reads the
// abort replies and the transfer ends quietly.
void TIdFTP::FinalizeAfterFailure(bool ACommandSent) {
  if (!ACommandSent) {
    // No transfer reply can come: the failure was in setting up the data connection.
    SetDataChannel(nullptr);
    throw;
  }
  if (FAbortFlag->Value() && FDataChannel) {
    FinalizeDataOperation();
    return;
  }
  try {
    FinalizeDataOperation();
  } catch (const std::exception&) {
    // The failure that ended the transfer is the one the caller must see.
  }
  throw;
}

// ---- Wrap-up -------------------------------------------------------------------------------

void TIdFTP::FinalizeDataOperation() {
  if (FDataChannel) {
    if (FOnDataChannelDestroy) {
      FOnDataChannelDestroy(this, *FDataChannel);
    }
    SetDataChannel(nullptr);
  }
  if (LastCmdResult().NumericCode() >= kFirstRefusalCode) {
    ReportStatus(ftpAborted, {RSFTPStatusAbortTransfer});
    return;
  }
  ReportStatus(ftpReady, {RSFTPStatusDoneTransfer});
  if (FAbortFlag->Value()) {
    ReadAbortReplies();
    ReportStatus(ftpAborted, {RSFTPStatusAbortTransfer});
  } else {
    GetResponse(kTransferFinal);
  }
}

// RFC 959 4.1.3: a server answers ABOR with 426 for the broken transfer and then 226; one that
// had finished answers 226 (transfer) and then 226 or 225 (ABOR).
void TIdFTP::ReadAbortReplies() {
  const int16_t first = GetResponse(kAbortFirst);
  if (!IsOneOf(first, kAbortThird)) {
    return;
  }
  GetResponse(kAbortSecond);
  if (first == 226 && (!IOHandler()->InputBufferIsEmpty() ||
                       IOHandler()->CheckForDataOnSource(kLateAbortReplyMs))) {
    GetResponse(kAbortThird);
  }
}

// ---- Server-to-server transfers (RFC 959 5.2) ---------------------------------------------

void TIdFTP::SiteToSiteUpload(TIdFTP& AToSite, const std::string& ASourceFile,
                              const std::string& ADestFile) {
  SiteToSite(*this, AToSite, ASourceFile, ADestFile, true);
}

void TIdFTP::SiteToSiteDownload(TIdFTP& AFromSite, const std::string& ASourceFile,
                                const std::string& ADestFile) {
  SiteToSite(AFromSite, *this, ASourceFile, ADestFile, false);
}

void TIdFTP::CheckSiteToSite(TIdFTP& ASource, TIdFTP& ADest) {
  if (ADest.FUsingNATFastTrack) {
    throw EIdFTPSToSNATFastTrack(std::string(RSFTPSToSNATFastTrack));
  }
  if (ASource.IPVersion() != ADest.IPVersion()) {
    throw EIdFTPSToSIPProtoMustBeSame(std::string(RSFTPSToSIPProtoMustBeSame));
  }
  if (ASource.FCurrentTransferMode != ADest.FCurrentTransferMode) {
    throw EIdFTPSToSTransModesMustBeSame(std::string(RSFTPSToSTransModesMustBeSame));
  }
  if (ASource.FUsingSFTP != ADest.FUsingSFTP) {
    throw EIdFTPSToSNoDataProtection(std::string(RSFTPSToSNoDataProtection));
  }
  if (ADest.FUsingSFTP && !ASource.IsExtSupported("SSCN") && !ADest.IsExtSupported("SSCN") &&
      ADest.IPVersion() == Id_IPv4 && !ADest.IsExtSupported("CPSV")) {
    throw EIdFTPSToSNATFastTrack(std::string(RSFTPSSCNNotSupported));
  }
}

// The passive side names an address; the active side tells its server to connect there.
// Under TLS both servers talk TLS to each other, so the passive side is asked with CPSV.
void TIdFTP::SiteToSite(TIdFTP& ASource, TIdFTP& ADest, const std::string& ASourceFile,
                        const std::string& ADestFile, bool ADestPassive) {
  CheckSiteToSite(ASource, ADest);
  TIdFTP& passiveSide = ADestPassive ? ADest : ASource;
  TIdFTP& activeSide = ADestPassive ? ASource : ADest;
  std::string host;
  uint16_t port = 0;
  if (ADest.FUsingSFTP) {
    passiveSide.SendCPassive(host, port);
    activeSide.SendPORT(host, port);
  } else {
    passiveSide.SendPassive(host, port);
    activeSide.AnnounceDataPort(host, port, IPVersion());
  }
  ADest.SendCmdLine("STOR " + (ADestFile.empty() ? ASourceFile : ADestFile));
  ASource.SendCmdLine("RETR " + ASourceFile);
  AwaitSiteToSiteEnd(ASource, ADest);
}

// Both servers have their data command. When one refuses it, the other one is already waiting
// for (or running) a transfer that cannot happen: it gets ABOR, and its replies are read, so
// that both sessions stay in step for their next command. The first failure is raised.
void TIdFTP::AwaitSiteToSiteEnd(TIdFTP& ASource, TIdFTP& ADest) {
  std::exception_ptr failure;
  const bool destStarted = AwaitSiteToSiteReply(ADest, kStorPreliminaryPassive, failure);
  const bool sourceStarted = AwaitSiteToSiteReply(ASource, kStorPreliminaryPassive, failure);
  if (destStarted && sourceStarted) {
    AwaitSiteToSiteReply(ADest, kTransferFinal, failure);
    AwaitSiteToSiteReply(ASource, kTransferFinal, failure);
  } else if (destStarted) {
    ADest.AbortSiteToSiteSide();
  } else if (sourceStarted) {
    ASource.AbortSiteToSiteSide();
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

bool TIdFTP::AwaitSiteToSiteReply(TIdFTP& ASite, const TIdReplyCodes& ACodes,
                                  std::exception_ptr& VFailure) {
  try {
    ASite.GetResponse(ACodes);
    return true;
  } catch (const std::exception&) {
    if (!VFailure) {
      VFailure = std::current_exception();
    }
    return false;
  }
}

void TIdFTP::AbortSiteToSiteSide() {
  try {
    SendCmdLine("ABOR");
    ReadAbortReplies();
  } catch (const std::exception&) {
    // The partner's refusal is the failure the caller must see.
  }
}

} // namespace ftpc
