// Transfers against a scripted server: the preliminary and final replies each engine accepts,
// the wrap-up after refusals, the abort protocol from another thread, the resume probe and the
// local-file rules of Get and Put.
#include <gtest/gtest.h>

#include "core/IdReplyRFC.h"
#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "global/IdStream.h"
#include "FtpScriptedSession.h"
#include "support/ScriptedFtpServer.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc {
namespace {

using test::ConnectedSession;
using test::Greet;
using test::OpenData;
using test::PassiveCommand;
using test::ScriptedFtpServer;
using test::StatusLog;

struct FinalCase {
  const char* Reply;
  bool Succeeds;
};

class DownloadFinalReply : public ::testing::TestWithParam<FinalCase> {};

TEST_P(DownloadFinalReply, DecidesTheOutcome) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "RETR f").DataSendPattern(1000).Reply(GetParam().Reply);
  auto ftp = ConnectedSession(server);
  TMemoryStream dest;
  if (GetParam().Succeeds) {
    ftp->Get("f", dest);
    EXPECT_EQ(dest.Size(), 1000);
  } else {
    EXPECT_THROW(ftp->Get("f", dest), EIdReplyRFCError);
  }
  EXPECT_EQ(ftp->DataChannel(), nullptr);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(Codes, DownloadFinalReply,
                         ::testing::Values(FinalCase{"226 done", true}, FinalCase{"225 done", true},
                                           FinalCase{"250 done", true},
                                           FinalCase{"451 local error", false},
                                           FinalCase{"426 broken", false}));

struct RefusalCase {
  bool Passive;
  const char* Reply;
};

class DownloadRefused : public ::testing::TestWithParam<RefusalCase> {};

// A refused RETR (450 included) raises the reply error after the wrap-up reported the abort;
// a 450 must never look like a finished download.
TEST_P(DownloadRefused, RaisesAfterTheWrapUp) {
  ScriptedFtpServer server;
  OpenData(Greet(server), GetParam().Passive)
      .Expect("RETR f")
      .Reply(GetParam().Reply)
      .Expect("NOOP")
      .Reply("200 still here");
  auto ftp = ConnectedSession(server, GetParam().Passive);
  StatusLog status;
  status.Attach(*ftp);
  TMemoryStream dest;
  EXPECT_THROW(ftp->Get("f", dest), EIdReplyRFCError);
  EXPECT_EQ(dest.Size(), 0);
  EXPECT_EQ(status.Last(), RSFTPStatusAbortTransfer);
  EXPECT_EQ(ftp->DataChannel(), nullptr);
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(Modes, DownloadRefused,
                         ::testing::Values(RefusalCase{true, "450 busy"},
                                           RefusalCase{false, "450 busy"},
                                           RefusalCase{true, "550 no such file"},
                                           RefusalCase{false, "550 no such file"}));

class UploadPreliminary : public ::testing::TestWithParam<const char*> {};

TEST_P(UploadPreliminary, IsAccepted) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "STOR up", GetParam()).DataReceive().Reply("226 stored");
  auto ftp = ConnectedSession(server);
  TMemoryStream source;
  const std::string bytes = test::PatternBytes(5000);
  source.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  source.SetPosition(1234); // STOR sends the whole stream all the same
  ftp->Put(source, "up");
  ASSERT_TRUE(server.Finished());
  ASSERT_EQ(server.Uploads().size(), 1u);
  EXPECT_EQ(server.Uploads()[0].Bytes, bytes);
}

INSTANTIATE_TEST_SUITE_P(Codes, UploadPreliminary,
                         ::testing::Values("110 restart marker", "125 open", "150 go"));

TEST(FtpUpload, AppendSendsFromTheStreamPosition) {
  ScriptedFtpServer server;
  OpenData(Greet(server), false)
      .Expect("APPE up")
      .Reply("150 go")
      .DataReceive()
      .Reply("226 stored");
  auto ftp = ConnectedSession(server, false);
  TMemoryStream source;
  const std::string bytes = test::PatternBytes(300);
  source.Write(bytes.data(), 300);
  source.SetPosition(100);
  ftp->Put(source, "up", true);
  ASSERT_TRUE(server.Finished());
  ASSERT_EQ(server.Uploads().size(), 1u);
  EXPECT_EQ(server.Uploads()[0].Bytes, bytes.substr(100));
}

struct UniqueNameCase {
  const char* Preliminary;
  const char* Name;
};

class StoreUniqueName : public ::testing::TestWithParam<UniqueNameCase> {};

TEST_P(StoreUniqueName, ComesFromThePreliminaryReply) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "STOU", GetParam().Preliminary)
      .DataReceive()
      .Reply("226 Transfer complete");
  auto ftp = ConnectedSession(server);
  TMemoryStream source;
  source.Write("unique", 6);
  EXPECT_EQ(ftp->StoreUnique(source), GetParam().Name);
  ASSERT_TRUE(server.Finished());
  ASSERT_EQ(server.Uploads().size(), 1u);
  EXPECT_EQ(server.Uploads()[0].Bytes, "unique");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StoreUniqueName,
    ::testing::Values(UniqueNameCase{"150 FILE: STOU.1", "STOU.1"},
                      UniqueNameCase{"125 file:  spaced name.txt ", "spaced name.txt"},
                      UniqueNameCase{"150-Opening data connection\n150 FILE: second.line",
                                     "second.line"},
                      UniqueNameCase{"150 Opening BINARY mode data connection", ""},
                      UniqueNameCase{"150 FILE:", ""}));

