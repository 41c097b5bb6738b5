// The wrap-up after a data transfer: every way a server may answer ABOR after an abort from
// another thread, during a download and during an upload, and that the control connection
// stays in step for the next command. Also the unique upload (STOU) and the resume probe.
#include <cerrno>
#include <functional>
#include <system_error>

#include <gtest/gtest.h>

#include "FtpScriptedSession.h"
#include "core/IdReplyRFC.h"
#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "global/IdStream.h"
#include "support/PatternStreams.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc {
namespace {

using test::ConnectedSession;
using test::Greet;
using test::PassiveCommand;
using test::ScriptedFtpServer;
using test::StatusLog;

// Runs ATransfer on this thread and Abort on another once the server reached AMark.
template <typename TTransfer>
void TransferAbortedAt(TIdFTP& AFtp, ScriptedFtpServer& AServer, const char* AMark,
                       TTransfer ATransfer) {
  const bool aborted = test::AbortFromAnotherThread(
      AFtp, [&] { return AServer.WaitForMark(AMark); }, ATransfer);
  EXPECT_TRUE(aborted);
}

enum class Direction { Download, Upload };

struct AbortCase {
  const char* Name;
  const char* Replies; // what the server sends after ABOR, raw
  bool Raises;         // the replies are not an accepted answer to ABOR
};

const AbortCase kAbortCases[] = {
    // RFC 959 4.1.3: the broken transfer, then the ABOR.
    {"BrokenThenAbortDone", "426 broken\r\n226 abort done\r\n", false},
    {"BrokenThenNothingToAbort", "426 broken\r\n225 no transfer to ABOR\r\n", false},
    {"LocalErrorThenDone", "451 local error\r\n226 abort done\r\n", false},
    {"CannotOpenThenDone", "425 no data connection\r\n226 abort done\r\n", false},
    {"UnavailableThenDone", "550 gone\r\n225 abort done\r\n", false},
    // The transfer had finished when ABOR came: its 226, then the ABOR's own reply.
    {"FinishedThenAbortDone", "226 complete\r\n226 abort done\r\n", false},
    {"FinishedThenNothingToAbort", "226 complete\r\n225 no transfer to ABOR\r\n", false},
    // A third reply that is already there after 226 and 226 belongs to the abort too.
    {"FinishedDoneThenLate", "226 complete\r\n226 abort done\r\n426 late\r\n", false},
    // One reply only: ABOR answered without a word on the transfer.
    {"AbortDoneAlone", "225 abort done\r\n", false},
    {"OkAlone", "250 ok\r\n", false},
    {"StorageExceededAlone", "552 exceeded\r\n", false},
    // ABOR refused: the reply error, but both replies are read.
    {"BrokenThenAbortRefused", "426 broken\r\n500 ABOR not understood\r\n", true},
    {"AbortRefused", "502 not implemented\r\n", true},
};

class AbortReplies : public ::testing::TestWithParam<std::tuple<Direction, AbortCase>> {
protected:
  Direction Dir() const { return std::get<0>(GetParam()); }
  const AbortCase& Case() const { return std::get<1>(GetParam()); }

  // The transfer is under way when ABOR comes; the server drops the data connection then, as
  // a server that stopped reading would never see the client's close behind the unread bytes.
  void Script(ScriptedFtpServer& AServer) const {
    Greet(AServer);
    if (Dir() == Direction::Download) {
      PassiveCommand(AServer, "RETR f").DataSend("first bytes", test::DataEnd::Keep);
    } else {
      PassiveCommand(AServer, "STOR f").DataReceive(1000);
    }
    AServer.Mark("moving")
        .Expect("ABOR")
        .DataReset()
        .ReplyRaw(Case().Replies)
        .Expect("NOOP")
        .Reply("200 still in step")
        .ExpectClose();
  }

