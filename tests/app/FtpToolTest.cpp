// The tool as a process against a scripted server on 127.0.0.N:21: the exact command sequence of
// an upload and a download, and every failure path, each silent with exit code 0.
#include <filesystem>
#include <functional>
#include <span>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/ToolRun.h"
#include "support/ScriptedFtpServer.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc::test {
namespace {

constexpr const char* kUser = "bob";
constexpr const char* kPassword = "s3cret";
constexpr const char* kDirectory = "/incoming";
constexpr const char* kFeaturesFull = "211-Features:\n UTF8\n PRET\n SIZE\n211 End";
constexpr const char* kFeaturesNone = "211-Features:\n211 End";

std::unique_ptr<ScriptedFtpServer> Port21Server() {
  return std::make_unique<ScriptedFtpServer>(ScriptedFtpServerOptions{.Address = "127.0.0.*", .Port = 21});
}

// Greeting up to the reply to PASS.
ScriptedFtpServer& ScriptUserAndPass(ScriptedFtpServer& S, const std::string& APassReply) {
  return S.Reply("220 scripted server")
      .Expect("HOST [" + S.Address() + "]").Reply("220 host accepted")
      .Expect(std::string("USER ") + kUser).Reply("331 password please")
      .Expect(std::string("PASS ") + kPassword).Reply(APassReply);
}

// A full login and the directory change, with the features the server lists.
ScriptedFtpServer& ScriptLogin(ScriptedFtpServer& S, const std::string& AFeatures = kFeaturesNone,
                               const std::string& ACwdReply = "250 directory changed") {
  ScriptUserAndPass(S, "230 logged in").Expect("FEAT").Reply(AFeatures);
  if (AFeatures.find(" UTF8") != std::string::npos) {
    S.Expect("OPTS UTF8 ON").Reply("200 always UTF-8");
  }
  return S.Expect("TYPE I").Reply("200 binary")
      .Expect("SYST").Reply("215 UNIX Type: L8")
      .Expect("TYPE I").Reply("200 binary")
      .Expect(std::string("CWD ") + kDirectory).Reply(ACwdReply);
}

void ExpectSilentRun(const ToolRun& ARun) {
  EXPECT_TRUE(ARun.Exited);
  EXPECT_EQ(ARun.ExitCode, 0);
  EXPECT_EQ(ARun.Out, kToolBanner);
  EXPECT_EQ(ARun.Err, "");
}

ToolRun RunAgainst(const ScriptedFtpServer& AServer, const std::string& AOperation,
                   const std::string& ASource, const std::string& ADestination) {
  return RunTool({AOperation, ASource, ADestination, AServer.Address(), kUser, kPassword, kDirectory});
}

bool FileExists(const std::string& APath) {
  struct stat info {};
  return ::stat(APath.c_str(), &info) == 0;
}

class FtpToolTest : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string problem = Port21Unavailable();
    if (!problem.empty()) {
      GTEST_SKIP() << problem;
    }
  }
  TempDir FDir{"ftpc-tool-test."};
};

struct TransferCase {
  const char* Name;
  const char* Features;
  const char* RemoteName;  // upload: argument 3 ("" = the local file's name)
};

const TransferCase kTransferCases[] = {
    {"features UTF8 and PRET", kFeaturesFull, "remote.bin"},
    {"no features", kFeaturesNone, "remote.bin"},
    {"upload without remote name", kFeaturesNone, ""},
};

TEST_F(FtpToolTest, UploadSendsTheCommandSequenceAndEveryByte) {
  const std::string content = PatternBytes(300 * 1024 + 7);
  const std::string local = FDir.File("local.bin");
  ASSERT_TRUE(WriteTextFile(local, content));
  for (const TransferCase& c : kTransferCases) {
    SCOPED_TRACE(c.Name);
    const std::string stored = *c.RemoteName != '\0' ? c.RemoteName : "local.bin";
    auto server = Port21Server();
    ScriptLogin(*server, c.Features);
    if (std::string(c.Features).find("PRET") != std::string::npos) {
      server->Expect("PRET STOR " + stored).Reply("200 ready");
    }
    server->Expect("PASV").ReplyPasv()
        .Expect("STOR " + stored).Reply("150 send it")
        .DataReceive().Reply("226 stored")
        .ExpectClose();
    server->Start();
    ExpectSilentRun(RunAgainst(*server, "p", local, c.RemoteName));
    EXPECT_TRUE(server->Finished());
    const auto uploads = server->Uploads();
    ASSERT_EQ(uploads.size(), 1U);
    EXPECT_EQ(uploads[0].Size, content.size());
    EXPECT_EQ(uploads[0].Bytes, content);
  }
}

TEST_F(FtpToolTest, DownloadSendsTheCommandSequenceAndWritesTheFile) {
  const std::string content = PatternBytes(300 * 1024 + 7);
  int index = 0;
  for (const TransferCase& c : std::span(kTransferCases, 2)) {  // the remote name is given
    SCOPED_TRACE(c.Name);
    const std::string local = FDir.File("download-" + std::to_string(index++));
    auto server = Port21Server();
    ScriptLogin(*server, c.Features);
    if (std::string(c.Features).find("PRET") != std::string::npos) {
      server->Expect("PRET RETR remote.bin").Reply("200 ready");
    }
    server->Expect("PASV").ReplyPasv()
        .Expect("RETR remote.bin").Reply("150 here it comes")
        .DataSend(content).Reply("226 sent")
        .ExpectClose();
    server->Start();
    ExpectSilentRun(RunAgainst(*server, "g", "remote.bin", local));
    EXPECT_TRUE(server->Finished());
    EXPECT_EQ(ReadTextFile(local), content);
  }
}

