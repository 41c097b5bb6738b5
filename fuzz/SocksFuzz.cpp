// A SOCKS proxy's side of a tunnel's set-up (SOCKS 4, 4A and 5, RFC 1928 and 1929): whatever
// the proxy sends, the connect either succeeds or raises one of the library's errors.
#include <string>

#include "FuzzIOHandler.h"
#include "FuzzInput.h"
#include "proxy/IdSocks.h"

namespace {

using namespace ftpc;

constexpr TSocksVersion kVersions[] = {svSocks4, svSocks4A, svSocks5};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  fuzz::TFuzzInput input(AData, ASize);
  const uint8_t options = input.TakeByte();
  const size_t chunk = 1 + input.TakeByte() % 16;
  TIdSocksInfo socks;
  const TSocksVersion version = kVersions[options % 3];
  socks.SetVersion(version);
  if ((options & 4) != 0) {
    socks.SetAuthentication(saUsernamePassword);
    socks.SetUsername("user");
    socks.SetPassword("secret");
  }
  // Only SOCKS 4A and 5 hand a name to the proxy; SOCKS 4 would resolve it here.
  const bool byName = (options & 8) != 0 && version != svSocks4;
  const std::string host = byName ? "ftp.example.test" : "127.0.0.1";
  fuzz::TFuzzIOHandler handler(input.Rest(), chunk);
  handler.Open();
  try {
    socks.Connect(handler, host, 21, Id_IPv4);
  } catch (const EIdException&) {
  }
  return 0;
}
