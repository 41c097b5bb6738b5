// Remote commands over the control connection: the exact lines sent, the codes accepted, and
// the results read from the replies.
#include <functional>

#include <gtest/gtest.h>

#include "core/IdReplyRFC.h"
#include "ftp/IdFTP.h"
#include "global/IdGlobalProtocols.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc {
namespace {

using test::Lines;
using test::ScriptedFtpServer;

// A logged-in session (AutoLogin off, no FEAT) against a scripted server whose script
// continues with AScript; AFeat, when given, is the FEAT answer.
class FtpCommands : public ::testing::Test {
protected:
  void Connect(const std::function<void(ScriptedFtpServer&)>& AScript,
               const std::string& AFeat = "", const std::string& AGreeting = "220 ready") {
    FServer.Reply(AGreeting).ExpectPrefix("HOST ").Reply("500 no").Expect("SYST").Reply(
        "215 UNIX Type: L8");
    if (!AFeat.empty()) {
      FServer.Expect("FEAT").Reply(AFeat);
    }
    AScript(FServer);
    FServer.ExpectClose();
    FServer.Start();
    FFtp.SetHost(FServer.Address());
    FFtp.SetPort(FServer.Port());
    FFtp.SetAutoLogin(false);
    FFtp.SetAutoIssueFEAT(!AFeat.empty());
    FFtp.Connect();
  }

  // The command lines after the connect sequence.
  Lines Commands() const {
    Lines all = FServer.Received();
    const size_t skip = FFtp.AutoIssueFEAT() ? 3 : 2;
    return all.size() > skip ? Lines(all.begin() + static_cast<long>(skip), all.end()) : Lines{};
  }

