// ftpc-cli as a process against real FTP servers: round trips in both data-connection modes and
// over IPv6, resume on either side, ASCII line ends, and every exit status with what it leaves
// in the local file.
#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/ProgramRun.h"
#include "support/RealFtpServers.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFileSize = 1024 * 1024 + 13; // several socket buffers and an odd tail
constexpr const char* kPasswordInUrl = "ftppass";

ProgramRun Cli(const std::vector<std::string>& AArgs) {
  return RunProgram(BuildDir() + "/ftpc-cli", AArgs);
}

std::string UrlOf(const RealFtpServer& AServer, const std::string& APath,
                  const std::string& APassword = kPasswordInUrl) {
  const bool v6 = AServer.Address().find(':') != std::string::npos;
  const std::string host = v6 ? "[" + AServer.Address() + "]" : AServer.Address();
  return "ftp://" + std::string(RealFtpServer::kUser) + ":" + APassword + "@" + host + ":" +
         std::to_string(AServer.Port()) + "/" + APath;
}

// Success is silent: --progress draws nothing when stderr is no terminal.
void ExpectSuccess(const ProgramRun& ARun) {
  EXPECT_TRUE(ARun.Exited);
  EXPECT_EQ(ARun.ExitCode, 0) << ARun.Err;
  EXPECT_EQ(ARun.Err, "");
}

std::string FileText(const std::string& APath) {
  const std::string content = ReadTextFile(APath);
  return std::to_string(Checksum(content)) + "/" + std::to_string(content.size());
}

std::string PatternText(uint64_t ASize) {
  return std::to_string(PatternChecksum(ASize)) + "/" + std::to_string(ASize);
}

// A file the server's session user may change (the test runs as another user).
void MakeWritable(const std::string& APath) {
  ::chmod(APath.c_str(), 0777);
}

std::vector<std::string> With(std::vector<std::string> AArgs,
                              const std::vector<std::string>& AMore) {
  AArgs.insert(AArgs.end(), AMore.begin(), AMore.end());
  return AArgs;
}

class CliRealServerTest : public ::testing::TestWithParam<RealServerKind> {
protected:
  void SetUp() override { FServer = StartRealFtpServerOrSkip(GetParam()); }

  // put into a directory URL, then get back, in each data-connection mode.
  void RoundTrip(const RealFtpServer& AServer) {
    const std::string original = FDir.File("original.bin");
    ASSERT_TRUE(WritePatternFile(original, kFileSize));
    fs::create_directory(AServer.RootDir() + "/sub");
    MakeWritable(AServer.RootDir() + "/sub");
    for (const char* mode : {"--progress", "--active"}) {
      SCOPED_TRACE(mode);
      fs::remove(AServer.RootDir() + "/sub/original.bin");
      ExpectSuccess(Cli({mode, "put", original, UrlOf(AServer, "sub/")}));
      EXPECT_EQ(FileText(AServer.RootDir() + "/sub/original.bin"), PatternText(kFileSize));
      const std::string back = FDir.File(std::string("back") + mode);
      ExpectSuccess(Cli({mode, "get", UrlOf(AServer, "sub/original.bin"), back}));
      EXPECT_EQ(FileText(back), PatternText(kFileSize));
    }
  }

  std::unique_ptr<RealFtpServer> FServer;
  TempDir FDir{"ftpc-cli-real."};
};

TEST_P(CliRealServerTest, RoundTripsKeepEveryByte) {
  if (FServer) {
    RoundTrip(*FServer);
  }
}

TEST_P(CliRealServerTest, RoundTripsOverIPv6) {
  FServer.reset();
  const auto server = StartRealFtpServerOrSkip(GetParam(), {.Address = "::1"});
  if (server) {
    RoundTrip(*server);
  }
}

// A partial copy grows to the whole file, from the local side (REST) and the remote one (APPE).
TEST_P(CliRealServerTest, ResumeContinuesEitherSide) {
  if (!FServer) {
    return;
  }
  const std::string remote = FServer->RootDir() + "/whole.bin";
  const std::string local = FDir.File("whole.bin");
  ASSERT_TRUE(WritePatternFile(remote, kFileSize));
  ASSERT_TRUE(WritePatternFile(local, kFileSize / 3));
  ExpectSuccess(Cli({"--resume", "get", UrlOf(*FServer, "whole.bin"), local}));
  EXPECT_EQ(FileText(local), PatternText(kFileSize));

  ASSERT_TRUE(WritePatternFile(remote, kFileSize / 5));
  MakeWritable(remote);
  ExpectSuccess(Cli({"--resume", "put", local, UrlOf(*FServer, "whole.bin")}));
  EXPECT_EQ(FileText(remote), PatternText(kFileSize));
}

