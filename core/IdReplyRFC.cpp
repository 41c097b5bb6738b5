#include "core/IdReplyRFC.h"

#include "global/IdGlobal.h"

namespace ftpc {

namespace {

constexpr int kLowestCode = 100;
constexpr int kHighestCode = 999;
// "250-a": three digits, then the separator at this 0-based position.
constexpr size_t kSeparatorPos = 3;

std::unique_ptr<TIdReply> CreateReplyRFC(TIdReplies* ACollection, TIdReplies* AReplyTexts) {
  return std::make_unique<TIdReplyRFC>(ACollection, AReplyTexts);
}

} // namespace

const TIdReplyClass& TIdReplyRFC::ReplyClass() {
  static constexpr TIdReplyClass kClass{"TIdReplyRFC", &CreateReplyRFC, &TIdReplyRFC::IsEndMarker};
  return kClass;
}

std::string TIdReplyRFC::LineFrom(const std::string& ALine, size_t APos) {
  return APos < ALine.size() ? ALine.substr(APos) : std::string();
}

bool TIdReplyRFC::IsEndMarker(std::string_view ALine) {
  return ALine.size() <= kSeparatorPos || ALine[kSeparatorPos] == ' ';
}

void TIdReplyRFC::Assign(const TIdReply& ASource) {
  const auto* source = dynamic_cast<const TIdReplyRFC*>(&ASource);
  if (source == nullptr) {
    TIdReply::Assign(ASource);
    return;
  }
  if (source == this) {
    return;
  }
  SetNumericCode(source->NumericCode());
  FText = source->FText;
}

void TIdReplyRFC::RaiseReplyError() const {
  throw EIdReplyRFCError(NumericCode(), TextWithLineEnds());
}

bool TIdReplyRFC::ReplyExists() const { return NumericCode() >= 1 || !FText.empty(); }

std::vector<std::string> TIdReplyRFC::FormattedReply() const { return FormatLines(false); }

void TIdReplyRFC::SetFormattedReply(const std::vector<std::string>& AValue) {
  Clear();
  if (AValue.empty()) {
    return;
  }
  SetCode(Trim(AValue.front().substr(0, kSeparatorPos)));
  for (const std::string& line : AValue) {
    FText.push_back(LineFrom(line, kSeparatorPos + 1));
  }
}

bool TIdReplyRFC::CodeIsValid(std::string_view ACode) const {
  const int value = ParseTrimmedInt(ACode, 0);
  return (value >= kLowestCode && value <= kHighestCode) || Trim(ACode).empty();
}

std::vector<std::string> TIdReplyRFC::FormatLines(bool AIndentMidLines) const {
  const int code = NumericCode();
  if (code < 1) {
    return FText;
  }
  const std::string codeText = std::to_string(code);
  if (FText.empty()) {
    return {codeText};
  }
  std::vector<std::string> lines;
  lines.reserve(FText.size());
  const size_t last = FText.size() - 1;
  for (size_t i = 0; i < FText.size(); ++i) {
    if (i == last) {
      lines.push_back(codeText + " " + FText[i]);
    } else if (i > 0 && AIndentMidLines) {
      lines.push_back(" " + FText[i]);
    } else {
      lines.push_back(codeText + "-" + FText[i]);
    }
  }
  return lines;
}

} // namespace ftpc