// The bytes went out, but the control connection closed before the final reply: the server
// never confirmed the file, so the upload must not count as done.
TEST(FtpUpload, ControlCloseBeforeFinalReplyIsAnError) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "STOR up").DataReceive().Close();
  auto ftp = ConnectedSession(server);
  TMemoryStream source;
  source.Write("abc", 3);
  bool afterPut = false;
  ftp->SetOnAfterPut([&](TObject*) { afterPut = true; });
  EXPECT_ANY_THROW(ftp->Put(source, "up"));
  EXPECT_FALSE(afterPut);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpUpload, EmptyRemoteNameIsRefusedBeforeAnyCommand) {
  TIdFTP ftp;
  TMemoryStream source;
  EXPECT_THROW(ftp.Put(source, ""), EIdFTPUploadFileNameCanNotBeEmpty);
}

TEST(FtpUpload, FileFormTakesTheLocalFileName) {
  test::TempDir dir;
  const std::string local = dir.Path() + "/sub.bin";
  ASSERT_TRUE(test::WritePatternFile(local, 10));
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "STOR sub.bin").DataReceive().Reply("226 stored");
  auto ftp = ConnectedSession(server);
  ftp->Put(local);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpDownload, ExistingLocalFileIsKeptAndNothingIsSent) {
  test::TempDir dir;
  const std::string local = dir.Path() + "/keep.bin";
  ASSERT_TRUE(test::WritePatternFile(local, 7));
  TIdFTP ftp; // not even connected: nothing may be sent
  EXPECT_THROW(ftp.Get("f", local, false, false), EIdFTPFileAlreadyExists);
}

// The REST probe runs once per object; a resumed download sends REST with the local length.
TEST(FtpDownload, ResumeProbesOnceAndRestartsAtTheLocalLength) {
  test::TempDir dir;
  const std::string local = dir.Path() + "/part.bin";
  ASSERT_TRUE(test::WritePatternFile(local, 4));
  ScriptedFtpServer server;
  Greet(server).Expect("REST 1").Reply("350 ok").Expect("REST 0").Reply("350 ok");
  OpenData(server).Expect("REST 4").Reply("350 restarting");
  server.Expect("RETR f")
      .Reply("150 go")
      .DataSend(test::PatternBytes(10).substr(4))
      .Reply("226 done");
  OpenData(server).Expect("REST 10").Reply("350 restarting");
  server.Expect("RETR f").Reply("150 go").DataSend("").Reply("226 done");
  auto ftp = ConnectedSession(server);
  ftp->Get("f", local, false, true);
  ftp->Get("f", local, false, true);
  EXPECT_TRUE(server.Finished());
  TIdReadFileNonExclusiveStream check(local);
  EXPECT_EQ(check.Size(), 10);
}

// ABOR from another thread during a download: the server answers 426 for the broken transfer
// and 226 for the ABOR; both are read and the transfer ends as aborted.
TEST(FtpAbort, FromAnotherThreadReadsBothReplies) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "RETR f")
      .DataSend("first bytes", test::DataEnd::Keep)
      .DataStall()
      .Expect("ABOR")
      .Reply("426 transfer aborted")
      .Reply("226 abort done")
      .Expect("NOOP")
      .Reply("200 ok");
  auto ftp = ConnectedSession(server);
  test::OneShotSignal transferring;
  ftp->SetOnWorkBegin([&](TObject*, TWorkMode, int64_t) { transferring.Fire(); });
  StatusLog status;
  status.Attach(*ftp);
  TMemoryStream dest;
  EXPECT_NO_THROW(test::AbortFromAnotherThread(
      *ftp, [&] { return transferring.Wait(); }, [&] { ftp->Get("f", dest); }));
  EXPECT_TRUE(transferring.Fired());
  EXPECT_EQ(status.Last(), RSFTPStatusAbortTransfer);
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  EXPECT_TRUE(server.Finished());
}

// An Abort that comes after the data connection was released finds nothing to abort: the
// transferring thread is reading the final reply, so Abort must neither write nor read.
TEST(FtpAbort, FromAnotherThreadAfterTheDataPhaseLeavesTheControlConnectionAlone) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "RETR f")
      .DataSend("all bytes")
      .Stall()
      .Reply("226 done")
      .Expect("NOOP")
      .Reply("200 ok");
  auto ftp = ConnectedSession(server);
  test::OneShotSignal finishing;
  ftp->SetOnStatus([&](TObject*, TIdStatus, const std::string& AText) {
    if (AText == RSFTPStatusDoneTransfer) {
      finishing.Fire();
    }
  });
  TMemoryStream dest;
  EXPECT_NO_THROW(test::AbortFromAnotherThread(
      *ftp, [&] { return finishing.Wait(); }, [&] { ftp->Get("f", dest); },
      [&] { server.Release(); }));
  EXPECT_TRUE(finishing.Fired());
  EXPECT_EQ(dest.Size(), 9);
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  EXPECT_TRUE(server.Finished());
}

} // namespace
} // namespace ftpc
