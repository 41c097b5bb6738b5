// The first text line of a 227 (PASV, CPSV) or 229 (EPSV) reply: the only errors are the
// invalid-address, invalid-port and conversion errors, and whatever parses names a host the
// data connection can be aimed at and a port in range.
#include <algorithm>
#include <string>

#include "FuzzInput.h"
#include "ftp/IdFTPReplyParsers.h"
#include "stack/IdIPAddress.h"

namespace {

using namespace ftpc;

constexpr const char* kControlHost = "127.0.0.1";

// Four decimal numbers 0..255 joined by dots, as the data connection's host must be.
bool IsDottedQuad(const std::string& AHost) {
  int parts = 0;
  size_t start = 0;
  while (start <= AHost.size()) {
    const size_t dot = std::min(AHost.find('.', start), AHost.size());
    const std::string part = AHost.substr(start, dot - start);
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
      return false;
    }
    ++parts;
    start = dot + 1;
  }
  return parts == 4;
}

bool IsNumericAddress(const std::string& AHost) {
  return IsDottedQuad(AHost) || !CanonicalIPv6Text(AHost).empty();
}

void CheckPasv(const std::string& ALine) {
  try {
    const TIdFTPDataAddress address = ParsePASVReply(ALine);
    fuzz::Require(IsDottedQuad(address.Host));
  } catch (const EIdException&) {
  }
}

void CheckEpsv(const std::string& ALine) {
  try {
    const TIdFTPDataAddress address = ParseEPSVReply(ALine, kControlHost);
    fuzz::Require(address.Port >= 1 && IsNumericAddress(address.Host));
  } catch (const EIdException&) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  const std::string line(reinterpret_cast<const char*>(AData), ASize);
  CheckPasv(line);
  CheckEpsv(line);
  return 0;
}
