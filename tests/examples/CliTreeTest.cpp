// ftpc-cli get -r and put -r as a process against vsftpd (LIST, MDTM) and proftpd (MLSD,
// MFMT), in one session and in several: trees arrive byte-exact with their times, and a file
// that fails is named while the rest is still copied.
#include <filesystem>
#include <map>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/ProgramRun.h"
#include "support/RealFtpServers.h"
#include "support/TempDir.h"

namespace ftpc::test {
namespace {

namespace fs = std::filesystem;

const fs::file_time_type kOldTime = fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(
    std::chrono::sys_days(std::chrono::year(2020) / 1 / 2) + std::chrono::hours(3)));

// Relative path -> content of every file below ARoot; directories as "path/" -> "".
std::map<std::string, std::string> TreeContents(const fs::path& ARoot) {
  std::map<std::string, std::string> tree;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(ARoot)) {
    const std::string path = entry.path().lexically_relative(ARoot).generic_string();
    tree[entry.is_directory() ? path + "/" : path] =
        entry.is_directory() ? "" : ReadTextFile(entry.path().string());
  }
  return tree;
}

// Three levels, an empty file, a name with a space and one dated in the past.
void MakeTree(const fs::path& ARoot) {
  fs::create_directories(ARoot / "sub dir" / "deeper");
  fs::create_directories(ARoot / "empty dir");
  ASSERT_TRUE(WriteTextFile((ARoot / "top.txt").string(), "top"));
  ASSERT_TRUE(WriteTextFile((ARoot / "empty").string(), ""));
  ASSERT_TRUE(WriteTextFile((ARoot / "sub dir" / "a b.bin").string(), std::string(70000, 'x')));
  for (int i = 0; i < 12; ++i) {
    ASSERT_TRUE(WriteTextFile((ARoot / "sub dir" / "deeper" / std::to_string(i)).string(),
                              std::string(static_cast<size_t>(i) * 100, char('a' + i))));
  }
  fs::last_write_time(ARoot / "top.txt", kOldTime);
}

struct TreeCase {
  RealServerKind Server;
  const char* Parallel;
};

class CliTreeTest : public ::testing::TestWithParam<TreeCase> {
protected:
  void SetUp() override { FServer = StartRealFtpServerOrSkip(GetParam().Server); }

  std::string Url(const std::string& APath) const {
    return "ftp://" + std::string(RealFtpServer::kUser) + ":" + RealFtpServer::kPassword + "@" +
           FServer->Address() + ":" + std::to_string(FServer->Port()) + "/" + APath;
  }

  ProgramRun Cli(const std::string& ACommand, const std::string& AFrom, const std::string& ATo) {
    return RunProgram(BuildDir() + "/ftpc-cli",
                      {"--parallel", GetParam().Parallel, ACommand, "-r", AFrom, ATo});
  }

  fs::path Remote(const std::string& APath) const { return fs::path(FServer->RootDir()) / APath; }

  std::unique_ptr<RealFtpServer> FServer;
  TempDir FDir;
};

TEST_P(CliTreeTest, TreesGoBothWaysByteExactWithTheirTimes) {
  if (!FServer) {
    return;
  }
  const fs::path source = FDir.File("source");
  MakeTree(source);
  const ProgramRun put = Cli("put", source.string(), Url("up/deep/"));
  EXPECT_EQ(put.ExitCode, 0) << put.Err;
  EXPECT_EQ(TreeContents(Remote("up/deep")), TreeContents(source));
  EXPECT_EQ(fs::last_write_time(Remote("up/deep/top.txt")), kOldTime);

  const fs::path back = FDir.File("back/new");
  const ProgramRun get = Cli("get", Url("up/deep/"), back.string());
  EXPECT_EQ(get.ExitCode, 0) << get.Err;
  EXPECT_EQ(TreeContents(back), TreeContents(source));
  EXPECT_EQ(fs::last_write_time(back / "top.txt"), kOldTime);
}

TEST_P(CliTreeTest, AFailedFileIsNamedAndTheRestIsCopied) {
  if (!FServer) {
    return;
  }
  MakeTree(Remote("tree"));
  // The server's session user may not read it (the test runs as another user).
  ASSERT_EQ(::chmod(Remote("tree/sub dir/deeper/5").c_str(), 0), 0);
  const fs::path local = FDir.File("local");
  const ProgramRun get = Cli("get", Url("tree"), local.string());
  EXPECT_EQ(get.ExitCode, 1);
  EXPECT_EQ(get.Err.rfind("ftpc-cli: 'sub dir/deeper/5': 550 ", 0), 0u) << get.Err;
  std::map<std::string, std::string> expected = TreeContents(Remote("tree"));
  expected.erase("sub dir/deeper/5");
  EXPECT_EQ(TreeContents(local), expected);
}

INSTANTIATE_TEST_SUITE_P(Servers, CliTreeTest,
                         ::testing::Values(TreeCase{RealServerKind::Vsftpd, "1"},
                                           TreeCase{RealServerKind::Vsftpd, "4"},
                                           TreeCase{RealServerKind::Proftpd, "1"},
                                           TreeCase{RealServerKind::Proftpd, "3"}),
                         [](const auto& AInfo) {
                           return std::string(RealServerName(AInfo.param.Server)) + "_parallel" +
                                  AInfo.param.Parallel;
                         });

} // namespace
} // namespace ftpc::test
