// TIdFTP: the remote file and directory commands that need only the control connection.
#include "core/IdIOHandler.h"
#include "ftp/IdFTP.h"
#include "global/IdGlobalProtocols.h"

namespace ftpc {

namespace {

constexpr const char* kMdtmSemicolonForm = "MDTM YYYYMMDDHHMMSS[+-TZ];filename";
constexpr const char* kMdtmSpaceForm = "MDTM YYYYMMDDHHMMSS[+-TZ] filename";

// "MDTM stamp name". Setting a time with MDTM has no RFC; 253 is the usual answer, but vsftpd,
// which offers only this form, answers "213 File modification time set." once it has set it.
void SendMdtmSet(TIdFTP& AFtp, const std::string& AStamp, const std::string& AFileName) {
  AFtp.SendCmd("MDTM " + AStamp + " " + AFileName, {253, 213});
}

} // namespace

void TIdFTP::Noop() { SendCmd("NOOP", {200}); }

void TIdFTP::ChangeDir(const std::string& ADirName) { SendCmd("CWD " + ADirName, {200, 250}); }

void TIdFTP::ChangeDirUp() { SendCmd("CDUP", {200, 250}); }

void TIdFTP::MakeDir(const std::string& ADirName) { SendCmd("MKD " + ADirName, {257}); }

void TIdFTP::RemoveDir(const std::string& ADirName) { SendCmd("RMD " + ADirName, {250}); }

void TIdFTP::Delete(const std::string& AFilename) { SendCmd("DELE " + AFilename, {250}); }

void TIdFTP::Rename(const std::string& ASourceFile, const std::string& ADestFile) {
  SendCmd("RNFR " + ASourceFile, {350});
  SendCmd("RNTO " + ADestFile, {250});
}

std::string TIdFTP::RetrieveCurrentDir() {
  SendCmd("PWD", {257});
  return DirectoryFromPWDReply(LastCmdResult().FirstTextLine());
}

void TIdFTP::Site(const std::string& ACommand) { SendCmd("SITE " + ACommand, {200}); }

int16_t TIdFTP::Quote(const std::string& ACommand) { return SendCmd(ACommand); }

void TIdFTP::Allocate(int64_t AAllocateBytes) {
  SendCmd("ALLO " + std::to_string(AAllocateBytes), {200});
}

void TIdFTP::FileStructure(TIdFTPDataStructure AStructure) {
  static constexpr const char* kArguments[] = {"F", "R", "P"};
  SendCmd(std::string("STRU ") + kArguments[AStructure], {200, 500});
}

void TIdFTP::StructureMount(const std::string& APath) {
  SendCmd("SMNT " + APath, {202, 250, 500});
}

void TIdFTP::Status(std::vector<std::string>& AStatusList) {
  if (SendCmd("STAT", {211, 212, 213, 500}) != 500) {
    AStatusList = LastCmdResult().Text();
  }
}

void TIdFTP::Help(std::vector<std::string>& AHelpContents, const std::string& ACommand) {
  if (SendCmd(Trim("HELP " + ACommand), {211, 214, 500}) != 500) {
    AHelpContents = LastCmdResult().Text();
  }
}

void TIdFTP::ReInitialize(int32_t ADelay) {
  if (ADelay > 0) {
    SleepMs(static_cast<uint32_t>(ADelay));
  }
  if (SendCmd("REIN", {120, 220, 500}) == 500) {
    return;
  }
  FLoginMsg->Clear();
  FCanResume.reset();
  FListResult.Lines().clear();
  if (FDirectoryListing) {
    FDirectoryListing->Clear();
  }
  SetUsername("");
  SetPassword("");
  FPassive = false;
  FSystemDesc.clear();
  FTransferType = ftASCII;
  IOHandler()->SetDefStringEncoding(Latin1Encoding());
  if (FUsingSFTP && FUseTLS != utUseImplicitTLS) {
    if (auto* tls = dynamic_cast<TIdSSLIOHandlerSocketBase*>(IOHandler())) {
      tls->SetPassThrough(true);
    }
    FUsingSFTP = false;
    FUseCCC = false;
  }
}

// SIZE (RFC 3659) counts bytes as the current type would send them, so it is asked in
// binary type; "213 1234".
int64_t TIdFTP::Size(const std::string& AFileName) {
  const TIdFTPTransferType previous = FTransferType;
  SetTransferType(ftBinary); // sends nothing when already binary
  int64_t result = -1;
  try {
    if (SendCmd("SIZE " + AFileName) == 213) {
      result = SizeFromReply(LastCmdResult().TextWithLineEnds());
    }
  } catch (...) {
    SetTransferType(previous);
    throw;
  }
  SetTransferType(previous);
  return result;
}

// "213 20240102030405" (RFC 3659 MDTM), in UTC.
TDateTime TIdFTP::FileDate(const std::string& AFileName, bool AsGMT) {
  if (SendCmd("MDTM " + AFileName) != 213 || LastCmdResult().Text().empty()) {
    return 0;
  }
  const std::string stamp = Trim(LastCmdResult().FirstTextLine());
  return AsGMT ? TimeStampToUtcDateTime(stamp) : TimeStampToLocalDateTime(stamp);
}

bool TIdFTP::UsesSpaceMdtmForm() {
  return FeatLineIndex(kMdtmSpaceForm) >= 0 || GreetingIsServU() || GreetingIsBPFTP();
}

// MFMT (draft-somers-ftp-mfxx) where offered, else one of the MDTM-with-argument forms.
void TIdFTP::SetModTime(const std::string& AFileName, TDateTime ALocalTime) {
  if (IsExtSupported("MFMT")) {
    SendCmd("MFMT " + LocalDateTimeToTimeStamp(ALocalTime, true) + " " + AFileName, {213});
  } else if (FeatLineIndex(kMdtmSemicolonForm) >= 0) {
    SendMdtmSet(*this, LocalDateTimeToTimeStamp(ALocalTime, false), AFileName);
  } else if (UsesSpaceMdtmForm()) {
    SendMdtmSet(*this, DateTimeToMdtmStamp(ALocalTime, false, true), AFileName);
  } else {
    const TDateTime serverTime = FTZInfo->GMTOffsetAvailable()
                                     ? ALocalTime - UtcOffsetOfLocalTime() + FTZInfo->GMTOffset()
                                     : ALocalTime;
    SendMdtmSet(*this, DateTimeToMdtmStamp(serverTime, false, false), AFileName);
  }
}

void TIdFTP::SetModTimeGMT(const std::string& AFileName, TDateTime AGMTTime) {
  if (IsExtSupported("MFMT")) {
    SendCmd("MFMT " + UtcDateTimeToTimeStamp(AGMTTime, true) + " " + AFileName, {213});
  } else if (FeatLineIndex(kMdtmSemicolonForm) >= 0) {
    SendMdtmSet(*this, UtcDateTimeToTimeStamp(AGMTTime, false), AFileName);
  } else if (UsesSpaceMdtmForm()) {
    SendMdtmSet(*this, DateTimeToMdtmStamp(AGMTTime + UtcOffsetOfLocalTime(), false, true),
                AFileName);
  } else {
    const TDateTime serverTime = FTZInfo->GMTOffsetAvailable()
                                     ? AGMTTime + FTZInfo->GMTOffset()
                                     : AGMTTime + UtcOffsetOfLocalTime();
    SendMdtmSet(*this, DateTimeToMdtmStamp(serverTime, false, false), AFileName);
  }
}

// PRET (announces the transfer to servers that pick their data ports per command).
void TIdFTP::AnnounceTransfer(const std::string& ACommand) {
  if (IsExtSupported("PRET")) {
    SendCmd("PRET " + ACommand);
  }
}

} // namespace ftpc
