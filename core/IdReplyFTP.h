// FTP replies: RFC 959 numeric replies with the looser line rules real servers need, such as
// FEAT lists whose middle lines are indented by a space instead of repeating the code:
//   211-Features:
//    MDTM
//    REST STREAM
//   211 End
#pragma once

#include <cstdint>

#include "core/IdReplyRFC.h"

namespace ftpc {

// How the middle lines of a multi-line reply were written: with the code and "-" (rfNormal)
// or indented by a space (rfIndentMidLines). Formatting reproduces the style.
enum TIdReplyRFCFormat : uint8_t { rfNormal, rfIndentMidLines };

class TIdReplyFTP : public TIdReplyRFC {
public:
  using TIdReplyRFC::TIdReplyRFC;

  static const TIdReplyClass& ReplyClass();
  // A line ends a reply when it is a number of at most 3 characters ("226"), or when it is
  // three ASCII digits and a space followed by anything ("226 Done"). The line is looked at
  // alone: "250 Other" ends a reply that began with "226-".
  static bool IsEndMarker(std::string_view ALine);

  // From another FTP reply also copies the line format.
  void Assign(const TIdReply& ASource) override;
  std::vector<std::string> FormattedReply() const override;
  // The code is the first line's leading 3 or 4 characters (a trailing "-" dropped). Further
  // lines that begin with the code lose it and the character after it; other lines lose their
  // leading blanks and keep any code they carry.
  void SetFormattedReply(const std::vector<std::string>& AValue) override;

  TIdReplyRFCFormat ReplyFormat() const { return FReplyFormat; }
  void SetReplyFormat(TIdReplyRFCFormat AValue) { FReplyFormat = AValue; }

  std::string ClassName() const override { return "TIdReplyFTP"; }

private:
  TIdReplyRFCFormat FReplyFormat = rfNormal;
};

} // namespace ftpc
