// A server's FEAT reply as the session reads its capability list (RFC 2389): the list, the
// look-ups by command, the MLST facts and the TLS offer raise nothing and stay within the
// list.
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "ftp/IdFTPReplyParsers.h"

namespace {

using namespace ftpc;

// The words the session looks for in the list.
constexpr const char* kCommands[] = {"MLST", "UTF8", "REST STREAM", "MODE Z", "AUTH",
                                     "PRET", "SIZE", "MDTM", "XCRC",  "EPSV"};

std::vector<std::string> SplitLines(std::string_view AText) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= AText.size()) {
    const size_t end = std::min(AText.find('\n', start), AText.size());
    lines.emplace_back(AText.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

void CheckLookUp(const std::vector<std::string>& ACapabilities, const std::string& ACommand) {
  (void)CapabilityListed(ACapabilities, ACommand);
  (void)CapabilityFacts(ACapabilities, ACommand);
  const int index = CapabilityLineIndex(ACapabilities, ACommand);
  fuzz::Require(index >= -1 && index < static_cast<int>(ACapabilities.size()));
  const int exact = CapabilityLineIndexExact(ACapabilities, ACommand);
  fuzz::Require(exact >= -1 && exact < static_cast<int>(ACapabilities.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  fuzz::TFuzzInput input(AData, ASize);
  const std::string asked(input.TakeText());
  std::vector<std::string> text = SplitLines(input.Rest());
  const size_t given = text.size();
  const std::vector<std::string> capabilities = CapabilitiesFromFeatReply(std::move(text));
  fuzz::Require(capabilities.size() <= given);
  for (const char* command : kCommands) {
    CheckLookUp(capabilities, command);
  }
  CheckLookUp(capabilities, asked);
  (void)CapabilitiesOfferTLS(capabilities);
  return 0;
}
