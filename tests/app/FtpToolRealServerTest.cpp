// The tool as a process against real FTP servers on 127.0.0.N:21: byte-exact round trips, and
// failed downloads that leave no local file behind.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/ToolRun.h"
#include "support/RealFtpServers.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc::test {
namespace {

// vsftpd answers HOST with 530; proftpd accepts it; pure-ftpd lists PRET.
const RealServerKind kKinds[] = {RealServerKind::Vsftpd, RealServerKind::Proftpd,
                                 RealServerKind::PureFtpd};

constexpr uint64_t kFileSize = 3 * 1024 * 1024 + 17;  // several socket buffers and an odd tail

class FtpToolRealServerTest : public ::testing::TestWithParam<RealServerKind> {
protected:
  void SetUp() override {
    const std::string problem = Port21Unavailable();
    if (!problem.empty()) {
      GTEST_SKIP() << problem;
    }
    FServer = StartRealFtpServerOrSkip(GetParam(), {.Address = "127.0.0.*", .Port = 21});
  }

  ToolRun Run(const std::string& AOperation, const std::string& ASource, const std::string& ADestination,
              const std::string& APassword = RealFtpServer::kPassword, const std::string& ADirectory = "/") {
    return RunTool({AOperation, ASource, ADestination, FServer->Address(), RealFtpServer::kUser,
                    APassword, ADirectory});
  }

  std::unique_ptr<RealFtpServer> FServer;
  TempDir FDir{"ftpc-tool-real."};
};

void ExpectSilentRun(const ToolRun& ARun) {
  EXPECT_TRUE(ARun.Exited);
  EXPECT_EQ(ARun.ExitCode, 0);
  EXPECT_EQ(ARun.Out, kToolBanner);
  EXPECT_EQ(ARun.Err, "");
}

uint64_t FileChecksum(const std::string& APath) { return Checksum(ReadTextFile(APath)); }

bool FileExists(const std::string& APath) {
  struct stat info {};
  return ::stat(APath.c_str(), &info) == 0;
}

TEST_P(FtpToolRealServerTest, UploadAndDownloadKeepEveryByte) {
  if (!FServer) {
    return;
  }
  const std::string original = FDir.File("original.bin");
  const std::string back = FDir.File("back.bin");
  ASSERT_TRUE(WritePatternFile(original, kFileSize));
  ExpectSilentRun(Run("p", original, "stored.bin"));
  EXPECT_EQ(FileChecksum(FServer->RootDir() + "/stored.bin"), PatternChecksum(kFileSize));
  ExpectSilentRun(Run("g", "stored.bin", back));
  EXPECT_EQ(FileChecksum(back), PatternChecksum(kFileSize));
  EXPECT_EQ(ReadTextFile(back).size(), kFileSize);
}

TEST_P(FtpToolRealServerTest, FailedDownloadsLeaveNoLocalFile) {
  if (!FServer) {
    return;
  }
  ASSERT_TRUE(WriteTextFile(FServer->RootDir() + "/present.txt", "present"));
  struct Case {
    const char* Name;
    const char* Remote;
    const char* Password;
    const char* Directory;
  };
  const Case cases[] = {
      {"wrong password", "present.txt", "wrong-password", "/"},
      {"missing remote directory", "present.txt", RealFtpServer::kPassword, "/no-such-dir"},
      {"missing remote file", "absent.txt", RealFtpServer::kPassword, "/"},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string local = FDir.File("failed-" + std::to_string(index++));
    ExpectSilentRun(Run("g", c.Remote, local, c.Password, c.Directory));
    EXPECT_FALSE(FileExists(local));
  }
}

INSTANTIATE_TEST_SUITE_P(Servers, FtpToolRealServerTest, ::testing::ValuesIn(kKinds),
                         [](const auto& AInfo) {
                           std::string name = RealServerName(AInfo.param);
                           std::erase(name, '-');
                           return name;
                         });

} // namespace
} // namespace ftpc::test