  ScriptedFtpServer FServer;
  TIdFTP FFtp;
};

struct CommandCase {
  const char* Name;
  std::function<void(TIdFTP&)> Call;
  const char* Line;
  const char* Reply;
  bool Raises;
};

class FtpSingleCommand : public FtpCommands, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(FtpSingleCommand, SendsItsLineAndChecksTheCode) {
  const CommandCase& c = GetParam();
  Connect([&](ScriptedFtpServer& AServer) { AServer.Expect(c.Line).Reply(c.Reply); });
  if (c.Raises) {
    EXPECT_THROW(c.Call(FFtp), EIdReplyRFCError);
  } else {
    EXPECT_NO_THROW(c.Call(FFtp));
  }
  EXPECT_EQ(Commands(), (Lines{c.Line}));
  EXPECT_EQ(FFtp.LastCmdResult().Code(), std::string(c.Reply).substr(0, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FtpSingleCommand,
    ::testing::Values(
        CommandCase{"Noop", [](TIdFTP& F) { F.Noop(); }, "NOOP", "200 ok", false},
        CommandCase{"CwdAccepts200", [](TIdFTP& F) { F.ChangeDir("pub"); }, "CWD pub", "200 ok",
                    false},
        CommandCase{"CwdAccepts250", [](TIdFTP& F) { F.ChangeDir("a b"); }, "CWD a b", "250 ok",
                    false},
        CommandCase{"CwdRefused", [](TIdFTP& F) { F.ChangeDir("nope"); }, "CWD nope",
                    "550 No such directory", true},
        CommandCase{"Cdup", [](TIdFTP& F) { F.ChangeDirUp(); }, "CDUP", "250 ok", false},
        CommandCase{"Mkd", [](TIdFTP& F) { F.MakeDir("d"); }, "MKD d", "257 \"/d\" created", false},
        CommandCase{"Rmd", [](TIdFTP& F) { F.RemoveDir("d"); }, "RMD d", "250 removed", false},
        CommandCase{"DeleDoesNotAccept200", [](TIdFTP& F) { F.Delete("f"); }, "DELE f", "200 ok",
                    true},
        CommandCase{"Dele", [](TIdFTP& F) { F.Delete("f"); }, "DELE f", "250 deleted", false},
        CommandCase{"Site", [](TIdFTP& F) { F.Site("CHMOD 644 f"); }, "SITE CHMOD 644 f",
                    "200 ok", false},
        CommandCase{"QuoteAcceptsAnything", [](TIdFTP& F) { EXPECT_EQ(F.Quote("XYZ 1"), 502); },
                    "XYZ 1", "502 not implemented", false},
        CommandCase{"Allo", [](TIdFTP& F) { F.Allocate(5000000000); }, "ALLO 5000000000",
                    "200 ok", false},
        CommandCase{"StruRecord", [](TIdFTP& F) { F.FileStructure(dsRecord); }, "STRU R",
                    "500 unknown", false},
        CommandCase{"Smnt", [](TIdFTP& F) { F.StructureMount("/x"); }, "SMNT /x", "202 ok",
                    false},
        CommandCase{"HelpWithoutCommand",
                    [](TIdFTP& F) {
                      Lines help{"old"};
                      F.Help(help);
                      EXPECT_EQ(help, (Lines{"ok"}));
                    },
                    "HELP", "214 ok", false},
        CommandCase{"StatUnknownKeepsList",
                    [](TIdFTP& F) {
                      Lines status{"old"};
                      F.Status(status);
                      EXPECT_EQ(status, (Lines{"old"}));
                    },
                    "STAT", "500 unknown", false},
        CommandCase{"ReinRefusedChangesNothing",
                    [](TIdFTP& F) {
                      F.ReInitialize(0);
                      EXPECT_EQ(F.SystemDesc(), "UNIX Type: L8");
                    },
                    "REIN", "500 unknown", false}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(FtpCommands, RenameStopsWhenRnfrFails) {
  Connect([](ScriptedFtpServer& AServer) { AServer.Expect("RNFR a").Reply("550 no such file"); });
  EXPECT_THROW(FFtp.Rename("a", "b"), EIdReplyRFCError);
  EXPECT_EQ(Commands(), (Lines{"RNFR a"}));
}

TEST_F(FtpCommands, RenameSendsBothLines) {
  Connect([](ScriptedFtpServer& AServer) {
    AServer.Expect("RNFR a").Reply("350 ready").Expect("RNTO b").Reply("250 renamed");
  });
  FFtp.Rename("a", "b");
  EXPECT_EQ(Commands(), (Lines{"RNFR a", "RNTO b"}));
}

struct PwdCase {
  const char* Name;
  const char* Reply;
  const char* Expected;
};

class FtpPwd : public FtpCommands, public ::testing::WithParamInterface<PwdCase> {};

TEST_P(FtpPwd, TakesTheQuotedName) {
  Connect([&](ScriptedFtpServer& AServer) { AServer.Expect("PWD").Reply(GetParam().Reply); });
  EXPECT_EQ(FFtp.RetrieveCurrentDir(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FtpPwd,
    ::testing::Values(PwdCase{"Quoted", "257 \"/home/user\" is current directory", "/home/user"},
                      PwdCase{"DoubledQuote", "257 \"/a\"\"b\" is current", "/a"},
                      PwdCase{"NoQuotes", "257 /home", ""},
                      PwdCase{"OneQuote", "257 \"/unterminated", ""}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

struct SizeCase {
  const char* Name;
  const char* Reply;
  int64_t Expected;
};

class FtpSize : public FtpCommands, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FtpSize, AsksInBinaryTypeAndRestoresIt) {
  Connect([&](ScriptedFtpServer& AServer) {
    AServer.Expect("TYPE I")
        .Reply("200 binary")
        .Expect("SIZE f")
        .Reply(GetParam().Reply)
        .Expect("TYPE A")
        .Reply("200 ascii");
  });
  EXPECT_EQ(FFtp.Size("f"), GetParam().Expected);
  EXPECT_EQ(FFtp.TransferType(), ftASCII);
}

INSTANTIATE_TEST_SUITE_P(Replies, FtpSize,
                         ::testing::Values(SizeCase{"Number", "213 1234", 1234},
                                           SizeCase{"Large", "213 5000000000", 5000000000},
                                           SizeCase{"WordsBeforeNumber", "213 File size 99", -1},
                                           SizeCase{"Refused", "550 No such file", -1}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// The server stays in ASCII when it refuses TYPE I: later transfers must not think otherwise.
TEST_F(FtpCommands, SizeWithTypeRefusedKeepsTheServersType) {
  Connect([](ScriptedFtpServer& AServer) { AServer.Expect("TYPE I").Reply("504 no binary"); });
  EXPECT_THROW(FFtp.Size("f"), EIdReplyRFCError);
  EXPECT_EQ(FFtp.TransferType(), ftASCII);
}

TEST_F(FtpCommands, FileDateReadsTheMdtmStamp) {
  Connect([](ScriptedFtpServer& AServer) {
    AServer.Expect("MDTM f")
        .Reply("213 20240102030405")
        .Expect("MDTM g")
        .Reply("213 20240102030405.5")
        .Expect("MDTM h")
        .Reply("550 no");
  });
  const TDateTime expected = EncodeDate(2024, 1, 2) + EncodeTime(3, 4, 5, 0);
  EXPECT_NEAR(FFtp.FileDate("f", true), expected, 1e-9);
  // RFC 3659: the digits after the point are a decimal fraction of a second.
  EXPECT_NEAR(FFtp.FileDate("g", true), expected + EncodeTime(0, 0, 0, 500), 1e-9);
  EXPECT_EQ(FFtp.FileDate("h", true), 0.0);
}

TEST_F(FtpCommands, SetModTimeUsesMfmtWhenListed) {
  const TDateTime when = EncodeDate(2024, 1, 2) + EncodeTime(3, 4, 5, 250);
  Connect(
      [](ScriptedFtpServer& AServer) {
        AServer.Expect("MFMT 20240102030405.250 f").Reply("213 Modify=20240102030405; f");
      },
      "211-Features:\n MFMT\n211 End");
  FFtp.SetModTimeGMT("f", when);
  EXPECT_EQ(Commands().back(), "MFMT 20240102030405.250 f");
}

TEST_F(FtpCommands, SetModTimeFallsBackToMdtmWithoutZone) {
  const TDateTime when = EncodeDate(2024, 1, 2) + EncodeTime(3, 4, 5, 0);
  Connect([](ScriptedFtpServer& AServer) {
    AServer.Expect("MDTM 20240102030405 f").Reply("253 ok");
  });
  FFtp.SetModTime("f", when);
  EXPECT_EQ(Commands().back(), "MDTM 20240102030405 f");
}

TEST_F(FtpCommands, PretOnlyWhenListed) {
  Connect(
      [](ScriptedFtpServer& AServer) { AServer.Expect("PRET RETR f").Reply("200 ok"); },
      "211-Features:\n PRET\n211 End");
  FFtp.AnnounceTransfer("RETR f");
  EXPECT_EQ(Commands(), (Lines{"PRET RETR f"}));
}

TEST_F(FtpCommands, CommandLineWithLineBreakIsRefused) {
  Connect([](ScriptedFtpServer&) {});
  EXPECT_THROW(FFtp.ChangeDir("x\r\nDELE important"), EIdException);
  EXPECT_THROW(FFtp.Delete("a\nb"), EIdException);
  EXPECT_TRUE(Commands().empty());
}

} // namespace
} // namespace ftpc