// A 227 naming another host (127.0.0.1, where nothing listens on the port) is not followed: the
// data connection goes to the server the tool connected to.
TEST_F(FtpToolTest, DataConnectionGoesToTheControlPeerNotThePasvHost) {
  const std::string local = FDir.File("download");
  auto server = Port21Server();
  ScriptLogin(*server)
      .Expect("PASV").Reply("227 Entering Passive Mode (127,0,0,1,{p1},{p2})")
      .Expect("RETR remote.bin").Reply("150 here it comes")
      .DataSend("served").Reply("226 sent")
      .ExpectClose();
  server->Start();
  ExpectSilentRun(RunAgainst(*server, "g", "remote.bin", local));
  EXPECT_TRUE(server->Finished());
  EXPECT_EQ(ReadTextFile(local), "served");
}

TEST_F(FtpToolTest, NoArgumentsPrintsTheBannerOnly) {
  ExpectSilentRun(RunTool({}));
}

// What happens to the local destination of a failed run.
enum class LocalFile { Absent, Untouched };
// What is at the local destination before the run.
enum class Before { Nothing, File, DanglingLink };

struct FailureCase {
  const char* Name;
  const char* Operation;
  Before Destination;
  std::function<void(ScriptedFtpServer&)> Script;
  LocalFile Expected;
};

void ScriptNoTransfer(ScriptedFtpServer& S) { ScriptLogin(S).ExpectClose(); }

void ScriptRetr(ScriptedFtpServer& S, const std::string& AReply) {
  ScriptLogin(S).Expect("PASV").ReplyPasv().Expect("RETR remote.bin").Reply(AReply);
}

const std::string kPreexisting = "keep me";

std::vector<FailureCase> FailureCases() {
  return {
      {"wrong password: QUIT, then close", "g", Before::Nothing,
       [](ScriptedFtpServer& S) {
         ScriptUserAndPass(S, "530 Login incorrect.").Expect("QUIT").Reply("221 bye").ExpectClose();
       },
       LocalFile::Absent},
      {"directory refused", "g", Before::Nothing,
       [](ScriptedFtpServer& S) { ScriptLogin(S, kFeaturesNone, "550 no such directory").ExpectClose(); },
       LocalFile::Absent},
      {"upper-case P transfers nothing", "P", Before::Nothing, ScriptNoTransfer, LocalFile::Absent},
      {"upper-case G transfers nothing", "G", Before::Nothing, ScriptNoTransfer, LocalFile::Absent},
      {"other letter transfers nothing", "x", Before::Nothing, ScriptNoTransfer, LocalFile::Absent},
      {"existing destination is left alone", "g", Before::File, ScriptNoTransfer, LocalFile::Untouched},
      {"dangling link at the destination is neither followed nor removed", "g",
       Before::DanglingLink, ScriptNoTransfer, LocalFile::Untouched},
      {"RETR refused removes the new file", "g", Before::Nothing,
       [](ScriptedFtpServer& S) { ScriptRetr(S, "550 no such file"); S.ExpectClose(); },
       LocalFile::Absent},
      {"RETR answered 450 removes the new file", "g", Before::Nothing,
       [](ScriptedFtpServer& S) { ScriptRetr(S, "450 file busy"); S.ExpectClose(); },
       LocalFile::Absent},
      {"broken data connection removes the partial file", "g", Before::Nothing,
       [](ScriptedFtpServer& S) {
         ScriptRetr(S, "150 here it comes");
         S.DataSend(PatternBytes(64 * 1024), DataEnd::Reset).Reply("426 connection lost").ExpectClose();
       },
       LocalFile::Absent},
      {"control connection lost mid-download removes the partial file", "g", Before::Nothing,
       [](ScriptedFtpServer& S) {
         ScriptRetr(S, "150 here it comes");
         S.DataSend(PatternBytes(64 * 1024)).Close();
       },
       LocalFile::Absent},
  };
}

TEST_F(FtpToolTest, EveryFailureIsSilentAndLeavesNoFalseDownload) {
  int index = 0;
  for (const FailureCase& c : FailureCases()) {
    SCOPED_TRACE(c.Name);
    const std::string local = FDir.File("dest-" + std::to_string(index++));
    const std::string linkTarget = local + "-target";
    if (c.Destination == Before::File) {
      ASSERT_TRUE(WriteTextFile(local, kPreexisting));
    } else if (c.Destination == Before::DanglingLink) {
      std::filesystem::create_symlink(linkTarget, local);
    }
    auto server = Port21Server();
    c.Script(*server);
    server->Start();
    const std::string source = *c.Operation == 'g' || *c.Operation == 'G' ? "remote.bin" : local;
    ExpectSilentRun(RunAgainst(*server, c.Operation, source, local));
    EXPECT_TRUE(server->Finished());
    if (c.Destination == Before::DanglingLink) {
      EXPECT_TRUE(std::filesystem::is_symlink(local));
      EXPECT_FALSE(FileExists(linkTarget));
    } else if (c.Expected == LocalFile::Untouched) {
      EXPECT_EQ(ReadTextFile(local), kPreexisting);
    } else {
      EXPECT_FALSE(FileExists(local));
    }
  }
}

} // namespace
} // namespace ftpc::test