  void Transfer(TIdFTP& AFtp) const {
    if (Dir() == Direction::Download) {
      TMemoryStream dest;
      AFtp.Get("f", dest);
    } else {
      test::TPatternStream source(int64_t{1} << 40); // ends only by the abort
      AFtp.Put(source, "f");
    }
  }
};

TEST_P(AbortReplies, EndTheTransferAndKeepTheSessionInStep) {
  ScriptedFtpServer server;
  Script(server);
  auto ftp = ConnectedSession(server);
  StatusLog status;
  status.Attach(*ftp);
  auto run = [&] { TransferAbortedAt(*ftp, server, "moving", [&] { Transfer(*ftp); }); };
  if (Case().Raises) {
    EXPECT_THROW(run(), EIdReplyRFCError);
  } else {
    EXPECT_NO_THROW(run());
    EXPECT_EQ(status.Last(), RSFTPStatusAbortTransfer);
  }
  EXPECT_EQ(ftp->DataChannel(), nullptr);
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  ftp->Disconnect(false);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, AbortReplies,
    ::testing::Combine(::testing::Values(Direction::Download, Direction::Upload),
                       ::testing::ValuesIn(kAbortCases)),
    [](const ::testing::TestParamInfo<AbortReplies::ParamType>& AInfo) {
      return std::string(std::get<0>(AInfo.param) == Direction::Download ? "Get" : "Put") +
             std::get<1>(AInfo.param).Name;
    });

// A local stream that asks for an abort when the bytes come, then runs AThen (which may fail to
// store them, as a full disk would while an abort is on its way) and stores them.
class TAbortingStream : public TMemoryStream {
public:
  TAbortingStream(TIdFTP& AFtp, std::function<void()> AThen)
      : FFtp(AFtp), FThen(std::move(AThen)) {}
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    FFtp.Abort();
    FThen();
    return TMemoryStream::Write(ABuffer, ACount);
  }

private:
  TIdFTP& FFtp;
  std::function<void()> FThen;
};

struct LocalFailureCase {
  const char* Name;
  std::function<void()> Fail;
  std::function<bool(const std::exception&)> IsIt;
};

const LocalFailureCase kLocalFailures[] = {
    {"SystemError", [] { throw std::system_error(ENOSPC, std::generic_category()); },
     [](const std::exception& AError) { return dynamic_cast<const std::system_error*>(&AError); }},
    {"FileStreamError", [] { throw EIdFileStreamError("disk full"); },
     [](const std::exception& AError) {
       return dynamic_cast<const EIdFileStreamError*>(&AError) != nullptr;
     }},
};

class LocalFailureDuringAbort : public ::testing::TestWithParam<LocalFailureCase> {};

// The abort accounts for a broken data connection, never for a local write error: that one
// reaches the caller, after the abort replies were read.
TEST_P(LocalFailureDuringAbort, PropagatesAndKeepsTheSessionInStep) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "RETR f")
      .DataSend("all bytes")
      .Expect("ABOR")
      .ReplyRaw("226 complete\r\n225 no transfer to ABOR\r\n")
      .Expect("NOOP")
      .Reply("200 still in step")
      .ExpectClose();
  auto ftp = ConnectedSession(server);
  TAbortingStream dest(*ftp, GetParam().Fail);
  try {
    ftp->Get("f", dest);
    ADD_FAILURE() << "the local failure was swallowed";
  } catch (const std::exception& error) {
    EXPECT_TRUE(GetParam().IsIt(error)) << error.what();
  }
  EXPECT_EQ(ftp->DataChannel(), nullptr);
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  ftp->Disconnect(false);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(Failures, LocalFailureDuringAbort, ::testing::ValuesIn(kLocalFailures),
                         [](const ::testing::TestParamInfo<LocalFailureCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

// A second Abort while the first is on its way sends nothing: one ABOR, whose replies the
// transfer reads, keeps the session in step.
TEST(FtpAbort, SecondRequestInOneTransferSendsNoSecondABOR) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "RETR f")
      .DataSend("all bytes")
      .Expect("ABOR")
      .ReplyRaw("426 aborted\r\n226 abort done\r\n")
      .Expect("NOOP")
      .Reply("200 still in step")
      .ExpectClose();
  auto ftp = ConnectedSession(server);
  TAbortingStream dest(*ftp, [&] { ftp->Abort(); });
  EXPECT_NO_THROW(ftp->Get("f", dest));
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  ftp->Disconnect(false);
  EXPECT_TRUE(server.Finished());
}

// With no transfer running there is no transferring thread to read the reply: Abort does.
TEST(FtpAbort, WithoutATransferReadsItsOwnReply) {
  ScriptedFtpServer server;
  Greet(server)
      .Expect("ABOR")
      .Reply("225 no transfer to ABOR")
      .Expect("NOOP")
      .Reply("200 ok")
      .ExpectClose();
  auto ftp = ConnectedSession(server);
  ftp->Abort();
  EXPECT_EQ(ftp->LastCmdResult().NumericCode(), 225);
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  ftp->Disconnect(false);
  EXPECT_TRUE(server.Finished());
}

