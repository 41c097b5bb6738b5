#include "support/RealFtpSession.h"

#include <fstream>
#include <vector>

#include "core/IdIOHandlerSocket.h"
#include "support/TestPattern.h"

namespace ftpc::test {

const char* DataModeName(DataMode AMode) {
  switch (AMode) {
  case DataMode::Pasv:
    return "Pasv";
  case DataMode::Epsv:
    return "Epsv";
  case DataMode::Port:
    return "Port";
  case DataMode::Eprt:
    return "Eprt";
  }
  return "Unknown";
}

std::unique_ptr<TIdFTP> LoggedInSession(const RealFtpServer& AServer, DataMode AMode,
                                        TIdCustomTransparentProxy* AProxy) {
  auto ftp = std::make_unique<TIdFTP>();
  if (AProxy != nullptr) {
    ftp->CreateIOHandler();
    ftp->Socket()->SetTransparentProxy(AProxy);
  }
  ftp->SetHost(AServer.Address());
  ftp->SetPort(AServer.Port());
  if (AServer.Address().find(':') != std::string::npos) {
    ftp->SetIPVersion(Id_IPv6);
  }
  ftp->SetUsername(RealFtpServer::kUser);
  ftp->SetPassword(RealFtpServer::kPassword);
  ftp->SetTransferType(ftBinary);
  ftp->SetPassive(AMode == DataMode::Pasv || AMode == DataMode::Epsv);
  ftp->SetUseExtensionDataPort(AMode == DataMode::Epsv || AMode == DataMode::Eprt);
  ftp->Connect();
  return ftp;
}

// Read with a plain stream: the server may still hold its own lock on a file it just stored.
std::string FileChecksumText(const std::string& APath) {
  std::ifstream stream(APath, std::ios::binary);
  Fnv1a64 hash;
  std::vector<char> block(1 << 16);
  uint64_t size = 0;
  while (stream) {
    stream.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<size_t>(stream.gcount());
    hash.Update(block.data(), got);
    size += got;
  }
  return std::to_string(hash.Value()) + "/" + std::to_string(size);
}

std::string PatternChecksumText(uint64_t ASize) {
  return std::to_string(PatternChecksum(ASize)) + "/" + std::to_string(ASize);
}

} // namespace ftpc::test
