// Transfers against real FTP servers: byte-exact uploads and downloads in passive (PASV,
// EPSV) and active (PORT, EPRT) mode over IPv4, and EPSV/EPRT over IPv6 (::1), compared by
// checksum so memory stays constant.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/IdFTP.h"
#include "support/RealFtpSession.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc {
namespace {

using test::DataMode;
using test::FileChecksumText;
using test::PatternChecksumText;
using test::RealServerKind;

struct RealCase {
  RealServerKind Kind;
  DataMode Mode;
  uint64_t Size;
  const char* Address = "127.0.0.1";
};

std::string RealCaseName(const ::testing::TestParamInfo<RealCase>& AInfo) {
  std::string name = test::RealServerName(AInfo.param.Kind);
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  return name + "_" + test::DataModeName(AInfo.param.Mode) + "_" +
         std::to_string(AInfo.param.Size) +
         (std::string(AInfo.param.Address).find(':') != std::string::npos ? "_IPv6" : "");
}

class RealTransfer : public ::testing::TestWithParam<RealCase> {};

TEST_P(RealTransfer, UploadThenDownloadIsByteExact) {
  auto server = test::StartRealFtpServerOrSkip(GetParam().Kind, {.Address = GetParam().Address});
  if (!server) {
    return;
  }
  test::TempDir local;
  const std::string source = local.Path() + "/source.bin";
  const std::string back = local.Path() + "/back.bin";
  ASSERT_TRUE(test::WritePatternFile(source, GetParam().Size));
  auto ftp = test::LoggedInSession(*server, GetParam().Mode);
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
    // PASV and PORT have no IPv6 form; every server takes EPSV and EPRT on ::1.
    for (const DataMode mode : {DataMode::Epsv, DataMode::Eprt}) {
      for (const uint64_t size : {uint64_t{0}, uint64_t{1} << 20}) {
        cases.push_back({kind, mode, size, "::1"});
      }
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Servers, RealTransfer, ::testing::ValuesIn(RealCases()), RealCaseName);

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
  auto ftp = test::LoggedInSession(*server, DataMode::Epsv);
  ASSERT_TRUE(ftp->ResumeSupported());
  ftp->Get("whole.bin", part, false, true);
  EXPECT_EQ(FileChecksumText(part), PatternChecksumText(kSize));
  ftp->Quit();
}

} // namespace
} // namespace ftpc
