#include "ftp/IdFTPListTypes.h"

#include <algorithm>

namespace ftpc {

void SplitListingLines(std::string_view AText, std::vector<std::string>& VLines) {
  size_t start = 0;
  while (start < AText.size()) {
    const size_t end = AText.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      VLines.emplace_back(AText.substr(start));
      return;
    }
    VLines.emplace_back(AText.substr(start, end - start));
    start = end + 1;
    if (AText[end] == '\r' && start < AText.size() && AText[start] == '\n') {
      ++start;
    }
  }
}

void TIdFTPListResult::LoadFromText(std::string_view AText) {
  FLines.clear();
  SplitListingLines(AText, FLines);
}

// ---- TIdFTPListItem ------------------------------------------------------------------------

namespace {

bool HasLowerCaseLetter(std::string_view AText) {
  return std::any_of(AText.begin(), AText.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

} // namespace

void TIdFTPListItem::Assign(const TIdFTPListItem& ASource) {
  FData = ASource.FData;
  FItemType = ASource.FItemType;
  FSize = ASource.FSize;
  FModifiedDate = ASource.FModifiedDate;
  SetFileName(ASource.FFileName);
}

// A name listed all in capitals (an old DOS or mainframe server) is stored locally in lower case;
// a local name the application chose itself is left alone.
void TIdFTPListItem::SetFileName(std::string_view AValue) {
  const std::string& local = LocalFileName();
  const bool follows = local.empty() || TextEqualsIgnoreCase(local, FFileName);
  if (follows && !HasLowerCaseLetter(AValue)) {
    FLocalFileName = LowerCase(AValue);
    FLocalIsFileName = false;
  } else if (follows) {
    FLocalFileName.clear();
    FLocalIsFileName = true;
  }
  FFileName = AValue;
}

void TIdFTPListItem::SetLocalFileName(std::string_view AValue) {
  if (AValue == FFileName) {
    FLocalFileName.clear();
    FLocalIsFileName = true;
  } else {
    FLocalFileName = AValue;
    FLocalIsFileName = false;
  }
}

// ---- TIdFTPListItems -----------------------------------------------------------------------

TIdFTPListItem& TIdFTPListItems::Add() { return Add(std::make_unique<TIdFTPListItem>()); }

TIdFTPListItem& TIdFTPListItems::Add(std::unique_ptr<TIdFTPListItem> AItem) {
  FItems.push_back(std::move(AItem));
  return *FItems.back();
}

int TIdFTPListItems::IndexOf(const TIdFTPListItem* AItem) const {
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i].get() == AItem) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TIdFTPListItems::SetDirectoryName(const std::string& AValue) {
  if (!TextEqualsIgnoreCase(FDirectoryName, AValue)) {
    FDirectoryName = AValue;
    Clear();
  }
}

// ---- Attributes ----------------------------------------------------------------------------

namespace {

struct TAttributeLetter {
  uint32_t Bit;
  char Letter;
};

std::string LettersOf(uint32_t AAttributes, const TAttributeLetter* ALetters, size_t ACount) {
  std::string text(ACount, ' ');
  for (size_t i = 0; i < ACount; ++i) {
    if ((AAttributes & ALetters[i].Bit) != 0) {
      text[i] = ALetters[i].Letter;
    }
  }
  return text;
}

} // namespace

std::string TIdDOSAttributes::AsString() const {
  std::string text(6, ' ');
  if (Archive()) {
    text[0] = 'A';
  }
  if (System()) {
    text[3] = 'S';
  }
  if (Hidden()) {
    text[4] = 'H';
  }
  if (Read_Only()) {
    text[5] = 'R';
  }
  return text;
}

bool TIdDOSAttributes::AddAttribute(std::string_view AString) {
  for (const char c : AString) {
    switch (UpperChar(c)) {
    case 'R': SetRead_Only(true); break;
    case 'W': SetRead_Only(false); break;
    case 'A': SetArchive(true); break;
    case 'S': SetSystem(true); break;
    case 'H': SetHidden(true); break;
    case '-':
    case 'D': break;
    default: return false;
    }
  }
  return true;
}

std::string TIdWin32ea::AsString() const {
  static constexpr TAttributeLetter kLetters[] = {
      {faReadOnly, 'R'},     {faHidden, 'H'},       {faSystem, 'S'},
      {faArchive, 'A'},      {faDirectory, 'D'},    {faEncrypted, 'E'},
      {faNormal, 'N'},       {faTemporary, 'T'},    {faReparsePoint, 'J'},
      {faSparseFile, 'P'},   {faCompressed, 'C'},   {faOffline, 'O'},
      {faNotContextIndexed, 'I'}};
  return LettersOf(FileAttributes(), kLetters, std::size(kLetters));
}

} // namespace ftpc
