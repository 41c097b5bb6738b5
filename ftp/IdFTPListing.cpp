// TIdFTP: directory listings. LIST and NLST (RFC 959 4.1.3), MLSD and MLST (RFC 3659 7) and
// the lazily parsed form of the last listing.
#include "ftp/IdFTP.h"

#include "ftp/IdFTPList.h"

namespace ftpc {

namespace {

constexpr int16_t kCodeMlstOK = 250;

} // namespace

void TIdFTP::List(std::vector<std::string>* ADest, const std::string& ASpecifier, bool ADetails) {
  if (ADetails && FUseMLIS && FCanUseMLS) {
    ExtListDir(ADest);
    return;
  }
  // Listings are text: ASCII type converts the server's line ends (RFC 959 3.1.1.1).
  const TIdFTPTransferType previousType = FTransferType;
  SetTransferType(ftASCII);
  try {
    RetrieveListing(Trim(std::string(ADetails ? "LIST -al " : "NLST -al ") + ASpecifier),
                    ADetails, false);
    if (ADest != nullptr) {
      *ADest = FListResult.Lines();
    }
    if (FOnRetrievedDir) {
      FOnRetrievedDir(this);
    }
  } catch (...) {
    // The listing's failure is the one reported; a failing TYPE on the way out is not.
    try {
      SetTransferType(previousType);
    } catch (const std::exception&) {
    }
    throw;
  }
  SetTransferType(previousType);
}

void TIdFTP::ExtListDir(std::vector<std::string>* ADest, const std::string& ADirectory) {
  RetrieveListing(Trim("MLSD " + ADirectory), true, true);
  if (ADest != nullptr) {
    *ADest = FListResult.Lines();
  }
}

void TIdFTP::RetrieveListing(const std::string& ACommand, bool ADetails, bool AUsedMLS) {
  TMemoryStream stream;
  InternalGet(ACommand, stream);
  FDirectoryListing.reset();
  // MLSD announces the new listing before it is loaded, LIST and NLST after.
  if (AUsedMLS && FOnRetrievedDir) {
    FOnRetrievedDir(this);
  }
  const TBytes& bytes = stream.Memory();
  FListResult.LoadFromText(
      ResolveEncoding(IOHandler()->DefStringEncoding())->GetString(bytes.data(), bytes.size()));
  FListResult.SetDetails(ADetails);
  FListResult.SetUsedMLS(AUsedMLS);
}

// The fact lines of a 250 reply to MLST start with one space (RFC 3659 7.2), which is not part
// of the facts: "250-Listing x", " type=file;size=5; x", "250 End".
void TIdFTP::ExtListItem(std::vector<std::string>& ADest, TIdFTPListItems* AFList,
                         const std::string& AItem) {
  ADest.clear();
  SendCmd(Trim("MLST " + AItem), {kCodeMlstOK});
  for (const std::string& line : LastCmdResult().Text()) {
    if (line.find(';') != std::string::npos) {
      ADest.push_back(!line.empty() && line[0] == ' ' ? line.substr(1) : line);
    }
  }
  if (AFList != nullptr) {
    GFTPListParsers().ParseListing(ADest, *AFList, "MLST");
  }
}

void TIdFTP::ExtListItem(TIdFTPListItems& AFList, const std::string& AItem) {
  std::vector<std::string> lines;
  ExtListItem(lines, &AFList, AItem);
}

TIdFTPListItems* TIdFTP::DirectoryListing() {
  if (FDirectoryListing) {
    return FDirectoryListing.get();
  }
  if (FOnDirParseStart) {
    FOnDirParseStart(this);
  }
  if (FOnCreateFTPList) {
    FOnCreateFTPList(this, FDirectoryListing);
  }
  if (!FDirectoryListing) {
    FDirectoryListing = std::make_unique<TIdFTPListItems>();
  }
  try {
    ParseListResult();
  } catch (...) {
    if (FOnDirParseEnd) {
      FOnDirParseEnd(this);
    }
    throw;
  }
  if (FOnDirParseEnd) {
    FOnDirParseEnd(this);
  }
  return FDirectoryListing.get();
}

void TIdFTP::ParseListResult() {
  const std::vector<std::string>& lines = FListResult.Lines();
  if (lines.empty()) {
    FDirFormat.clear();
  } else if (FListResult.UsedMLS()) {
    FDirFormat = "MLST";
    GFTPListParsers().ParseListing(lines, *FDirectoryListing, FDirFormat);
  } else {
    GFTPListParsers().CheckListParseCapa(lines, *FDirectoryListing, FDirFormat, FListParserClass,
                                         FSystemDesc, FListResult.Details());
  }
}

} // namespace ftpc
