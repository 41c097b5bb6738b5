// Remote commands against real FTP servers, judged by their effect on the server's own
// directory: APPE and STOU uploads, SIZE and MDTM, setting a file's time, and the directory
// commands (MKD, CWD, CDUP, PWD, RNFR/RNTO, DELE, RMD), including the refusals.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include "base/IdExceptionCore.h"
#include "ftp/IdFTP.h"
#include "global/IdGlobalProtocols.h"
#include "support/RealFtpSession.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc {
namespace {

namespace fs = std::filesystem;
using test::DataMode;
using test::RealFtpServer;
using test::RealServerKind;

struct ServerMode {
  RealServerKind Kind;
  DataMode Mode;
};

std::string ServerModeName(const ::testing::TestParamInfo<ServerMode>& AInfo) {
  std::string name = test::RealServerName(AInfo.param.Kind);
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  return name + "_" + test::DataModeName(AInfo.param.Mode);
}

std::unique_ptr<TMemoryStream> StreamOf(const std::string& ABytes) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteBuffer(ABytes.data(), static_cast<int64_t>(ABytes.size()));
  stream->SetPosition(0);
  return stream;
}

// Session and server for one case; the test is skipped (or failed under CI) when the server
// cannot run here.
class RealSession : public ::testing::TestWithParam<ServerMode> {
protected:
  void SetUp() override {
    FServer = test::StartRealFtpServerOrSkip(GetParam().Kind);
    if (FServer) {
      FFtp = test::LoggedInSession(*FServer, GetParam().Mode);
    }
  }
  void TearDown() override {
    if (FFtp && FFtp->Connected()) {
      FFtp->Quit();
    }
  }
  std::string OnServer(const std::string& AName) const { return FServer->RootDir() + "/" + AName; }

  std::unique_ptr<RealFtpServer> FServer;
  std::unique_ptr<TIdFTP> FFtp;
};

// Uploads run in a passive and an active mode; the other commands need no data connection.
class RealUploads : public RealSession {};
class RealCommands : public RealSession {};

// ---- APPE and STOU -------------------------------------------------------------------------

// 150 000 bytes cross the data connection's buffer sizes, so a lost or doubled block shows.
TEST_P(RealUploads, AppendSendsTheStreamFromItsPositionToTheEnd) {
  if (!FFtp) {
    return;
  }
  constexpr size_t kFirst = 70000;
  constexpr size_t kWhole = 150000;
  const std::string whole = test::PatternBytes(kWhole);
  FFtp->Put(*StreamOf(whole.substr(0, kFirst)), "log.bin");
  auto rest = StreamOf(whole);
  rest->SetPosition(kFirst);
  FFtp->Put(*rest, "log.bin", true);
  EXPECT_EQ(test::ReadTextFile(OnServer("log.bin")), whole);

  // APPE of a file that is not there yet creates it.
  FFtp->Put(*StreamOf("fresh"), "fresh.txt", true);
  EXPECT_EQ(test::ReadTextFile(OnServer("fresh.txt")), "fresh");
}

TEST_P(RealUploads, StoreUniqueReturnsTheNameOfTheNewFile) {
  if (!FFtp) {
    return;
  }
  const std::string first = test::PatternBytes(5000);
  const std::string second = "second upload";
  const std::string firstName = FFtp->StoreUnique(*StreamOf(first));
  const std::string secondName = FFtp->StoreUnique(*StreamOf(second));
  ASSERT_FALSE(firstName.empty());
  ASSERT_NE(firstName, secondName);
  EXPECT_EQ(test::ReadTextFile(OnServer(firstName)), first);
  EXPECT_EQ(test::ReadTextFile(OnServer(secondName)), second);
}

// ---- SIZE, MDTM, setting the time ----------------------------------------------------------

void SetFileTime(const std::string& APath, int64_t AUnixSeconds) {
  const timeval times[2] = {{AUnixSeconds, 0}, {AUnixSeconds, 0}};
  ASSERT_EQ(::utimes(APath.c_str(), times), 0) << APath;
}

int64_t FileTime(const std::string& APath) {
  struct stat status {};
  return ::stat(APath.c_str(), &status) == 0 ? status.st_mtime : -1;
}

// proftpd and pyftpdlib refuse SIZE in ASCII type, so Size switches to binary for the question.
TEST_P(RealCommands, SizeAndFileDateReportTheServersFile) {
  if (!FFtp) {
    return;
  }
  const int64_t stamp = DateTimeToUnix(EncodeDate(2021, 3, 4) + EncodeTime(5, 6, 7, 0));
  ASSERT_TRUE(test::WriteTextFile(OnServer("sized.bin"), test::PatternBytes(12345)));
  SetFileTime(OnServer("sized.bin"), stamp);
  FFtp->SetTransferType(ftASCII);
  EXPECT_EQ(FFtp->Size("sized.bin"), 12345);
  EXPECT_EQ(FFtp->Size("missing.bin"), -1);
  EXPECT_EQ(FFtp->TransferType(), ftASCII);
  EXPECT_EQ(DateTimeToUnix(FFtp->FileDate("sized.bin", true)), stamp);
  EXPECT_EQ(FFtp->FileDate("missing.bin", true), 0);
}

