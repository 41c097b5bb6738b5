// Reply lines from a server into the end-of-reply tests and the reply parsers: nothing may
// read out of bounds or raise anything but the reply-code error, and whatever parses must
// format into lines that end a reply and read back as the same reply.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "core/IdReplyFTP.h"
#include "core/IdReplyRFC.h"

namespace {

using namespace ftpc;
using Lines = std::vector<std::string>;

Lines SplitLines(std::string_view AText) {
  Lines lines;
  size_t start = 0;
  while (start <= AText.size()) {
    const size_t end = AText.find('\n', start);
    const size_t stop = end == std::string_view::npos ? AText.size() : end;
    lines.emplace_back(AText.substr(start, stop - start));
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  return lines;
}

template <typename T> bool TryParse(const Lines& ALines, T& VReply) {
  try {
    VReply.SetFormattedReply(ALines);
    return true;
  } catch (const EIdException&) {
    fuzz::Require(VReply.Code().empty() && VReply.Text().empty());
    return false;
  }
}

void CheckFtpRoundTrip(const Lines& ALines) {
  TIdReplyFTP reply;
  if (!TryParse(ALines, reply) || reply.NumericCode() < 1) {
    return;
  }
  const Lines formatted = reply.FormattedReply();
  fuzz::Require(!formatted.empty() && TIdReplyFTP::IsEndMarker(formatted.back()));
  TIdReplyFTP copy;
  fuzz::Require(TryParse(formatted, copy) && copy.NumericCode() == reply.NumericCode());
  if (reply.ReplyFormat() == rfNormal) {
    fuzz::Require(copy.Text() == reply.Text());
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const Lines lines = SplitLines({reinterpret_cast<const char*>(AData), ASize});
  for (const std::string& line : lines) {
    (void)TIdReplyFTP::IsEndMarker(line);
    (void)TIdReplyRFC::IsEndMarker(line);
  }
  CheckFtpRoundTrip(lines);
  TIdReplyRFC rfc;
  if (TryParse(lines, rfc)) {
    (void)rfc.FormattedReply();
    (void)rfc.ReplyExists();
  }
  return 0;
}
