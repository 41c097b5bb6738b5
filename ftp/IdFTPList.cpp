#include "ftp/IdFTPList.h"

#include <algorithm>

#include "base/IdResourceStrings.h"

namespace ftpc {

namespace {

// The two formats every session knows; the others are LIST formats.
bool IsBuiltIn(TIdFTPListParseClass AParser) {
  const std::string ident = AParser->GetIdent();
  return ident == "NLST" || ident == "MLST";
}

} // namespace

TIdFTPRegParseList::TIdFTPRegParseList() {
  FParsers = {&TIdFTPLPNList::Instance(), &TIdFTPLPMList::Instance()};
}

void TIdFTPRegParseList::Register(TIdFTPListParseClass AParser) {
  const std::lock_guard<std::mutex> lock(FLock);
  if (AParser != nullptr && std::find(FParsers.begin(), FParsers.end(), AParser) == FParsers.end()) {
    FParsers.push_back(AParser);
  }
}

void TIdFTPRegParseList::Unregister(TIdFTPListParseClass AParser) {
  const std::lock_guard<std::mutex> lock(FLock);
  std::erase(FParsers, AParser);
}

std::vector<TIdFTPListParseClass> TIdFTPRegParseList::Snapshot() const {
  const std::lock_guard<std::mutex> lock(FLock);
  return FParsers;
}

TIdFTPListParseClass TIdFTPRegParseList::FindParserByIdent(const std::string& AIdent) const {
  for (TIdFTPListParseClass parser : Snapshot()) {
    if (parser->GetIdent() == AIdent) {
      return parser;
    }
  }
  return nullptr;
}

TIdFTPListParseClass TIdFTPRegParseList::FindParserByListing(
    const std::vector<std::string>& AListing, const std::string& ASysDescript,
    bool ADetails) const {
  for (TIdFTPListParseClass parser : Snapshot()) {
    if (parser->CheckListing(AListing, ASysDescript, ADetails)) {
      return parser;
    }
  }
  return nullptr;
}

bool TIdFTPRegParseList::ParseListing(const std::vector<std::string>& AListing,
                                      TIdFTPListItems& ADir, const std::string& AFormatID) const {
  ADir.Clear();
  TIdFTPListParseClass parser = FindParserByIdent(AFormatID);
  return parser != nullptr && parser->ParseListing(AListing, ADir);
}

std::string TIdFTPRegParseList::CheckListing(const std::vector<std::string>& AListing,
                                             const std::string& ASysDescript,
                                             bool ADetails) const {
  TIdFTPListParseClass parser = FindParserByListing(AListing, ASysDescript, ADetails);
  return parser != nullptr ? parser->GetIdent() : std::string();
}

bool TIdFTPRegParseList::CheckListParse(const std::vector<std::string>& AListing,
                                        TIdFTPListItems& ADir, std::string& VFormat,
                                        const std::string& ASysDescript, bool ADetails) const {
  TIdFTPListParseClass parser = FindParserByListing(AListing, ASysDescript, ADetails);
  if (parser == nullptr) {
    return false;
  }
  VFormat = parser->GetIdent();
  return ParseListing(AListing, ADir, VFormat);
}

bool TIdFTPRegParseList::CheckListParseCapa(const std::vector<std::string>& AListing,
                                            TIdFTPListItems& ADir, std::string& VFormat,
                                            TIdFTPListParseClass& VClass,
                                            const std::string& ASysDescript,
                                            bool ADetails) const {
  VFormat.clear();
  ADir.Clear();
  const std::vector<TIdFTPListParseClass> parsers = Snapshot();
  if (ADetails && std::all_of(parsers.begin(), parsers.end(), IsBuiltIn)) {
    throw EIdFTPListParseError(std::string(RSFTPListNoParsers));
  }
  VClass = FindParserByListing(AListing, ASysDescript, ADetails);
  if (VClass == nullptr) {
    return false;
  }
  VFormat = VClass->GetIdent();
  return VClass->ParseListing(AListing, ADir);
}

void TIdFTPRegParseList::EnumFTPListParsers(std::vector<std::string>& AData) const {
  AData.clear();
  for (TIdFTPListParseClass parser : Snapshot()) {
    if (!IsBuiltIn(parser)) {
      AData.push_back(parser->GetIdent());
    }
  }
}

TIdFTPRegParseList& GFTPListParsers() {
  static TIdFTPRegParseList registry;
  return registry;
}

} // namespace ftpc
