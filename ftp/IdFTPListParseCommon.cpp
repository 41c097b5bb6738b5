#include "ftp/IdFTPListParseCommon.h"

#include <array>
#include <optional>

#include "ftp/IdFTPList.h"
#include "global/IdGlobalProtocols.h"

namespace ftpc {

void RegisterCommonFTPListParsers() {
  RegisterFTPListParser(&TIdFTPLPUnix::Instance());
  RegisterFTPListParser(&TIdFTPLPWindowsNT::Instance());
  RegisterFTPListParser(&TIdFTPLPEPLF::Instance());
}

namespace {

// Most fields a Unix line has before its name: mode, links, owner, group, "major," minor,
// month, day, time or year.
constexpr size_t kMaxUnixFields = 9;
// Timestamps without a year lie in the past year; a date this far ahead of now belongs to the
// year before (clocks of client and server differ, and so may their zones).
constexpr TDateTime kFutureTolerance = 2.0;

struct TField {
  std::string_view Text;
  size_t End = 0; // position after the field in the line
};

bool IsBlank(char AChar) { return AChar == ' ' || AChar == '\t'; }

// Up to AMax blank-separated fields from the start of ALine.
size_t SplitFields(std::string_view ALine, TField* VFields, size_t AMax) {
  size_t count = 0;
  size_t pos = 0;
  while (count < AMax) {
    while (pos < ALine.size() && IsBlank(ALine[pos])) {
      ++pos;
    }
    if (pos >= ALine.size()) {
      break;
    }
    const size_t start = pos;
    while (pos < ALine.size() && !IsBlank(ALine[pos])) {
      ++pos;
    }
    VFields[count++] = {ALine.substr(start, pos - start), pos};
  }
  return count;
}

std::optional<int64_t> ReadNumber(std::string_view AText) {
  if (AText.empty() || AText.size() > 18) {
    return std::nullopt;
  }
  int64_t value = 0;
  for (const char c : AText) {
    if (!IsDigitChar(c)) {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

// 1 to 12 for an English month abbreviation in any case, else 0.
uint16_t MonthNumber(std::string_view AText) {
  static constexpr std::string_view kMonths = "janfebmaraprmayjunjulaugsepoctnovdec";
  if (AText.size() != 3) {
    return 0;
  }
  const char folded[3] = {static_cast<char>(AText[0] | 0x20), static_cast<char>(AText[1] | 0x20),
                          static_cast<char>(AText[2] | 0x20)};
  for (size_t i = 0; i < kMonths.size(); i += 3) {
    if (kMonths.compare(i, 3, folded, 3) == 0) {
      return static_cast<uint16_t>(i / 3 + 1);
    }
  }
  return 0;
}

// "H:MM" or "HH:MM" into hours and minutes.
bool ReadClock(std::string_view AText, uint16_t& VHour, uint16_t& VMinute) {
  const size_t colon = AText.find(':');
  if (colon == std::string_view::npos) {
    return false;
  }
  const auto hour = ReadNumber(AText.substr(0, colon));
  const auto minute = ReadNumber(AText.substr(colon + 1));
  if (!hour || !minute || *hour > 23 || *minute > 59 || AText.size() - colon != 3) {
    return false;
  }
  VHour = static_cast<uint16_t>(*hour);
  VMinute = static_cast<uint16_t>(*minute);
  return true;
}

std::optional<TDateTime> MakeDateTime(int64_t AYear, uint16_t AMonth, int64_t ADay,
                                      uint16_t AHour, uint16_t AMinute) {
  TDateTime date = 0;
  TDateTime time = 0;
  if (AYear < 1 || AYear > 9999 || ADay < 1 || ADay > 31 ||
      !TryEncodeDate(static_cast<uint16_t>(AYear), AMonth, static_cast<uint16_t>(ADay), date) ||
      !TryEncodeTime(AHour, AMinute, 0, 0, time)) {
    return std::nullopt;
  }
  return date + time;
}

// Marks a line no parser rule could read: it stays in the listing under its raw text.
bool KeepUnparsed(TIdFTPListItem& AItem) {
  AItem.SetFileName(AItem.Data());
  AItem.SetDirError(true);
  AItem.SetSizeAvail(false);
  AItem.SetModifiedAvail(false);
  return false;
}

// ---- Unix --------------------------------------------------------------------------------

TIdDirItemType UnixItemType(char ALetter) {
  switch (ALetter) {
  case 'd': return ditDirectory;
  case 'l': return ditSymbolicLink;
  case 'b': return ditBlockDev;
  case 'c': return ditCharDev;
  case 'p': return ditFIFO;
  case 's': return ditSocket;
  default: return ditFile;
  }
}

// A letter of the nine permission columns ("rwx", set-id and sticky forms, mandatory locking).
bool IsUnixRight(char AChar) {
  switch (AChar) {
  case '-': case 'r': case 'w': case 'x': case 's': case 'S': case 't': case 'T': case 'l':
  case 'L': return true;
  default: return false;
  }
}

// "-rw-r--r--", optionally followed by an ACL or context marker ("+", ".", "@").
bool IsUnixMode(std::string_view AText) {
  static constexpr std::string_view kTypes = "-dlbcpsD";
  if (AText.size() < 10 || AText.size() > 11 || kTypes.find(AText[0]) == std::string_view::npos) {
    return false;
  }
  for (size_t i = 1; i < 10; ++i) {
    if (!IsUnixRight(AText[i])) {
      return false;
    }
  }
  return AText.size() == 10 || AText[10] == '+' || AText[10] == '.' || AText[10] == '@';
}

// Asked of every line: the first letter rules out nearly all of them cheaply.
bool IsTotalLine(std::string_view ALine) {
  return !ALine.empty() && (ALine[0] == 't' || ALine[0] == 'T') && TextHasPrefix(ALine, "total ");
}

// A "Mon DD HH:MM" date: in this year, unless that lies ahead of now. A date this year's
// calendar lacks is none.
std::optional<TDateTime> RecentDate(uint16_t AMonth, int64_t ADay, uint16_t AHour,
                                    uint16_t AMinute) {
  const TIdListingMoment& now = ListingMoment();
  const auto thisYear = MakeDateTime(now.YearUTC, AMonth, ADay, AHour, AMinute);
  if (!thisYear || *thisYear <= now.NowUTC + kFutureTolerance) {
    return thisYear;
  }
  return MakeDateTime(now.YearUTC - 1, AMonth, ADay, AHour, AMinute);
}

// The date fields: month, day, and a year or a time of day.
std::optional<TDateTime> UnixDate(std::string_view AMonth, std::string_view ADay,
                                  std::string_view AYearOrTime) {
  const uint16_t month = MonthNumber(AMonth);
  const auto day = ReadNumber(ADay);
  if (month == 0 || !day) {
    return std::nullopt;
  }
  uint16_t hour = 0;
  uint16_t minute = 0;
  if (ReadClock(AYearOrTime, hour, minute)) {
    return RecentDate(month, *day, hour, minute);
  }
  const auto year = AYearOrTime.size() == 4 ? ReadNumber(AYearOrTime) : std::nullopt;
  return year ? MakeDateTime(*year, month, *day, 0, 0) : std::nullopt;
}

// The index of the month field: the first from the owner on that is followed by a valid date.
size_t FindUnixDate(const TField* AFields, size_t ACount, TDateTime& VDate) {
  for (size_t i = 3; i + 2 < ACount; ++i) {
    if (const auto date = UnixDate(AFields[i].Text, AFields[i + 1].Text, AFields[i + 2].Text)) {
      VDate = *date;
      return i;
    }
  }
  return 0;
}

// Owner, group and link count from the fields between the mode and the size.
void ReadUnixOwnership(const TField* AFields, size_t ASizeIndex, TIdUnixFTPListItem& AItem) {
  const auto links = ReadNumber(AFields[1].Text);
  const size_t owner = links ? 2 : 1;
  AItem.SetNumberOfLinks(links.value_or(0));
  if (owner < ASizeIndex) {
    AItem.SetOwnerName(AFields[owner].Text);
  }
  if (owner + 1 < ASizeIndex) {
    AItem.SetGroupName(AFields[owner + 1].Text);
  }
}

// The name follows the date after one blank; further blanks belong to the name.
void ReadUnixName(std::string_view ALine, size_t ANameStart, TIdUnixFTPListItem& AItem) {
  std::string_view name = ALine.substr(ANameStart);
  if (AItem.ItemType() == ditSymbolicLink) {
    const size_t arrow = name.find(" -> ");
    if (arrow != std::string_view::npos) {
      AItem.SetLinkedItemName(name.substr(arrow + 4));
      name = name.substr(0, arrow);
    }
  }
  AItem.SetFileName(name);
}

bool FillUnixItem(TIdUnixFTPListItem& AItem) {
  const std::string_view line = AItem.Data();
  std::array<TField, kMaxUnixFields> fields;
  const size_t count = SplitFields(line, fields.data(), fields.size());
  TDateTime date = 0;
  const size_t month = count > 0 && IsUnixMode(fields[0].Text)
                           ? FindUnixDate(fields.data(), count, date)
                           : 0;
  if (month == 0) {
    return KeepUnparsed(AItem);
  }
  AItem.SetItemType(UnixItemType(fields[0].Text[0]));
  AItem.SetPermissionDisplay(fields[0].Text.substr(0, 10));
  const bool device = AItem.ItemType() == ditBlockDev || AItem.ItemType() == ditCharDev;
  const auto size = device ? std::nullopt : ReadNumber(fields[month - 1].Text);
  AItem.SetSizeAvail(size.has_value());
  AItem.SetSize(size.value_or(0));
  // "1, 3" (major, minor) takes two fields, "1,3" one.
  const bool splitDevice = device && TextHasSuffix(fields[month - 2].Text, ",");
  ReadUnixOwnership(fields.data(), splitDevice ? month - 2 : month - 1, AItem);
  AItem.SetModifiedDate(date);
  AItem.SetModifiedAvail(true);
  const size_t dateEnd = fields[month + 2].End;
  ReadUnixName(line, dateEnd < line.size() ? dateEnd + 1 : dateEnd, AItem);
  return true;
}

// ---- DOS ----------------------------------------------------------------------------------

// After "<DIR>" IIS pads to the column where sizes end and adds one blank.
constexpr size_t kDirPadding = 10;

// "MM-DD-YY" or "MM-DD-YYYY"; two-digit years below 70 are 20xx.
bool ReadDosDate(std::string_view AText, int64_t& VYear, uint16_t& VMonth, int64_t& VDay) {
  if ((AText.size() != 8 && AText.size() != 10) || AText[2] != '-' || AText[5] != '-') {
    return false;
  }
  const auto month = ReadNumber(AText.substr(0, 2));
  const auto day = ReadNumber(AText.substr(3, 2));
  const auto year = ReadNumber(AText.substr(6));
  if (!month || !day || !year || *month < 1 || *month > 12) {
    return false;
  }
  VYear = AText.size() == 10 ? *year : *year + (*year < 70 ? 2000 : 1900);
  VMonth = static_cast<uint16_t>(*month);
  VDay = *day;
  return true;
}

// "15:04", "03:04PM" or "12:30AM".
bool ReadDosTime(std::string_view AText, uint16_t& VHour, uint16_t& VMinute) {
  const bool pm = TextHasSuffix(UpperCase(AText), "PM");
  const bool am = TextHasSuffix(UpperCase(AText), "AM");
  if (!ReadClock(am || pm ? AText.substr(0, AText.size() - 2) : AText, VHour, VMinute)) {
    return false;
  }
  if (am || pm) {
    if (VHour < 1 || VHour > 12) {
      return false;
    }
    VHour = static_cast<uint16_t>(VHour % 12 + (pm ? 12 : 0));
  }
  return true;
}

std::optional<TDateTime> DosDateTime(std::string_view ADate, std::string_view ATime) {
  int64_t year = 0;
  uint16_t month = 0;
  int64_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  if (!ReadDosDate(ADate, year, month, day) || !ReadDosTime(ATime, hour, minute)) {
    return std::nullopt;
  }
  return MakeDateTime(year, month, day, hour, minute);
}

size_t SkipBlanks(std::string_view ALine, size_t APos, size_t AMax) {
  const size_t limit = APos + AMax;
  while (APos < ALine.size() && APos < limit && IsBlank(ALine[APos])) {
    ++APos;
  }
  return APos;
}

bool FillDosItem(TIdFTPListItem& AItem) {
  const std::string_view line = AItem.Data();
  std::array<TField, 3> fields;
  const size_t count = SplitFields(line, fields.data(), fields.size());
  const auto date = count == 3 ? DosDateTime(fields[0].Text, fields[1].Text) : std::nullopt;
  const bool dir = count == 3 && TextEqualsIgnoreCase(fields[2].Text, "<DIR>");
  const auto size = count == 3 && !dir ? ReadNumber(fields[2].Text) : std::nullopt;
  if (!date || (!dir && !size) || fields[2].End >= line.size()) {
    return KeepUnparsed(AItem);
  }
  AItem.SetItemType(dir ? ditDirectory : ditFile);
  AItem.SetSizeAvail(!dir);
  AItem.SetSize(size.value_or(0));
  AItem.SetModifiedDate(*date);
  AItem.SetModifiedAvail(true);
  const size_t nameStart = SkipBlanks(line, fields[2].End, dir ? kDirPadding : 1);
  AItem.SetFileName(line.substr(nameStart));
  return true;
}

// ---- EPLF ---------------------------------------------------------------------------------

bool FillEplfItem(TIdFTPListItem& AItem) {
  const std::string_view line = AItem.Data();
  const size_t tab = line.find('\t');
  if (line.empty() || line[0] != '+' || tab == std::string_view::npos) {
    return KeepUnparsed(AItem);
  }
  std::string_view facts = line.substr(1, tab - 1);
  AItem.SetSizeAvail(false);
  AItem.SetModifiedAvail(false);
  std::string_view mode;
  while (!facts.empty()) {
    const size_t comma = facts.find(',');
    const std::string_view fact = facts.substr(0, comma);
    facts = comma == std::string_view::npos ? std::string_view() : facts.substr(comma + 1);
    if (fact == "/") {
      AItem.SetItemType(ditDirectory);
    } else if (fact.size() > 1 && fact[0] == 's') {
      const auto size = ReadNumber(fact.substr(1));
      AItem.SetSizeAvail(size.has_value());
      AItem.SetSize(size.value_or(0));
    } else if (fact.size() > 1 && fact[0] == 'm') {
      if (const auto seconds = ReadNumber(fact.substr(1))) {
        AItem.SetModifiedDateGMT(UnixToDateTime(*seconds));
        AItem.SetModifiedDate(AItem.ModifiedDateGMT() + UtcOffsetOfLocalTime());
        AItem.SetModifiedAvail(true);
      }
    } else if (TextHasPrefix(fact, "up")) {
      mode = fact.substr(2);
    }
  }
  if (const auto value = ReadNumber(mode)) {
    AItem.SetPermissionDisplay(
        UnixModeToPermissionText(*value, AItem.ItemType() == ditDirectory ? 'd' : '-'));
  }
  AItem.SetFileName(line.substr(tab + 1));
  return true;
}

// The first line that is neither empty nor a "total" line.
const std::string* FirstEntry(const std::vector<std::string>& AListing) {
  for (const std::string& line : AListing) {
    if (!line.empty() && !IsTotalLine(line)) {
      return &line;
    }
  }
  return nullptr;
}

} // namespace

// ---- TIdFTPLPUnix ------------------------------------------------------------------------

const TIdFTPLPUnix& TIdFTPLPUnix::Instance() {
  static const TIdFTPLPUnix instance;
  return instance;
}

TIdFTPListItem& TIdFTPLPUnix::CreateListItem(TIdFTPListItems& AOwner) const {
  return AOwner.Add(std::make_unique<TIdUnixFTPListItem>());
}

bool TIdFTPLPUnix::FillItemFromLine(TIdFTPListItem& AItem, const std::string& /*APath*/) const {
  auto* item = dynamic_cast<TIdUnixFTPListItem*>(&AItem);
  return item != nullptr ? FillUnixItem(*item) : KeepUnparsed(AItem);
}

bool TIdFTPLPUnix::CheckListing(const std::vector<std::string>& AListing,
                                const std::string& /*ASysDescript*/, bool ADetails) const {
  const std::string* first = FirstEntry(AListing);
  std::array<TField, 1> mode;
  return ADetails && first != nullptr && SplitFields(*first, mode.data(), 1) == 1 &&
         IsUnixMode(mode[0].Text);
}

bool TIdFTPLPUnix::IsEntryLine(const std::string& ALine) const {
  return !ALine.empty() && !IsTotalLine(ALine);
}

// ---- TIdFTPLPWindowsNT -------------------------------------------------------------------

const TIdFTPLPWindowsNT& TIdFTPLPWindowsNT::Instance() {
  static const TIdFTPLPWindowsNT instance;
  return instance;
}

bool TIdFTPLPWindowsNT::FillItemFromLine(TIdFTPListItem& AItem,
                                         const std::string& /*APath*/) const {
  return FillDosItem(AItem);
}

bool TIdFTPLPWindowsNT::CheckListing(const std::vector<std::string>& AListing,
                                     const std::string& /*ASysDescript*/, bool ADetails) const {
  const std::string* first = FirstEntry(AListing);
  std::array<TField, 2> fields;
  return ADetails && first != nullptr && SplitFields(*first, fields.data(), 2) == 2 &&
         DosDateTime(fields[0].Text, fields[1].Text).has_value();
}

// ---- TIdFTPLPEPLF ------------------------------------------------------------------------

const TIdFTPLPEPLF& TIdFTPLPEPLF::Instance() {
  static const TIdFTPLPEPLF instance;
  return instance;
}

bool TIdFTPLPEPLF::FillItemFromLine(TIdFTPListItem& AItem, const std::string& /*APath*/) const {
  return FillEplfItem(AItem);
}

bool TIdFTPLPEPLF::CheckListing(const std::vector<std::string>& AListing,
                                const std::string& /*ASysDescript*/, bool ADetails) const {
  const std::string* first = FirstEntry(AListing);
  return ADetails && first != nullptr && (*first)[0] == '+' &&
         first->find('\t') != std::string::npos;
}

} // namespace ftpc
