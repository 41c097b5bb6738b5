#include "ftp/IdFTPListParseBase.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "global/IdGlobalProtocols.h"

namespace ftpc {

// ---- The moment of a listing ----------------------------------------------------------------

namespace {

// What the listing being parsed on this thread has asked so far; Depth 0: no listing.
struct TListingMomentCache {
  int Depth = 0;
  bool HaveMoment = false;
  bool HaveOffset = false;
  TIdListingMoment Moment;
  int64_t OffsetMs = 0;
};

thread_local TListingMomentCache gListingMoment;

// Keeps what the lines of one listing ask for until the listing is parsed.
class TListingMomentScope {
public:
  TListingMomentScope() { ++gListingMoment.Depth; }
  ~TListingMomentScope() {
    if (--gListingMoment.Depth == 0) {
      gListingMoment.HaveMoment = false;
      gListingMoment.HaveOffset = false;
    }
  }
  TListingMomentScope(const TListingMomentScope&) = delete;
  TListingMomentScope& operator=(const TListingMomentScope&) = delete;
};

} // namespace

const TIdListingMoment& ListingMoment() {
  TListingMomentCache& cache = gListingMoment;
  if (cache.Depth == 0 || !cache.HaveMoment) {
    cache.Moment.NowUTC = NowUTC();
    cache.Moment.YearUTC = DecodeDateTime(cache.Moment.NowUTC).Year;
    cache.HaveMoment = cache.Depth > 0;
  }
  return cache.Moment;
}

int64_t ListingLocalOffsetMilliseconds() {
  TListingMomentCache& cache = gListingMoment;
  if (cache.Depth == 0 || !cache.HaveOffset) {
    cache.OffsetMs = std::llround(UtcOffsetOfLocalTime() * MSecsPerDay);
    cache.HaveOffset = cache.Depth > 0;
  }
  return cache.OffsetMs;
}

// ---- TIdFTPListBase ------------------------------------------------------------------------

TIdFTPListItem& TIdFTPListBase::CreateListItem(TIdFTPListItems& AOwner) const {
  return AOwner.Add();
}

bool TIdFTPListBase::FillItemFromLine(TIdFTPListItem& /*AItem*/,
                                      const std::string& /*APath*/) const {
  return false;
}

bool TIdFTPListBase::CheckListing(const std::vector<std::string>& /*AListing*/,
                                  const std::string& /*ASysDescript*/,
                                  bool /*ADetails*/) const {
  return false;
}

bool TIdFTPListBase::ParseListing(const std::vector<std::string>& AListing,
                                  TIdFTPListItems& ADir) const {
  const TListingMomentScope moment;
  ADir.Reserve(ADir.Count() + static_cast<int>(AListing.size()));
  for (const std::string& line : AListing) {
    if (!IsEntryLine(line)) {
      continue;
    }
    TIdFTPListItem& item = CreateListItem(ADir);
    item.SetData(line);
    FillItemFromLine(item, std::string());
  }
  return true;
}

// ---- TIdFTPLPNList -------------------------------------------------------------------------

const TIdFTPLPNList& TIdFTPLPNList::Instance() {
  static const TIdFTPLPNList instance;
  return instance;
}

bool TIdFTPLPNList::FillItemFromLine(TIdFTPListItem& AItem, const std::string& /*APath*/) const {
  AItem.SetFileName(AItem.Data());
  return true;
}

bool TIdFTPLPNList::CheckListing(const std::vector<std::string>& /*AListing*/,
                                 const std::string& /*ASysDescript*/, bool ADetails) const {
  return !ADetails;
}

// ---- TIdFTPLPMList -------------------------------------------------------------------------

namespace {

constexpr int kHexBase = 16;
constexpr int64_t kDecimalBase = 10;
// "win32.ea" holds a 32-bit attribute set: at most eight hexadecimal digits.
constexpr size_t kMaxAttributeDigits = 8;

// The facts the parser reads; a fact that is absent has a null Value.
struct TMLSTFacts {
  std::string_view Type, Modify, Create, LastAccess, Size, Sizd, Perm, UnixMode, Unique, Win32ea;
};

std::string_view* FactSlot(TMLSTFacts& AFacts, std::string_view AName) {
  struct TSlot {
    std::string_view Name;
    std::string_view TMLSTFacts::*Field;
  };
  static constexpr TSlot kSlots[] = {
      {"type", &TMLSTFacts::Type},       {"modify", &TMLSTFacts::Modify},
      {"size", &TMLSTFacts::Size},       {"perm", &TMLSTFacts::Perm},
      {"unique", &TMLSTFacts::Unique},   {"create", &TMLSTFacts::Create},
      {"sizd", &TMLSTFacts::Sizd},       {"UNIX.mode", &TMLSTFacts::UnixMode},
      {"win32.ea", &TMLSTFacts::Win32ea}, {"windows.lastaccesstime", &TMLSTFacts::LastAccess}};
  // Servers send the names as written above; the comparison ignoring case runs only for a
  // name written otherwise. Only names whose length and first letter match are compared at all
  // (this runs for every fact of every line).
  constexpr char kLowerCaseBit = 0x20;
  if (AName.empty()) {
    return nullptr;
  }
  const char first = static_cast<char>(AName[0] | kLowerCaseBit);
  for (const TSlot& slot : kSlots) {
    if (AName.size() == slot.Name.size() && first == (slot.Name[0] | kLowerCaseBit) &&
        (AName == slot.Name || TextEqualsIgnoreCase(AName, slot.Name))) {
      return &(AFacts.*slot.Field);
    }
  }
  return nullptr;
}

// Splits "name=value;name=value;" into the facts the parser knows; the first of a repeated fact
// counts. A present fact with an empty value gets a non-null empty view.
TMLSTFacts ReadFacts(std::string_view AFactList) {
  static constexpr std::string_view kEmpty = "";
  TMLSTFacts facts;
  while (!AFactList.empty()) {
    const size_t end = AFactList.find(';');
    const std::string_view fact = AFactList.substr(0, end);
    AFactList = end == std::string_view::npos ? std::string_view() : AFactList.substr(end + 1);
    const size_t eq = fact.find('=');
    std::string_view* slot = FactSlot(facts, fact.substr(0, eq));
    if (slot != nullptr && slot->data() == nullptr) {
      *slot = eq == std::string_view::npos ? kEmpty : fact.substr(eq + 1);
    }
  }
  return facts;
}

bool Present(std::string_view AFact) { return AFact.data() != nullptr; }

// The value of a run of decimal digits short enough not to overflow.
int64_t DigitsValue(std::string_view ADigits) {
  int64_t value = 0;
  for (const char c : ADigits) {
    value = value * kDecimalBase + (c - '0');
  }
  return value;
}

// Digits alone, few enough that they cannot overflow 64 bits: what servers send.
bool IsPlainDigits(std::string_view AValue) {
  constexpr size_t kPlainDigits = 18;
  return !AValue.empty() && AValue.size() <= kPlainDigits && AreAllDigits(AValue);
}

// A fact's number: plain digits read directly, anything else as the general integer syntax
// (0 when it is not an integer).
int64_t FactNumber(std::string_view AValue) {
  return IsPlainDigits(AValue) ? DigitsValue(AValue) : ParseTrimmedInt64(AValue, 0);
}

bool IsPlainInteger(std::string_view AValue) {
  return IsPlainDigits(AValue) || IsIntegerText(AValue);
}

// "YYYYMMDDHHMMSS", then optionally "." and the fraction's digits: what servers send.
constexpr size_t kStampDigits = 14;
constexpr size_t kFractionDigits = 3; // milliseconds
constexpr int64_t kHoursPerDay = 24;
constexpr int64_t kMinutesPerHour = 60;
constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kMillisecondsPerSecond = 1000;

// The milliseconds of a stamp in the plain form above with a valid date and time, read in one
// pass; nothing for any other stamp, which the general time-stamp reader takes.
std::optional<int64_t> PlainStampMilliseconds(std::string_view AStamp) {
  const std::string_view fraction =
      AStamp.size() > kStampDigits + 1 && AStamp[kStampDigits] == '.'
          ? AStamp.substr(kStampDigits + 1)
          : std::string_view();
  if (AStamp.size() < kStampDigits || !AreAllDigits(AStamp.substr(0, kStampDigits)) ||
      (AStamp.size() > kStampDigits && (fraction.empty() || !AreAllDigits(fraction)))) {
    return std::nullopt;
  }
  const auto field = [AStamp](size_t AAt, size_t ALength) {
    return DigitsValue(AStamp.substr(AAt, ALength));
  };
  int64_t milliseconds = 0;
  for (size_t i = 0; i < kFractionDigits; ++i) {
    milliseconds = milliseconds * kDecimalBase + (i < fraction.size() ? fraction[i] - '0' : 0);
  }
  const int64_t hour = field(8, 2);
  const int64_t minute = field(10, 2);
  const int64_t second = field(12, 2);
  TDateTime date = 0;
  if (!TryEncodeDate(static_cast<uint16_t>(field(0, 4)), static_cast<uint16_t>(field(4, 2)),
                     static_cast<uint16_t>(field(6, 2)), date) ||
      hour >= kHoursPerDay || minute >= kMinutesPerHour || second >= kSecondsPerMinute) {
    return std::nullopt;
  }
  return static_cast<int64_t>(date) * MSecsPerDay +
         ((hour * kMinutesPerHour + minute) * kSecondsPerMinute + second) * kMillisecondsPerSecond +
         milliseconds;
}

// The UTC and local forms of a time-stamp fact. A stamp with an impossible date leaves both 0
// and says so: one bad entry must not cost the whole listing.
bool ReadStamp(std::string_view AStamp, TDateTime& VUtc, TDateTime& VLocal) {
  try {
    const std::optional<int64_t> plain = PlainStampMilliseconds(AStamp);
    VUtc = plain ? MillisecondsToDateTime(*plain) : TimeStampToUtcDateTime(AStamp);
    // What TimeStampToLocalDateTime gives, without reading the stamp twice.
    const int64_t utcMs = plain ? *plain : DateTimeToMilliseconds(VUtc);
    VLocal = AStamp.empty() ? 0 : MillisecondsToDateTime(utcMs + ListingLocalOffsetMilliseconds());
    return true;
  } catch (const EIdConvertError&) {
    VUtc = 0;
    VLocal = 0;
    return false;
  }
}

char TypeLetter(TIdDirItemType AType) {
  switch (AType) {
  case ditDirectory: return 'd';
  case ditSymbolicLink:
  case ditSymbolicLinkDir: return 'l';
  case ditBlockDev: return 'b';
  case ditCharDev: return 'c';
  case ditFIFO: return 'p';
  case ditSocket: return 's';
  case ditFile: break;
  }
  return '-';
}

void ReadTimes(const TMLSTFacts& AFacts, TIdMLSTFTPListItem& AItem) {
  TDateTime utc = 0;
  TDateTime local = 0;
  AItem.SetModifiedAvail(Present(AFacts.Modify) && ReadStamp(AFacts.Modify, utc, local));
  AItem.SetModifiedDateGMT(utc);
  AItem.SetModifiedDate(local);
  if (Present(AFacts.Create) && ReadStamp(AFacts.Create, utc, local)) {
    AItem.SetCreationDateGMT(utc);
    AItem.SetCreationDate(local);
  }
  if (Present(AFacts.LastAccess) && ReadStamp(AFacts.LastAccess, utc, local)) {
    AItem.SetLastAccessDateGMT(utc);
    AItem.SetLastAccessDate(local);
  }
}

void ReadSize(const TMLSTFacts& AFacts, TIdMLSTFTPListItem& AItem) {
  std::string_view size = AFacts.Size;
  if (!Present(size) && AItem.ItemType() == ditDirectory) {
    size = AFacts.Sizd;
  }
  AItem.SetSizeAvail(Present(size));
  AItem.SetSize(Present(size) ? FactNumber(size) : 0);
}

void ReadPermissions(const TMLSTFacts& AFacts, TIdMLSTFTPListItem& AItem) {
  if (Present(AFacts.Perm)) {
    AItem.SetMLISTPermissions(AFacts.Perm);
    AItem.SetPermissionDisplay(AFacts.Perm);
  } else if (Present(AFacts.UnixMode)) {
    AItem.SetPermissionDisplay(
        IsPlainInteger(AFacts.UnixMode)
            ? UnixModeToPermissionText(FactNumber(AFacts.UnixMode),
                                       TypeLetter(AItem.ItemType()))
            : std::string(AFacts.UnixMode));
  }
}

// "win32.ea=0x00000021": the hexadecimal digits after the first "x".
void ReadWin32Attributes(std::string_view AValue, TIdMLSTFTPListItem& AItem) {
  const size_t x = AValue.find('x');
  const std::string_view digits = x == std::string_view::npos ? AValue : AValue.substr(x + 1);
  uint32_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, kHexBase);
  if (digits.size() > kMaxAttributeDigits || error != std::errc() ||
      end != digits.data() + digits.size()) {
    value = 0;
  }
  AItem.Attributes().SetFileAttributes(value);
  AItem.SetAttributesAvail(true);
}

} // namespace