// Every one of these servers can set a file's time: vsftpd by "MDTM stamp name" (it does not
// list it), the others by MFMT. Without a zone from SITE ZONE the MDTM form carries local
// time, while vsftpd reads it as UTC, so that case holds only where local time is UTC.
TEST_P(RealCommands, SetModTimeChangesTheServersFileTime) {
  if (!FFtp) {
    return;
  }
  if (!FFtp->IsExtSupported("MFMT") && UtcOffsetOfLocalTime() != 0) {
    GTEST_SKIP() << "the MDTM form sends local time, which the server reads as UTC";
  }
  const TDateTime moment = EncodeDate(2020, 1, 2) + EncodeTime(3, 4, 5, 0);
  FFtp->Put(*StreamOf("timed"), "timed.txt");
  FFtp->SetModTimeGMT("timed.txt", moment);
  EXPECT_EQ(FileTime(OnServer("timed.txt")), DateTimeToUnix(moment));
  EXPECT_EQ(DateTimeToUnix(FFtp->FileDate("timed.txt", true)), DateTimeToUnix(moment));

  // The same moment a day later, given in local time.
  const TDateTime nextDay = moment + 1;
  FFtp->SetModTime("timed.txt", nextDay + UtcOffsetOfLocalTime());
  EXPECT_EQ(FileTime(OnServer("timed.txt")), DateTimeToUnix(nextDay));
}

// ---- Directories, renames, deletes ---------------------------------------------------------

TEST_P(RealCommands, DirectoryCommandsChangeTheServersTree) {
  if (!FFtp) {
    return;
  }
  const std::string dir = "made dir"; // arguments go out unquoted, spaces included
  FFtp->MakeDir(dir);
  ASSERT_TRUE(fs::is_directory(OnServer(dir)));
  FFtp->ChangeDir(dir);
  EXPECT_EQ(FFtp->RetrieveCurrentDir(), "/" + dir);
  FFtp->Put(*StreamOf("inner"), "inner.txt");
  EXPECT_EQ(test::ReadTextFile(OnServer(dir + "/inner.txt")), "inner");

  FFtp->Rename("inner.txt", "/moved.txt");
  EXPECT_FALSE(fs::exists(OnServer(dir + "/inner.txt")));
  EXPECT_EQ(test::ReadTextFile(OnServer("moved.txt")), "inner");

  FFtp->ChangeDirUp();
  EXPECT_EQ(FFtp->RetrieveCurrentDir(), "/");
  FFtp->Delete("moved.txt");
  EXPECT_FALSE(fs::exists(OnServer("moved.txt")));
  FFtp->RemoveDir(dir);
  EXPECT_FALSE(fs::exists(OnServer(dir)));
}

struct Refusal {
  const char* Name;
  std::function<void(TIdFTP&)> Command;
};

// A refused command raises the reply error with the server's 4xx/5xx code, changes nothing on
// the server and leaves the session usable.
TEST_P(RealCommands, RefusedCommandsRaiseAndChangeNothing) {
  if (!FFtp) {
    return;
  }
  ASSERT_TRUE(test::WriteTextFile(OnServer("kept.txt"), "kept"));
  fs::create_directory(OnServer("full"));
  ASSERT_TRUE(test::WriteTextFile(OnServer("full/inside.txt"), "inside"));
  const Refusal refusals[] = {
      {"DELE of a missing file", [](TIdFTP& AFtp) { AFtp.Delete("missing.txt"); }},
      {"RNFR of a missing file", [](TIdFTP& AFtp) { AFtp.Rename("missing.txt", "kept.txt"); }},
      {"RMD of a directory with a file", [](TIdFTP& AFtp) { AFtp.RemoveDir("full"); }},
      {"RMD of a missing directory", [](TIdFTP& AFtp) { AFtp.RemoveDir("missing"); }},
      {"CWD into a missing directory", [](TIdFTP& AFtp) { AFtp.ChangeDir("missing"); }},
      {"MKD of an existing directory", [](TIdFTP& AFtp) { AFtp.MakeDir("full"); }},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.Name);
    try {
      refusal.Command(*FFtp);
      ADD_FAILURE() << "accepted";
    } catch (const EIdReplyRFCError& error) {
      EXPECT_GE(error.ErrorCode(), 400);
      EXPECT_EQ(FFtp->LastCmdResult().NumericCode(), error.ErrorCode());
    }
    EXPECT_EQ(FFtp->RetrieveCurrentDir(), "/");
  }
  EXPECT_EQ(test::ReadTextFile(OnServer("kept.txt")), "kept");
  EXPECT_EQ(test::ReadTextFile(OnServer("full/inside.txt")), "inside");
}

constexpr RealServerKind kAllServers[] = {RealServerKind::Vsftpd, RealServerKind::Proftpd,
                                         RealServerKind::PureFtpd, RealServerKind::Pyftpdlib};

std::vector<ServerMode> ServerModes(std::initializer_list<DataMode> AModes) {
  std::vector<ServerMode> cases;
  for (const RealServerKind kind : kAllServers) {
    for (const DataMode mode : AModes) {
      cases.push_back({kind, mode});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Servers, RealUploads,
                         ::testing::ValuesIn(ServerModes({DataMode::Epsv, DataMode::Port})),
                         ServerModeName);
INSTANTIATE_TEST_SUITE_P(Servers, RealCommands, ::testing::ValuesIn(ServerModes({DataMode::Epsv})),
                         ServerModeName);

} // namespace
} // namespace ftpc