// Without an abort a second reply after the final one is not the transfer's: it stays for the
// next command, which is how a server out of step shows itself.
TEST(FtpWrapUp, FinalReplyIsReadOnce) {
  ScriptedFtpServer server;
  PassiveCommand(Greet(server), "RETR f")
      .DataSend("abc")
      .ReplyRaw("226 done\r\n226 again\r\n")
      .Expect("NOOP")
      .Reply("200 ok")
      .ExpectClose();
  auto ftp = ConnectedSession(server);
  TMemoryStream dest;
  ftp->Get("f", dest);
  EXPECT_EQ(ftp->LastCmdResult().FirstTextLine(), "done");
  EXPECT_EQ(ftp->SendCmd("NOOP"), 226);
  EXPECT_EQ(ftp->GetResponse(), 200);
  ftp->Disconnect(false);
  EXPECT_TRUE(server.Finished());
}

// ---- Unique upload (STOU, RFC 959 4.1.3; RFC 1123 4.1.2.9) ---------------------------------

struct StouCase {
  bool Passive;
  const char* Preliminary;
  const char* Final;   // nullptr: STOU itself is refused
  const char* Name;    // nullptr: StoreUnique raises the reply error
};

class StoreUniqueReplies : public ::testing::TestWithParam<StouCase> {};

// STOU goes without an argument in both data modes; whatever the outcome, the session answers
// its next command.
TEST_P(StoreUniqueReplies, DecideTheOutcome) {
  const StouCase& c = GetParam();
  ScriptedFtpServer server;
  test::OpenData(Greet(server), c.Passive).Expect("STOU").Reply(c.Preliminary);
  if (c.Final != nullptr) {
    server.DataReceive().Reply(c.Final);
  }
  server.Expect("NOOP").Reply("200 ok").ExpectClose();
  auto ftp = ConnectedSession(server, c.Passive);
  TMemoryStream source;
  source.Write("unique", 6);
  if (c.Name != nullptr) {
    EXPECT_EQ(ftp->StoreUnique(source), c.Name);
  } else {
    EXPECT_THROW(ftp->StoreUnique(source), EIdReplyRFCError);
  }
  EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
  ftp->Disconnect(false);
  ASSERT_TRUE(server.Finished());
  if (c.Final != nullptr) {
    ASSERT_EQ(server.Uploads().size(), 1u);
    EXPECT_EQ(server.Uploads()[0].Bytes, "unique");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, StoreUniqueReplies,
    ::testing::Values(StouCase{true, "110 MARK 0 = 0", "250 stored as f.2", ""},
                      StouCase{false, "125 FILE: f.3", "226 done", "f.3"},
                      StouCase{false, "150 FILE: f.4", "250 done", "f.4"},
                      StouCase{true, "150 FILE: f.5", "452 disk full", nullptr},
                      StouCase{true, "553 no unique name", nullptr, nullptr},
                      StouCase{false, "553 no unique name", nullptr, nullptr}));

// ---- Resume probe ------------------------------------------------------------------------

// "REST 1" is asked once per object, not once per connection: a later Connect keeps the answer,
// and a server without restart support gets no REST before its RETR.
TEST(FtpResumeProbe, RunsOncePerObjectAcrossConnections) {
  ScriptedFtpServer server;
  Greet(server)
      .Expect("REST 1")
      .Reply("502 no restart")
      .Expect("REST 0")
      .Reply("502 no restart")
      .ExpectClose()
      .Accept();
  PassiveCommand(Greet(server), "RETR f").DataSend("whole").Reply("226 done").ExpectClose();
  auto ftp = ConnectedSession(server);
  EXPECT_FALSE(ftp->ResumeSupported());
  ftp->Disconnect(false);
  ftp->Connect();
  EXPECT_FALSE(ftp->ResumeSupported());
  TMemoryStream dest;
  dest.Write("old", 3);
  ftp->Get("f", dest, true);
  ftp->Disconnect(false);
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(std::string(dest.Memory().begin(), dest.Memory().end()), "oldwhole");
}

} // namespace
} // namespace ftpc