const TIdFTPLPMList& TIdFTPLPMList::Instance() {
  static const TIdFTPLPMList instance;
  return instance;
}

TIdFTPListItem& TIdFTPLPMList::CreateListItem(TIdFTPListItems& AOwner) const {
  return AOwner.Add(std::make_unique<TIdMLSTFTPListItem>());
}

// "type=file;size=1024;modify=20240102030405;perm=rw; notes file.txt" (RFC 3659 section 7.2):
// the facts end at the first space, and everything after it is the name, spaces included.
bool TIdFTPLPMList::FillItemFromLine(TIdFTPListItem& AItem, const std::string& /*APath*/) const {
  auto* item = dynamic_cast<TIdMLSTFTPListItem*>(&AItem);
  if (item == nullptr) {
    return false;
  }
  const std::string_view data = item->Data();
  const size_t space = data.find(' ');
  const TMLSTFacts facts = ReadFacts(data.substr(0, space));
  const std::string_view name =
      space == std::string_view::npos ? std::string_view() : data.substr(space + 1);
  item->SetFileName(name);
  item->SetLocalFileName(name);
  item->SetItemType(facts.Type == "cdir" || facts.Type == "pdir" || facts.Type == "dir"
                        ? ditDirectory
                        : ditFile);
  ReadTimes(facts, *item);
  ReadSize(facts, *item);
  ReadPermissions(facts, *item);
  item->SetUniqueID(facts.Unique);
  if (Present(facts.Win32ea)) {
    ReadWin32Attributes(facts.Win32ea, *item);
  }
  return true;
}

std::string UnixModeToPermissionText(int64_t AMode, char ATypeLetter) {
  const int64_t special = (AMode / 1000) & 7;
  const int64_t digits[3] = {(AMode % 1000) / 100, (AMode % 100) / 10, AMode % 10};
  static constexpr int64_t kSpecialBit[3] = {4, 2, 1}; // set-user-id, set-group-id, sticky
  static constexpr char kSpecialLetter[3] = {'s', 's', 't'};
  std::string text(1, ATypeLetter);
  for (int i = 0; i < 3; ++i) {
    text += (digits[i] & 4) != 0 ? 'r' : '-';
    text += (digits[i] & 2) != 0 ? 'w' : '-';
    text += (special & kSpecialBit[i]) != 0 ? kSpecialLetter[i]
            : (digits[i] & 1) != 0          ? 'x'
                                            : '-';
  }
  return text;
}

} // namespace ftpc
