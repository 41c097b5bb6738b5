#include "core/IdReplyFTP.h"

#include "global/IdGlobal.h"

namespace ftpc {

namespace {

// "211-Features:" / "211 End": the code, then one separator character.
constexpr size_t kCodeLength = 3;

std::unique_ptr<TIdReply> CreateReplyFTP(TIdReplies* ACollection, TIdReplies* AReplyTexts) {
  return std::make_unique<TIdReplyFTP>(ACollection, AReplyTexts);
}

// The code text of a first line: its first 4 characters trimmed, without a trailing "-" when
// exactly 4 remain ("220-" gives 220; "2201" stays 2201 and is refused as a code).
std::string CodeOfFirstLine(const std::string& ALine) {
  std::string code = Trim(ALine.substr(0, kCodeLength + 1));
  if (code.size() == kCodeLength + 1 && code.back() == '-') {
    code.pop_back();
  }
  return code;
}

} // namespace

const TIdReplyClass& TIdReplyFTP::ReplyClass() {
  static constexpr TIdReplyClass kClass{"TIdReplyFTP", &CreateReplyFTP, &TIdReplyFTP::IsEndMarker};
  return kClass;
}

bool TIdReplyFTP::IsEndMarker(std::string_view ALine) {
  if (ALine.size() <= kCodeLength) {
    return IsIntegerText(ALine);
  }
  return IsDigitChar(ALine[0]) && IsDigitChar(ALine[1]) && IsDigitChar(ALine[2]) &&
         ALine[kCodeLength] == ' ';
}

void TIdReplyFTP::Assign(const TIdReply& ASource) {
  // The line format is independent of code and text, so it may follow them.
  TIdReplyRFC::Assign(ASource);
  if (const auto* source = dynamic_cast<const TIdReplyFTP*>(&ASource)) {
    FReplyFormat = source->FReplyFormat;
  }
}

std::vector<std::string> TIdReplyFTP::FormattedReply() const {
  return FormatLines(FReplyFormat == rfIndentMidLines);
}

void TIdReplyFTP::SetFormattedReply(const std::vector<std::string>& AValue) {
  Clear();
  if (AValue.empty()) {
    return;
  }
  SetCode(CodeOfFirstLine(AValue.front()));
  // Past the code and the one separator character after it.
  const size_t textPos = FCode.size() + 1;
  FText.push_back(LineFrom(AValue.front(), textPos));
  FReplyFormat = rfNormal;
  for (size_t i = 1; i < AValue.size(); ++i) {
    const std::string& line = AValue[i];
    if (TextHasPrefix(line, FCode)) {
      FText.push_back(LineFrom(line, textPos));
      continue;
    }
    if (!line.empty() && line.front() == ' ') {
      FReplyFormat = rfIndentMidLines;
    }
    FText.push_back(TrimLeft(line));
  }
}

} // namespace ftpc
