// A transfer's set-up, before its data command: a data connection that cannot be set up still
// gets the wrap-up's event and status, and an Abort from another thread during the set-up is
// kept and honoured without ever splitting REST from its data command.
#include <gtest/gtest.h>

#include "FtpScriptedSession.h"
#include "base/IdResourceStrings.h"
#include "core/IdReplyRFC.h"
#include "ftp/IdFTP.h"
#include "global/IdStream.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc {
namespace {

using test::Greet;
using test::Lines;
using test::ScriptedFtpServer;
using test::StatusLog;

// Counts the data connection's create and destroy events and records the status texts.
struct SetUpWatch {
  int Created = 0;
  int Destroyed = 0;
  StatusLog Status;
  void Attach(TIdFTP& AFtp) {
    AFtp.SetOnDataChannelCreate([this](TObject*, TIdTCPConnection&) { ++Created; });
    AFtp.SetOnDataChannelDestroy([this](TObject*, TIdTCPConnection&) { ++Destroyed; });
    Status.Attach(AFtp);
  }
};

// The resume probe, answered "restart supported".
ScriptedFtpServer& ProbeRest(ScriptedFtpServer& AServer) {
  return AServer.Expect("REST 1").Reply("350 ok").Expect("REST 0").Reply("350 ok");
}

struct SetUpFailureCase {
  const char* Name;
  bool Passive;
  bool Resume;
  void (*Script)(ScriptedFtpServer&);
};

const SetUpFailureCase kSetUpFailures[] = {
    {"RestRefused", true, true,
     [](ScriptedFtpServer& S) {
       ProbeRest(S).Expect("PASV").ReplyPasv().Expect("REST 3").Reply("502 no restart");
     }},
    {"PortRefused", false, false,
     [](ScriptedFtpServer& S) { S.ExpectPrefix("PORT ").Reply("500 PORT not understood"); }},
    {"PassiveConnectRefused", true, false,
     [](ScriptedFtpServer& S) {
       S.Expect("PASV").Reply(test::Pasv227Text("127.0.0.1", test::UnusedLoopbackPort()));
     }},
};

// One session whose script ends in a NOOP, its events watched, and a local stream holding
// three bytes (a resume offset).
template <typename TCase>
class SetUpSession : public ::testing::TestWithParam<TCase> {
protected:
  void Open(void (*AScript)(ScriptedFtpServer&), bool APassive) {
    AScript(Greet(server));
    server.Expect("NOOP").Reply("200 still in step").ExpectClose();
    ftp = test::ConnectedSession(server, APassive);
    watch.Attach(*ftp);
    local.Write("old", 3);
  }
  // The session is still in step afterwards, and the script ran to its end.
  void ExpectInStepAndClose() {
    EXPECT_EQ(ftp->SendCmd("NOOP", {200}), 200);
    ftp->Disconnect(false);
    EXPECT_TRUE(server.Finished());
  }

  ScriptedFtpServer server;
  std::unique_ptr<TIdFTP> ftp;
  SetUpWatch watch;
  TMemoryStream local;
};

class DataSetUpFailure : public SetUpSession<SetUpFailureCase> {};

TEST_P(DataSetUpFailure, RunsTheWrapUpsEventAndStatus) {
  const SetUpFailureCase& c = GetParam();
  Open(c.Script, c.Passive);
  TMemoryStream& dest = local;
  EXPECT_THROW(ftp->Get("f", dest, c.Resume), EIdException);
  EXPECT_EQ(watch.Created, 1);
  EXPECT_EQ(watch.Destroyed, 1);
  EXPECT_EQ(watch.Status.Last(), RSFTPStatusAbortTransfer);
  EXPECT_EQ(ftp->DataChannel(), nullptr);
  ExpectInStepAndClose();
}

INSTANTIATE_TEST_SUITE_P(Steps, DataSetUpFailure, ::testing::ValuesIn(kSetUpFailures),
                         [](const ::testing::TestParamInfo<SetUpFailureCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

// Abort from another thread while the server holds one set-up step ("setup" marks it).
struct AbortInSetUpCase {
  const char* Name;
  bool Passive;
  bool Upload;
  bool Resume;
  void (*Script)(ScriptedFtpServer&); // from after the greeting to the NOOP
  Lines Sent;                         // every command after the connect sequence
};

const AbortInSetUpCase kAbortsInSetUp[] = {
    // Before the data command: the transfer ends there, nothing more is sent.
    {"GetDuringPasv", true, false, false,
     [](ScriptedFtpServer& S) { S.Expect("PASV").Mark("setup").Stall().ReplyPasv(); },
     {"SYST", "PASV", "NOOP"}},
    {"PutDuringPasv", true, true, false,
     [](ScriptedFtpServer& S) { S.Expect("PASV").Mark("setup").Stall().ReplyPasv(); },
     {"SYST", "PASV", "NOOP"}},
    {"PutDuringPort", false, true, false,
     [](ScriptedFtpServer& S) { S.ExpectPrefix("PORT ").Mark("setup").Stall().Reply("200 ok"); },
     {"SYST", "PORT", "NOOP"}},
    // During REST: the data command follows REST, and ABOR follows them both.
    {"GetDuringRest", true, false, true,
     [](ScriptedFtpServer& S) {
       ProbeRest(S)
           .Expect("PASV")
           .ReplyPasv()
           .Expect("REST 3")
           .Mark("setup")
           .Stall()
           .Reply("350 restarting")
           .Expect("RETR f")
           .Reply("150 go")
           .Expect("ABOR")
           .DataReset()
           .ReplyRaw("426 broken\r\n226 abort done\r\n");
     },
     {"SYST", "REST 1", "REST 0", "PASV", "REST 3", "RETR f", "ABOR", "NOOP"}},
};

class AbortDuringSetUp : public SetUpSession<AbortInSetUpCase> {};

TEST_P(AbortDuringSetUp, IsHonouredAndNeverSplitsRestFromTheDataCommand) {
  const AbortInSetUpCase& c = GetParam();
  Open(c.Script, c.Passive);
  TMemoryStream& data = local;
  const bool aborted = test::AbortFromAnotherThread(
      *ftp, [&] { return server.WaitForMark("setup"); },
      [&] { c.Upload ? ftp->Put(data, "f") : ftp->Get("f", data, c.Resume); },
      [&] { server.Release(); });
  EXPECT_TRUE(aborted);
  EXPECT_EQ(watch.Status.Last(), RSFTPStatusAbortTransfer);
  EXPECT_EQ(watch.Created, watch.Destroyed);
  ExpectInStepAndClose();
  Lines sent = server.Received();
  for (std::string& line : sent) {
    line = line.starts_with("PORT ") ? "PORT" : line; // its address varies
  }
  EXPECT_EQ(sent, c.Sent);
}

INSTANTIATE_TEST_SUITE_P(Steps, AbortDuringSetUp, ::testing::ValuesIn(kAbortsInSetUp),
                         [](const ::testing::TestParamInfo<AbortInSetUpCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

} // namespace
} // namespace ftpc
