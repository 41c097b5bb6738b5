// Listing parsers: the base every format parser derives from, and the two the library always
// registers, for name lists (NLST) and machine-readable listings (MLSD/MLST, RFC 3659).
// A parser is stateless; the registry holds one shared instance of each (its "class").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ftp/IdFTPListTypes.h"

namespace ftpc {

class TIdFTPListBase {
public:
  virtual ~TIdFTPListBase() = default;
  // A new item of the parser's item class, appended to AOwner.
  virtual TIdFTPListItem& CreateListItem(TIdFTPListItems& AOwner) const;
  // Fills AItem from its Data; base: does nothing and returns false.
  virtual bool FillItemFromLine(TIdFTPListItem& AItem, const std::string& APath) const;
  // The format identifier; base: empty.
  virtual std::string GetIdent() const { return {}; }
  // Whether the parser recognises the listing; base: false.
  virtual bool CheckListing(const std::vector<std::string>& AListing,
                            const std::string& ASysDescript, bool ADetails) const;
  // One item per entry line (see IsEntryLine), in order, Data holding the line; always true.
  virtual bool ParseListing(const std::vector<std::string>& AListing,
                            TIdFTPListItems& ADir) const;

protected:
  // Whether a line of the listing is an entry; base: every non-empty line.
  virtual bool IsEntryLine(const std::string& ALine) const { return !ALine.empty(); }
};

// A parser "class": the shared instance the registry hands out.
using TIdFTPListParseClass = const TIdFTPListBase*;

// NLST output: each line is a name.
class TIdFTPLPNList : public TIdFTPListBase {
public:
  static const TIdFTPLPNList& Instance();
  bool FillItemFromLine(TIdFTPListItem& AItem, const std::string& APath) const override;
  std::string GetIdent() const override { return "NLST"; }
  // True exactly for a name list (ADetails false).
  bool CheckListing(const std::vector<std::string>& AListing, const std::string& ASysDescript,
                    bool ADetails) const override;
};

// MLSD lines and MLST fact lines: "fact=value;fact=value; name". Chosen by identifier only.
class TIdFTPLPMList : public TIdFTPListBase {
public:
  static const TIdFTPLPMList& Instance();
  TIdFTPListItem& CreateListItem(TIdFTPListItems& AOwner) const override;
  bool FillItemFromLine(TIdFTPListItem& AItem, const std::string& APath) const override;
  std::string GetIdent() const override { return "MLST"; }
};

// The moment a listing is read at. ParseListing asks the clock and the local time zone once and
// every line of that listing sees the same values; a line parsed on its own (FillItemFromLine
// called directly) asks afresh.
struct TIdListingMoment {
  TDateTime NowUTC = 0;
  uint16_t YearUTC = 0;
};
const TIdListingMoment& ListingMoment();
// The local zone's offset east of UTC in milliseconds, at the same moment.
int64_t ListingLocalOffsetMilliseconds();

// The ten-character permission text of a UNIX.mode fact value ("0755" with a directory gives
// "drwxr-xr-x"); the value is read as a decimal number whose digits are the octal digits.
std::string UnixModeToPermissionText(int64_t AMode, char ATypeLetter);

} // namespace ftpc