// Whatever line ends a server sends in type A, the local text ends its lines with LF; the
// transcript shows the type and hides the password.
TEST_P(CliRealServerTest, AsciiGivesLocalLineEnds) {
  if (!FServer) {
    return;
  }
  const std::string text = "one\ntwo\n\nthree\n";
  ASSERT_TRUE(WriteTextFile(FServer->RootDir() + "/text.txt", text));
  const std::string local = FDir.File("text.txt");
  const ProgramRun run = Cli({"--ascii", "--verbose", "get", UrlOf(*FServer, "text.txt"), local});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(ReadTextFile(local), text);
  EXPECT_NE(run.Err.find("> TYPE A\n"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("> PASS ****\n"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find(kPasswordInUrl), std::string::npos) << run.Err;

  ExpectSuccess(Cli({"--ascii", "put", local, UrlOf(*FServer, "up.txt")}));
  const std::string back = FDir.File("back.txt");
  ExpectSuccess(Cli({"--ascii", "get", UrlOf(*FServer, "up.txt"), back}));
  EXPECT_EQ(ReadTextFile(back), text);
}

INSTANTIATE_TEST_SUITE_P(Servers, CliRealServerTest,
                         ::testing::Values(RealServerKind::Vsftpd, RealServerKind::Proftpd,
                                           RealServerKind::PureFtpd, RealServerKind::Pyftpdlib),
                         [](const auto& AInfo) {
                           std::string name = RealServerName(AInfo.param);
                           std::erase(name, '-');
                           return name;
                         });

// ---- Exit statuses and the local file they leave -------------------------------------------

enum class Before { Nothing, OldFile, DanglingLink, LinkToOldFile };
enum class After { Nothing, OldFile, DanglingLink, LinkToOldFile, Downloaded };

struct FailureCase {
  const char* Name;
  Before LocalBefore;
  std::vector<std::string> Options;
  const char* Remote;
  const char* Password;
  int ExitCode;
  const char* Message; // part of stderr
  After LocalAfter;
};

constexpr const char* kOld = "old content";
constexpr const char* kServed = "served content";

class CliExitStatusTest : public ::testing::Test {
protected:
  void SetUp() override {
    FServer = StartRealFtpServerOrSkip(RealServerKind::PureFtpd);
    if (FServer) {
      ASSERT_TRUE(WriteTextFile(FServer->RootDir() + "/served.txt", kServed));
    }
  }

  void Prepare(Before ABefore, const std::string& ALocal, const std::string& ATarget) {
    if (ABefore == Before::OldFile) {
      ASSERT_TRUE(WriteTextFile(ALocal, kOld));
    }
    if (ABefore == Before::LinkToOldFile) {
      ASSERT_TRUE(WriteTextFile(ATarget, kOld));
    }
    if (ABefore == Before::DanglingLink || ABefore == Before::LinkToOldFile) {
      fs::create_symlink(ATarget, ALocal);
    }
  }

  static void Check(After AAfter, const std::string& ALocal, const std::string& ATarget) {
    const bool link = fs::is_symlink(ALocal);
    switch (AAfter) {
    case After::Nothing:
      EXPECT_FALSE(fs::exists(fs::symlink_status(ALocal)));
      break;
    case After::OldFile:
      EXPECT_EQ(ReadTextFile(ALocal), kOld);
      break;
    case After::DanglingLink:
      EXPECT_TRUE(link);
      EXPECT_FALSE(fs::exists(ATarget));
      break;
    case After::LinkToOldFile:
      EXPECT_TRUE(link);
      EXPECT_EQ(ReadTextFile(ATarget), kOld);
      break;
    case After::Downloaded:
      EXPECT_FALSE(link);
      EXPECT_EQ(ReadTextFile(ALocal), kServed);
      break;
    }
  }

  std::unique_ptr<RealFtpServer> FServer;
  TempDir FDir{"ftpc-cli-exit."};
};

TEST_F(CliExitStatusTest, DownloadsLeaveLocalFilesAsPromised) {
  if (!FServer) {
    return;
  }
  const char* pw = kPasswordInUrl;
  // clang-format off
  const FailureCase cases[] = {
      {"existing file", Before::OldFile, {}, "served.txt", pw, 1, "already exists", After::OldFile},
      {"dangling link", Before::DanglingLink, {}, "served.txt", pw, 1, "already exists", After::DanglingLink},
      {"force replaces a file", Before::OldFile, {"--force"}, "served.txt", pw, 0, "", After::Downloaded},
      {"force replaces a link, not its target", Before::LinkToOldFile, {"--force"}, "served.txt", pw, 0, "", After::Downloaded},
      {"resume never follows a link", Before::LinkToOldFile, {"--resume"}, "served.txt", pw, 1, "symbolic link", After::LinkToOldFile},
      {"missing remote file", Before::Nothing, {}, "absent.txt", pw, 1, "ftpc-cli: 550 ", After::Nothing},
      {"failed forced download keeps the old file", Before::OldFile, {"--force"}, "absent.txt", pw, 1, "550", After::OldFile},
      {"missing remote directory", Before::Nothing, {}, "no-dir/served.txt", pw, 1, "550", After::Nothing},
      {"wrong password", Before::Nothing, {}, "served.txt", "wrong", 1, "530", After::Nothing},
      {"resume without a local file downloads", Before::Nothing, {"--resume"}, "served.txt", pw, 0, "", After::Downloaded},
  };
  // clang-format on
  int index = 0;
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string local = FDir.File("local-" + std::to_string(index));
    const std::string target = FDir.File("target-" + std::to_string(index++));
    Prepare(c.LocalBefore, local, target);
    const ProgramRun run =
        Cli(With(c.Options, {"get", UrlOf(*FServer, c.Remote, c.Password), local}));
    EXPECT_EQ(run.ExitCode, c.ExitCode) << run.Err;
    EXPECT_NE(run.Err.find(c.Message), std::string::npos) << run.Err;
    EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), c.ExitCode == 0 ? 0 : 1) << run.Err;
    Check(c.LocalAfter, local, target);
  }
  for (const auto& entry : fs::directory_iterator(FDir.Path())) {
    EXPECT_NE(entry.path().filename().string().front(), '.') << "left behind: " << entry.path();
  }
}

