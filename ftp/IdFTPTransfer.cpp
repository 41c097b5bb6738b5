// TIdFTP: file transfers. Get, Put and StoreUnique, the download and upload engines they share
// with the listings, the resume probe and server-to-server transfers. The data connection and
// the wrap-up after every transfer are TIdFTPDataConnection's.
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
constexpr int16_t kCodeFileUnavailable = 450;
constexpr int16_t kCodeRestartOK = 350;

std::string FileNamePart(const std::string& APath) {
  return std::filesystem::path(APath).filename().string();
}

} // namespace

// ---- Public transfer operations ------------------------------------------------------------

void TIdFTP::Get(const std::string& ASourceFile, TStream& ADest, bool AResume) {
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

// SSCN ON makes the server the TLS client on its next data connections, as one of the two
// servers of a protected server-to-server transfer must be.
bool TIdFTP::SwitchSSCNOn() {
  if (!FUsingSFTP || FDataPortProtection != ftpdpsPrivate) {
    return false;
  }
  if (!FSSCNOn && IsExtSupported("SSCN")) {
    SendCmd("SSCN ON", {200});
    FSSCNOn = true;
  }
  return FSSCNOn;
}

void TIdFTP::StartDataChannelTLS() {
  if (FUsingSFTP && DataChannelProtected()) {
    FData.StartTLS();
  }
}

void TIdFTP::ReceiveData(TStream& ADest) {
  TIdIOHandler& data = FData.IOHandler();
  if (FCurrentTransferMode == dmDeflate) {
    FCompressor->DecompressFTPFromIO(data, ADest, FZLibWindowBits);
  } else {
    data.ReadStream(ADest, -1, true);
  }
}

// The data connection's close tells the server that the file is complete (RFC 959 3.4,
// stream mode), so the caller closes it before the final reply is read.
void TIdFTP::SendData(TStream& ASource, bool AFromBeginning) {
  TIdIOHandler& data = FData.IOHandler();
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
  const TIdFTPDataConnection::TTransferRun run(FData);
  CheckCompressor();
  // A listing comes here without Get: a server left in SSCN ON would take the TLS client's
  // part on its data connection too.
  SendSSCNOff();
  ReportStatus(ftpTransfer, {RSFTPStatusStartTransfer});
  try {
    if (FPassive) {
      AnnounceTransfer(ACommand);
      OpenPassiveDataChannel();
    } else {
      OpenActiveDataChannel();
    }
    // An abort requested until here ends the transfer; from REST on, REST and the data command
    // go out together and the abort follows them.
    if (FData.EndIfAbortRequested()) {
      return;
    }
    if (AResume) {
      SendCmd("REST " + std::to_string(ADest.Position()), {kCodeRestartOK});
    }
    FData.SendDataCommand([&] { SendCmdLine(ACommand); });
    const int16_t code = GetResponse(FPassive ? kRetrPreliminaryPassive : kRetrPreliminaryActive);
    if (code != kCodeFileUnavailable) {
      FData.AcceptActive();
      StartDataChannelTLS();
      ReceiveData(ADest);
    }
  } catch (...) {
    FData.FinishAfterFailure(std::current_exception());
    return;
  }
  FData.Finish();
  // A 450 ("file busy") means no file came: the caller must not take the transfer as done.
  if (LastCmdResult().NumericCode() == kCodeFileUnavailable) {
    RaiseExceptionForLastCmdResult();
  }
}

std::vector<std::string> TIdFTP::InternalPut(const std::string& ACommand, TStream& ASource,
                                             bool AFromBeginning) {
  const TIdFTPDataConnection::TTransferRun run(FData);
  CheckCompressor();
  SendSSCNOff();
  ReportStatus(ftpTransfer, {RSFTPStatusStartTransfer});
  std::vector<std::string> preliminary;
  try {
    if (FPassive) {
      AnnounceTransfer(ACommand);
      const TIdFTPDataAddress address = SendPassive();
      if (FData.EndIfAbortRequested()) {
        return preliminary;
      }
      // Some servers open their side of the data connection only on the transfer command.
      FData.SendDataCommand([&] { SendCmdLine(ACommand); });
      FData.OpenPassive(address.Host, address.Port, DataChannelProtected());
      FData.HonourAbortRequest();
      GetResponse(kStorPreliminaryPassive);
    } else {
      OpenActiveDataChannel();
      if (FData.EndIfAbortRequested()) {
        return preliminary;
      }
      FData.SendDataCommand([&] { SendCmdLine(ACommand); });
      GetResponse(kStorPreliminaryActive);
      FData.AcceptActive();
    }
    preliminary = LastCmdResult().Text();
    StartDataChannelTLS();
    try {
      SendData(ASource, AFromBeginning);
    } catch (const EIdConnClosedGracefully&) {
      // The server closed the data connection after taking the bytes; its final reply on
      // the control connection says whether the file arrived.
    }
    FData.CloseQuietly();
  } catch (...) {
    FData.FinishAfterFailure(std::current_exception());
    return preliminary;
  }
  // The upload counts as done only once the final reply was read; a control connection that
  // closes before it is an error.
  FData.Finish();
  return preliminary;
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

TIdFTPSiteFacts TIdFTP::SiteFacts() const {
  return {FUsingNATFastTrack, IPVersion(),           FCurrentTransferMode,
          FUsingSFTP,         IsExtSupported("SSCN"), IsExtSupported("CPSV")};
}

// Exactly one server switches SSCN on, the source first; the other one gets SSCN OFF should
// it still have it on. False when neither takes it.
bool TIdFTP::ArrangeSSCN(TIdFTP& ASource, TIdFTP& ADest) {
  if (ASource.SwitchSSCNOn()) {
    ADest.SendSSCNOff();
    return true;
  }
  if (ADest.SwitchSSCNOn()) {
    ASource.SendSSCNOff();
    return true;
  }
  return false;
}

// The passive side names an address; the active side tells its server to connect there. Under
// TLS the two servers handshake with each other, so one of them must act as the TLS client:
// the one in SSCN ON, or else the passive side asked with CPSV (whose 227 reply only carries
// IPv4; over IPv6 the usual pairing goes on). Both sides send their PBSZ/PROT first.
void TIdFTP::SiteToSite(TIdFTP& ASource, TIdFTP& ADest, const std::string& ASourceFile,
                        const std::string& ADestFile, bool ADestPassive) {
  CheckSiteToSite(ASource.SiteFacts(), ADest.SiteFacts());
  TIdFTP& passiveSide = ADestPassive ? ADest : ASource;
  TIdFTP& activeSide = ADestPassive ? ASource : ADest;
  if (ADest.FUsingSFTP && !ArrangeSSCN(ASource, ADest) && ADest.IPVersion() == Id_IPv4) {
    const TIdFTPDataAddress address = passiveSide.SendCPassive();
    activeSide.SendDataSettings();
    activeSide.SendPORT(address.Host, address.Port);
  } else {
    const TIdFTPDataAddress address = passiveSide.SendPassive();
    activeSide.AnnounceDataPort(address.Host, address.Port, IPVersion());
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
    AwaitSiteToSiteReply(ADest, kFTPTransferFinal, failure);
    AwaitSiteToSiteReply(ASource, kFTPTransferFinal, failure);
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
    TIdFTPDataConnection::ReadAbortReplies(*this);
  } catch (const std::exception&) {
    // The partner's refusal is the failure the caller must see.
  }
}

} // namespace ftpc
