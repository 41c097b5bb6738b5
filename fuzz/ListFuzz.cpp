// Directory listings as servers send them, through every parser: NLST names, MLSD/MLST fact
// lines (RFC 3659 7), and the opt-in Unix, DOS/Windows and EPLF LIST parsers, both chosen by
// identifier and found by the registry. Parsing raises nothing but the library's errors and
// yields at most one item per line.
#include <mutex>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "ftp/IdFTPList.h"
#include "ftp/IdFTPListParseCommon.h"

namespace {

using namespace ftpc;

std::vector<std::string> SplitLines(std::string_view AText) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= AText.size()) {
    const size_t end = std::min(AText.find('\n', start), AText.size());
    std::string_view line = AText.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

const TIdFTPListBase* const kParsers[] = {
    &TIdFTPLPNList::Instance(), &TIdFTPLPMList::Instance(), &TIdFTPLPUnix::Instance(),
    &TIdFTPLPWindowsNT::Instance(), &TIdFTPLPEPLF::Instance()};

void CheckParser(const TIdFTPListBase& AParser, const std::vector<std::string>& ALines,
                 bool ADetails) {
  try {
    (void)AParser.CheckListing(ALines, "UNIX Type: L8", ADetails);
    TIdFTPListItems items;
    AParser.ParseListing(ALines, items);
    fuzz::Require(items.Count() <= static_cast<int>(ALines.size()));
  } catch (const EIdException&) {
  }
}

void CheckRegistry(const std::vector<std::string>& ALines, bool ADetails) {
  try {
    TIdFTPListItems items;
    std::string format;
    if (GFTPListParsers().CheckListParse(ALines, items, format, "", ADetails)) {
      fuzz::Require(!format.empty() && items.Count() <= static_cast<int>(ALines.size()));
    }
  } catch (const EIdException&) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  static std::once_flag registered;
  std::call_once(registered, [] { RegisterCommonFTPListParsers(); });
  fuzz::TFuzzInput input(AData, ASize);
  const bool details = (input.TakeByte() & 1) != 0;
  const std::vector<std::string> lines = SplitLines(input.Rest());
  for (const TIdFTPListBase* parser : kParsers) {
    CheckParser(*parser, lines, details);
  }
  CheckRegistry(lines, details);
  return 0;
}
