#include "core/IdReply.h"

#include "base/IdResourceStrings.h"
#include "global/IdGlobal.h"

namespace ftpc {

namespace {

// Splits at CR LF, CR or LF; a break at the very end does not start another line.
std::vector<std::string> SplitLines(std::string_view AText) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < AText.size()) {
    const size_t end = AText.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(AText.substr(start));
      break;
    }
    lines.emplace_back(AText.substr(start, end - start));
    const bool crlf = AText[end] == '\r' && end + 1 < AText.size() && AText[end + 1] == '\n';
    start = end + (crlf ? 2 : 1);
  }
  return lines;
}

std::unique_ptr<TIdReply> CreateReply(TIdReplies* ACollection, TIdReplies* AReplyTexts) {
  return std::make_unique<TIdReply>(ACollection, AReplyTexts);
}

} // namespace

// ---- TIdReply -----------------------------------------------------------------------------

TIdReply::TIdReply(TIdReplies* ACollection, TIdReplies* AReplyTexts)
    : FReplyTexts(AReplyTexts), FCollection(ACollection) {}

const TIdReplyClass& TIdReply::ReplyClass() {
  static constexpr TIdReplyClass kClass{"TIdReply", &CreateReply, &TIdReply::IsEndMarker};
  return kClass;
}

bool TIdReply::IsEndMarker(std::string_view /*ALine*/) { return false; }

void TIdReply::Assign(const TIdReply& ASource) {
  if (&ASource == this) {
    return; // assigning the code could otherwise empty the very text about to be copied
  }
  SetCode(ASource.Code());
  FText = ASource.FText;
}

void TIdReply::Clear() {
  FText.clear();
  FCode.clear();
}

void TIdReply::RaiseReplyError() const { RaiseAssertionFailure("TIdReply.RaiseReplyError"); }

bool TIdReply::ReplyExists() const { return !FCode.empty(); }

std::vector<std::string> TIdReply::FormattedReply() const { return {}; }

void TIdReply::SetFormattedReply(const std::vector<std::string>& /*AValue*/) {
  RaiseAssertionFailure("TIdReply.SetFormattedReply");
}

void TIdReply::SetReply(int ACode, std::string_view AText) {
  SetReply(std::to_string(ACode), AText);
}

void TIdReply::SetReply(const std::string& ACode, std::string_view AText) {
  SetCode(ACode);
  FText = SplitLines(AText);
}

void TIdReply::UpdateText() {
  if (FReplyTexts != nullptr) {
    FReplyTexts->UpdateText(this);
  }
}

void TIdReply::SetCode(const std::string& AValue) {
  if (AValue == FCode) {
    return;
  }
  if (!CodeIsValid(AValue)) {
    throw EIdException(FormatInvariant(RSReplyInvalidCode, {AValue}));
  }
  if (FCollection != nullptr && FCollection->Find(AValue, this) != nullptr) {
    throw EIdException(FormatInvariant(RSReplyCodeAlreadyExists, {AValue}));
  }
  Clear();
  FCode = AValue;
}

int TIdReply::NumericCode() const { return ParseTrimmedInt(FCode, 0); }

void TIdReply::SetNumericCode(int AValue) { SetCode(std::to_string(AValue)); }

namespace {

std::string JoinLines(const std::vector<std::string>& ALines, bool AEndEveryLine) {
  std::string result;
  for (size_t i = 0; i < ALines.size(); ++i) {
    if (i > 0 && !AEndEveryLine) {
      result += "\r\n";
    }
    result += ALines[i];
    if (AEndEveryLine) {
      result += "\r\n";
    }
  }
  return result;
}

} // namespace

std::string TIdReply::FirstTextLine() const {
  return FText.empty() ? std::string() : FText.front();
}

std::string TIdReply::TextWithLineEnds() const { return JoinLines(FText, true); }

std::string TIdReply::JoinedText() const { return JoinLines(FText, false); }

std::string TIdReply::FormattedText() const { return JoinLines(FormattedReply(), false); }

std::string TIdReply::DisplayName() const {
  return FText.empty() ? FCode : FCode + " " + FText.front();
}

bool TIdReply::CodeIsValid(std::string_view /*ACode*/) const { return true; }

// ---- TIdReplies ---------------------------------------------------------------------------

TIdReplies::TIdReplies(TObject* AOwner, const TIdReplyClass& AReplyClass)
    : FOwner(AOwner), FReplyClass(&AReplyClass) {}

TIdReplies::~TIdReplies() = default;

TIdReply* TIdReplies::Add() {
  FItems.push_back(FReplyClass->CreateWithReplyTexts(this, nullptr));
  return FItems.back().get();
}

TIdReply* TIdReplies::Add(int ACode, std::string_view AText) {
  return Add(std::to_string(ACode), AText);
}

TIdReply* TIdReplies::Add(const std::string& ACode, std::string_view AText) {
  TIdReply* item = Add();
  try {
    item->SetReply(ACode, AText);
  } catch (...) {
    FItems.pop_back();
    throw;
  }
  return item;
}

TIdReply* TIdReplies::Find(const std::string& ACode, const TIdReply* AIgnore) const {
  if (ACode.empty()) {
    return nullptr;
  }
  for (const auto& item : FItems) {
    if (item.get() != AIgnore && item->Code() == ACode) {
      return item.get();
    }
  }
  return nullptr;
}

void TIdReplies::UpdateText(TIdReply* AReply) const {
  if (!AReply->Text().empty()) {
    return;
  }
  if (const TIdReply* found = Find(AReply->Code(), AReply)) {
    AReply->SetText(found->Text());
  }
}

TIdReply* TIdReplies::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) {
    RaiseAssertionFailure("TIdReplies.Items");
  }
  return FItems[static_cast<size_t>(AIndex)].get();
}

void TIdReplies::Delete(int AIndex) {
  if (AIndex < 0 || AIndex >= Count()) {
    RaiseAssertionFailure("TIdReplies.Delete");
  }
  FItems.erase(FItems.begin() + AIndex);
}

void TIdReplies::Clear() { FItems.clear(); }

} // namespace ftpc