TEST_F(CliExitStatusTest, EveryStatusHasItsCause) {
  if (!FServer) {
    return;
  }
  const std::string local = FDir.File("x");
  const std::string existing = FDir.File("existing");
  ASSERT_TRUE(WriteTextFile(existing, "local copy"));
  const std::string url = UrlOf(*FServer, "served.txt");
  // Accepts connections (the kernel does) but never greets.
  std::string error;
  const FileDescriptor silent = ListenOn("127.0.0.1", 0, error);
  ASSERT_TRUE(silent.Valid()) << error;
  const std::string silentUrl = "ftp://127.0.0.1:" + std::to_string(LocalPort(silent.Get())) + "/f";
  const std::string refusedUrl = "ftp://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/f";
  struct Case {
    std::vector<std::string> Args;
    int ExitCode;
    const char* Err; // the whole of stderr, or its start for usage errors
  };
  const Case cases[] = {
      {{"--help"}, 0, ""},
      {{"get"}, 2, "ftpc-cli: usage: ftpc-cli [options] get URL [LOCAL]\n"},
      {{"--bogus", "get", url}, 2, "ftpc-cli: unknown option '--bogus'\n"},
      {{"verify", existing, url}, 3, "ftpc-cli: the server offers no verification command\n"},
      {{"put", FDir.File("missing"), url}, 1, "ftpc-cli: cannot open '"},
      {{"--timeout", "1", "get", silentUrl, local}, 1, "ftpc-cli: Read timed out.\n"},
      {{"get", refusedUrl, local}, 1, "ftpc-cli: Socket Error # "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.Args));
    const ProgramRun run = Cli(c.Args);
    EXPECT_EQ(run.ExitCode, c.ExitCode);
    EXPECT_EQ(run.Err.rfind(c.Err, 0), 0u) << run.Err;
  }
  EXPECT_NE(Cli({"--help"}).Out.find("ftpc-cli [options] verify LOCAL URL"), std::string::npos);
}

} // namespace
} // namespace ftpc::test
