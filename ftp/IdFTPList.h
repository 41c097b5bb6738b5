// The process-wide registry of listing parsers. It starts with the name-list (NLST) and the
// machine-readable (MLST) parsers; parsers for the LIST formats of particular servers are
// added by registering them (IdFTPListParseCommon offers the common ones).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/IdException.h"
#include "ftp/IdFTPListParseBase.h"

namespace ftpc {

FTPC_DECLARE_EXCEPTION(EIdFTPListParseError, EIdException);

class TIdFTPRegParseList {
public:
  TIdFTPRegParseList();
  TIdFTPRegParseList(const TIdFTPRegParseList&) = delete;
  TIdFTPRegParseList& operator=(const TIdFTPRegParseList&) = delete;

  // Appends AParser; a parser already registered stays where it is.
  void Register(TIdFTPListParseClass AParser);
  void Unregister(TIdFTPListParseClass AParser);
  // Empties ADir, then parses with the parser whose identifier is AFormatID (exact match);
  // without one ADir stays empty. The parser's result, false when there is none.
  bool ParseListing(const std::vector<std::string>& AListing, TIdFTPListItems& ADir,
                    const std::string& AFormatID) const;
  // The identifier of the first parser that recognises the listing, or empty.
  std::string CheckListing(const std::vector<std::string>& AListing,
                           const std::string& ASysDescript = "", bool ADetails = true) const;
  // Parses with the first parser that recognises the listing, setting VFormat; false (VFormat
  // and ADir untouched) when none does.
  bool CheckListParse(const std::vector<std::string>& AListing, TIdFTPListItems& ADir,
                      std::string& VFormat, const std::string& ASysDescript = "",
                      bool ADetails = true) const;
  // As CheckListParse, but VFormat and ADir are emptied first and VClass names the parser
  // chosen (null when none). A detailed listing with only NLST and MLST registered raises
  // EIdFTPListParseError.
  bool CheckListParseCapa(const std::vector<std::string>& AListing, TIdFTPListItems& ADir,
                          std::string& VFormat, TIdFTPListParseClass& VClass,
                          const std::string& ASysDescript, bool ADetails) const;
  // The identifiers of the registered parsers other than NLST and MLST, in order.
  void EnumFTPListParsers(std::vector<std::string>& AData) const;
  TIdFTPListParseClass FindParserByIdent(const std::string& AIdent) const;
  TIdFTPListParseClass FindParserByListing(const std::vector<std::string>& AListing,
                                           const std::string& ASysDescript,
                                           bool ADetails) const;

private:
  // A copy taken under the lock, so parsing runs without it.
  std::vector<TIdFTPListParseClass> Snapshot() const;

  mutable std::mutex FLock;
  std::vector<TIdFTPListParseClass> FParsers;
};

// The one registry of the process.
TIdFTPRegParseList& GFTPListParsers();
inline void RegisterFTPListParser(TIdFTPListParseClass AParser) {
  GFTPListParsers().Register(AParser);
}
inline void UnRegisterFTPListParser(TIdFTPListParseClass AParser) {
  GFTPListParsers().Unregister(AParser);
}

} // namespace ftpc
