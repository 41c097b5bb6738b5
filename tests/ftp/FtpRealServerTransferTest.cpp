// Transfers against real FTP servers: byte-exact uploads and downloads in passive (PASV,
// EPSV) and active (PORT, EPRT) mode, compared by checksum so memory stays constant.
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/IdFTP.h"
#include "global/IdStream.h"
#include "support/RealFtpServers.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc {
namespace {

using test::RealFtpServer;
using test::RealServerKind;

enum class DataMode { Pasv, Epsv, Port, Eprt };

struct RealCase {
  RealServerKind Kind;
  DataMode Mode;
  uint64_t Size;
};

// Read with a plain stream: the server may still hold its own lock on a file it just stored.
std::string FileChecksumText(const std::string& APath) {
  std::ifstream stream(APath, std::ios::binary);
  test::Fnv1a64 hash;
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
  return std::to_string(test::PatternChecksum(ASize)) + "/" + std::to_string(ASize);
}

std::unique_ptr<TIdFTP> LoggedIn(const RealFtpServer& AServer, DataMode AMode) {
  auto ftp = std::make_unique<TIdFTP>();
  ftp->SetHost(AServer.Address());
  ftp->SetPort(AServer.Port());
  ftp->SetUsername(RealFtpServer::kUser);
  ftp->SetPassword(RealFtpServer::kPassword);
  ftp->SetTransferType(ftBinary);
  ftp->SetPassive(AMode == DataMode::Pasv || AMode == DataMode::Epsv);
  ftp->SetUseExtensionDataPort(AMode == DataMode::Epsv || AMode == DataMode::Eprt);
  ftp->Connect();
  return ftp;
}

class RealTransfer : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealTransfer, UploadThenDownloadIsByteExact) {
  auto server = test::StartRealFtpServerOrSkip(GetParam().Kind);
  if (!server) {
    return;
  }
  test::TempDir local;
  const std::string source = local.Path() + "/source.bin";
  const std::string back = local.Path() + "/back.bin";
  ASSERT_TRUE(test::WritePatternFile(source, GetParam().Size));
  auto ftp = LoggedIn(*server, GetParam().Mode);
  ftp->Put(source, "data.bin");
  EXPECT_EQ(FileChecksumText(server->RootDir() + "/data.bin"),
            PatternChecksumText(GetParam().Size));
  ftp->Get("data.bin", back, true, false);
  EXPECT_EQ(FileChecksumText(back), PatternChecksumText(GetParam().Size));
  ftp->Quit();
}

std::vector<RealCase> RealCases() {
  std::vector<RealCase> cases;
  const RealServerKind kinds[] = {RealServerKind::Vsftpd, RealServerKind::Proftpd,
                                  RealServerKind::PureFtpd, RealServerKind::Pyftpdlib};
  const DataMode modes[] = {DataMode::Pasv, DataMode::Epsv, DataMode::Port, DataMode::Eprt};
  for (const RealServerKind kind : kinds) {
    for (const DataMode mode : modes) {
      for (const uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{1} << 20}) {
        cases.push_back({kind, mode, size});
      }
    }
    // The large case on two modes per server keeps the suite's run time modest.
    cases.push_back({kind, DataMode::Epsv, uint64_t{100} << 20});
    cases.push_back({kind, DataMode::Port, uint64_t{100} << 20});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Servers, RealTransfer, ::testing::ValuesIn(RealCases()));

TEST(RealTransferResume, PartialDownloadIsCompleted) {
  auto server = test::StartRealFtpServerOrSkip(RealServerKind::Proftpd);
  if (!server) {
    return;
  }
  constexpr uint64_t kSize = 3u << 20;
  ASSERT_TRUE(test::WritePatternFile(server->RootDir() + "/whole.bin", kSize));
  test::TempDir local;
  const std::string part = local.Path() + "/part.bin";
  ASSERT_TRUE(test::WritePatternFile(part, kSize / 3));
  auto ftp = LoggedIn(*server, DataMode::Epsv);
  ASSERT_TRUE(ftp->ResumeSupported());
  ftp->Get("whole.bin", part, false, true);
  EXPECT_EQ(FileChecksumText(part), PatternChecksumText(kSize));
  ftp->Quit();
}

} // namespace
} // namespace ftpc
