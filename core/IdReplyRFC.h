// Three-digit numeric replies of RFC 959 style protocols ("250-a" ... "250 b"), and the error
// a rejected reply raises.
#pragma once

#include "core/IdReply.h"

namespace ftpc {

// A reply code the caller did not accept: ErrorCode is the reply's numeric code, the message
// its text lines, each followed by CR LF.
class EIdReplyRFCError : public EIdReplyError {
public:
  EIdReplyRFCError(int AErrorCode, const std::string& AMessage)
      : EIdReplyError(AMessage), FErrorCode(AErrorCode) {}
  int ErrorCode() const { return FErrorCode; }
  std::string ClassName() const override { return "EIdReplyRFCError"; }

private:
  int FErrorCode;
};

class TIdReplyRFC : public TIdReply {
public:
  using TIdReply::TIdReply;

  static const TIdReplyClass& ReplyClass();
  // A line ends a reply when it is shorter than 4 characters or its 4th character is a space.
  static bool IsEndMarker(std::string_view ALine);

  // Copies the numeric code, then the text, from another RFC reply.
  void Assign(const TIdReply& ASource) override;
  // Raises EIdReplyRFCError.
  [[noreturn]] void RaiseReplyError() const override;
  // A numeric code of at least 1, or any text line.
  bool ReplyExists() const override;
  std::vector<std::string> FormattedReply() const override;
  // The code is the first 3 characters of the first line, trimmed; every line gives the text
  // after its 4th character.
  void SetFormattedReply(const std::vector<std::string>& AValue) override;

  std::string ClassName() const override { return "TIdReplyRFC"; }

protected:
  // 100 to 999, or blank.
  bool CodeIsValid(std::string_view ACode) const override;
  // The formatted lines; with AIndentMidLines the lines between the first and the last are
  // written as a space and the text instead of the code and "-".
  std::vector<std::string> FormatLines(bool AIndentMidLines) const;
  // The line from 0-based APos on; empty when the line is not that long.
  static std::string LineFrom(const std::string& ALine, size_t APos);
};

} // namespace ftpc
