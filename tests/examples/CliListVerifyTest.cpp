// ftpc-cli's ls, verify and --mode-z as a process against proftpd (MLSD, XCRC/XMD5/XSHA1 and
// MODE Z are all offered there).
#include <filesystem>

#include <gtest/gtest.h>

#include "support/ProgramRun.h"
#include "support/RealFtpServers.h"
#include "support/TempDir.h"

namespace ftpc::test {
namespace {

const std::string kContent(100000, 'z'); // compressible, several blocks

class CliListVerifyTest : public ::testing::Test {
protected:
  void SetUp() override {
    FServer = StartRealFtpServerOrSkip(RealServerKind::Proftpd);
    if (FServer) {
      std::filesystem::create_directory(FServer->RootDir() + "/sub dir");
      ASSERT_TRUE(WriteTextFile(FServer->RootDir() + "/sub dir/file one.txt", kContent));
    }
  }

  std::string Url(const std::string& APath) const {
    return "ftp://" + std::string(RealFtpServer::kUser) + ":" + RealFtpServer::kPassword + "@" +
           FServer->Address() + ":" + std::to_string(FServer->Port()) + "/" + APath;
  }

  ProgramRun Cli(const std::vector<std::string>& AArgs) const {
    return RunProgram(BuildDir() + "/ftpc-cli", AArgs);
  }

  std::unique_ptr<RealFtpServer> FServer;
  TempDir FDir;
};

TEST_F(CliListVerifyTest, ListsNamesAndLongEntries) {
  if (!FServer) {
    return;
  }
  const ProgramRun names = Cli({"ls", Url("sub%20dir/")});
  EXPECT_EQ(names.ExitCode, 0) << names.Err;
  EXPECT_EQ(names.Out, "file one.txt\n");
  const ProgramRun entries = Cli({"ls", "-l", Url("")});
  EXPECT_EQ(entries.ExitCode, 0) << entries.Err;
  // "d - 2026-12-08T15:00:00Z sub dir": a directory's size and the seconds vary by server.
  EXPECT_EQ(entries.Out.rfind("d ", 0), 0u) << entries.Out;
  EXPECT_NE(entries.Out.find("Z sub dir\n"), std::string::npos) << entries.Out;
}

TEST_F(CliListVerifyTest, VerifyTellsSameFromDifferent) {
  if (!FServer) {
    return;
  }
  const std::string same = FDir.File("same");
  const std::string other = FDir.File("other");
  ASSERT_TRUE(WriteTextFile(same, kContent));
  ASSERT_TRUE(WriteTextFile(other, kContent + "!"));
  EXPECT_EQ(Cli({"verify", same, Url("sub%20dir/file%20one.txt")}).ExitCode, 0);
  const ProgramRun differs = Cli({"verify", other, Url("sub%20dir/file%20one.txt")});
  EXPECT_EQ(differs.ExitCode, 4);
  EXPECT_EQ(differs.Err, "ftpc-cli: '" + other + "' differs from the server's copy\n");
}

TEST_F(CliListVerifyTest, ModeZDownloadIsByteExact) {
  if (!FServer) {
    return;
  }
  const std::string local = FDir.File("back.txt");
  const ProgramRun run =
      Cli({"--mode-z", "--verbose", "get", Url("sub%20dir/file%20one.txt"), local});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Err.find("> MODE Z"), std::string::npos);
  EXPECT_EQ(ReadTextFile(local), kContent);
}

} // namespace
} // namespace ftpc::test
