// The TLS negotiation of a session against a scripted server, with a stand-in TLS handler:
// the AUTH commands and the three failure handlings, the port switch of UseTLS, the option
// setters, PBSZ/PROT/CCC, the data connection's handshake after the preliminary reply, REIN,
// SupportsTLS.
#include <typeinfo>
#include <utility>

#include <gtest/gtest.h>

#include "FakeTlsIOHandler.h"
#include "FtpScriptedSession.h"
#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc {
namespace {

using test::Greet;
using test::Lines;
using test::PlainSession;
using test::ProtectData;
using test::ScriptedFtpServer;
using test::SecureLogin;
using test::TlsLog;
using test::UseFakeTls;

template <typename T> bool Is(const std::exception& AError) {
  return dynamic_cast<const T*>(&AError) != nullptr;
}

// How the three negotiation events are handled: not assigned, or a handler that records its
// name and leaves VContinue as it came, or sets it true or false.
enum class Answer { NoHandler, Keeps, Yes, No };

struct EventLog {
  Lines Fired;
  void Attach(TIdFTP& AFtp, Answer AAnswer) {
    if (AAnswer == Answer::NoHandler) {
      return;
    }
    auto handler = [this, AAnswer](const char* AName) {
      return [this, AAnswer, AName](TObject*, bool& VContinue) {
        Fired.push_back(AName);
        if (AAnswer != Answer::Keeps) {
          VContinue = AAnswer == Answer::Yes;
        }
      };
    };
    AFtp.SetOnTLSNotAvailable(handler("NotAvailable"));
    AFtp.SetOnTLSNegCmdFailed(handler("NegCmdFailed"));
    AFtp.SetOnTLSHandShakeFailed(handler("HandShakeFailed"));
  }
};

// ---- AUTH negotiation --------------------------------------------------------------------

constexpr const char* kAllFourRefused = "AUTH TLS>504 no|AUTH SSL>504 no|AUTH TLS-C>504 no|"
                                        "AUTH TLS-P>504 no";

struct AuthCase {
  const char* Name;
  TIdUseTLS Mode;
  TAuthCmd Command;
  std::string Exchanges; // "command>reply|..." for the AUTH commands
  Answer Events;
  bool FailHandshake;
  Lines Fired;
  bool (*Error)(const std::exception&); // null: the login completes
  std::string_view Message;
  bool Secured; // UsingSFTP afterwards
};

const AuthCase kAuthCases[] = {
    {"AutoMovesOnAfter5xx", utUseExplicitTLS, tAuto, "AUTH TLS>504 no|AUTH SSL>234 go",
     Answer::Keeps, false, {}, nullptr, {}, true},
    {"Reply334StartsTLS", utUseExplicitTLS, tAuto, "AUTH TLS>334 go", Answer::NoHandler, false,
     {}, nullptr, {}, true},
    {"FixedCommandAlone", utUseRequireTLS, tAuthTLSP, "AUTH TLS-P>234 go", Answer::NoHandler,
     false, {}, nullptr, {}, true},
    {"AllRefusedGoesOnPlain", utUseExplicitTLS, tAuto, kAllFourRefused, Answer::NoHandler, false,
     {}, nullptr, {}, false},
    {"AllRefusedAsksNotAvailable", utUseExplicitTLS, tAuto, kAllFourRefused, Answer::Keeps,
     false, {"NotAvailable"}, nullptr, {}, false},
    {"NotAvailableAnsweredNo", utUseExplicitTLS, tAuto, kAllFourRefused, Answer::No, false,
     {"NotAvailable"}, Is<EIdTLSClientTLSNotAvailable>, RSTLSClientTLSNegCmdFailed, false},
    {"RequireAllRefused", utUseRequireTLS, tAuto, kAllFourRefused, Answer::Yes, false, {},
     Is<EIdTLSClientTLSNotAvailable>, RSTLSClientTLSNegCmdFailed, false},
    {"Non5xxRefusesAtOnce", utUseExplicitTLS, tAuto, "AUTH TLS>421 busy", Answer::NoHandler,
     false, {}, Is<EIdTLSClientTLSNotAvailable>, RSTLSClientTLSNegCmdFailed, false},
    {"NegCmdFailedKeepsStopping", utUseExplicitTLS, tAuto, "AUTH TLS>421 busy", Answer::Keeps,
     false, {"NegCmdFailed"}, Is<EIdTLSClientTLSNotAvailable>, RSTLSClientTLSNegCmdFailed, false},
    {"NegCmdFailedAnsweredYes", utUseExplicitTLS, tAuto, "AUTH TLS>421 busy", Answer::Yes, false,
     {"NegCmdFailed", "NotAvailable"}, nullptr, {}, false},
    {"RequireRefused", utUseRequireTLS, tAuto, "AUTH TLS>421 busy", Answer::Yes, false, {},
     Is<EIdTLSClientTLSNotAvailable>, RSTLSClientTLSNotAvailable, false},
    {"Fixed5xxIsRefused", utUseExplicitTLS, tAuthSSL, "AUTH SSL>504 no", Answer::NoHandler,
     false, {}, Is<EIdTLSClientTLSNotAvailable>, RSTLSClientTLSNegCmdFailed, false},
    {"HandshakeFailureStops", utUseExplicitTLS, tAuto, "AUTH TLS>234 go", Answer::Keeps, true,
     {"HandShakeFailed"}, Is<EIdTLSClientTLSHandShakeFailed>, RSTLSClientTLSNotAvailable, false},
    // The control connection stayed plain: the session says so and asks NotAvailable.
    {"HandshakeFailureAnsweredYes", utUseExplicitTLS, tAuto, "AUTH TLS>234 go", Answer::Yes,
     true, {"HandShakeFailed", "NotAvailable"}, nullptr, {}, false},
    {"RequireHandshakeFailure", utUseRequireTLS, tAuto, "AUTH TLS>234 go", Answer::Yes, true, {},
     Is<EIdTLSClientTLSHandShakeFailed>, RSTLSClientTLSNotAvailable, false},
    {"NoTLSAsksNotAvailableOnce", utNoTLSSupport, tAuto, "", Answer::Keeps, false,
     {"NotAvailable"}, nullptr, {}, false},
    {"ImplicitSendsNoAuth", utUseImplicitTLS, tAuto, "", Answer::No, false, {}, nullptr, {},
     true},
};

class FtpAuth : public ::testing::TestWithParam<AuthCase> {};

TEST_P(FtpAuth, NegotiatesAndHandlesFailures) {
  const AuthCase& c = GetParam();
  ScriptedFtpServer server;
  Greet(server);
  Lines sent;
  std::string rest = c.Exchanges;
  while (!rest.empty()) {
    const std::string exchange = CutToken(rest, "|");
    std::string reply = exchange;
    const std::string command = CutToken(reply, ">");
    server.Expect(command).Reply(reply);
    sent.push_back(command);
  }
  if (c.Error == nullptr) {
    test::UserPassType(server);
  }
  server.Expect("QUIT").Reply("221 bye").ExpectClose();
  server.Start();
  auto ftp = PlainSession(server);
  const std::shared_ptr<TlsLog> tls = UseFakeTls(*ftp, c.Mode);
  tls->FailHandshake = c.FailHandshake;
  ftp->SetAUTHCmd(c.Command);
  EventLog events;
  events.Attach(*ftp, c.Events);
  ftp->Connect();
  // Either way the script ends with QUIT and the client's close.
  try {
    ftp->Login();
    EXPECT_EQ(c.Error, nullptr) << "no error raised";
    EXPECT_EQ(ftp->UsingSFTP(), c.Secured);
    ftp->Disconnect();
  } catch (const std::exception& error) {
    ASSERT_NE(c.Error, nullptr) << error.what();
    EXPECT_TRUE(c.Error(error)) << typeid(error).name();
    EXPECT_EQ(error.what(), c.Message);
  }
  EXPECT_EQ(events.Fired, c.Fired);
  EXPECT_TRUE(server.Finished());
  const Lines received = server.Received();
  EXPECT_EQ(Lines(received.begin() + 1, received.begin() + 1 + sent.size()), sent);
  EXPECT_EQ(ftp->IOHandler() != nullptr &&
                !static_cast<TIdSSLIOHandlerSocketBase*>(ftp->IOHandler())->PassThrough(),
            c.Secured);
}

INSTANTIATE_TEST_SUITE_P(Cases, FtpAuth, ::testing::ValuesIn(kAuthCases),
                         [](const ::testing::TestParamInfo<AuthCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

// ---- UseTLS and the option setters -------------------------------------------------------

TEST(FtpTlsSettings, UseTLSSwitchesBetweenThePlainAndTheImplicitPort) {
  struct Case {
    uint16_t Start;
    std::vector<TIdUseTLS> Modes;
    uint16_t End;
  };
  const Case cases[] = {
      {21, {utUseImplicitTLS}, 990},
      {21, {utUseImplicitTLS, utUseExplicitTLS}, 21},
      {990, {utUseRequireTLS}, 21},
      {21, {utUseImplicitTLS, utNoTLSSupport}, 21},
      {2121, {utUseImplicitTLS}, 2121},
      {2121, {utUseImplicitTLS, utUseExplicitTLS}, 2121},
  };
  for (const Case& c : cases) {
    TIdFTP ftp;
    UseFakeTls(ftp, utNoTLSSupport);
    ftp.SetPort(c.Start);
    for (TIdUseTLS mode : c.Modes) {
      ftp.SetUseTLS(mode);
    }
    EXPECT_EQ(ftp.Port(), c.End) << c.Start << " through " << c.Modes.size() << " modes";
  }
}

TEST(FtpTlsSettings, LeavingTLSResetsTheFtpOptions) {
  TIdFTP ftp;
  UseFakeTls(ftp, utUseImplicitTLS);
  const auto setOptions = [&ftp] {
    ftp.SetDataPortProtection(ftpdpsPrivate);
    ftp.SetUseCCC(true);
    ftp.SetAUTHCmd(tAuthSSL);
  };
  const auto expectReset = [&ftp](const char* AWhy) {
    EXPECT_EQ(ftp.UseTLS(), utNoTLSSupport) << AWhy;
    EXPECT_EQ(ftp.DataPortProtection(), ftpdpsClear) << AWhy;
    EXPECT_FALSE(ftp.UseCCC()) << AWhy;
    EXPECT_EQ(ftp.AUTHCmd(), tAuto) << AWhy;
  };
  setOptions();
  ftp.SetUseTLS(utNoTLSSupport);
  expectReset("UseTLS set to utNoTLSSupport");
  ftp.SetUseTLS(utUseImplicitTLS);
  setOptions();
  ftp.SetIOHandler(TIdIOHandler::MakeDefaultIOHandler());
  expectReset("a plain handler assigned");
  EXPECT_EQ(ftp.Port(), 21);
}

// ---- A secured session: setters, PBSZ/PROT/CCC, the data connection, REIN -----------------

struct SecuredSession {
  ScriptedFtpServer Server;
  std::unique_ptr<TIdFTP> Ftp;
  std::shared_ptr<TlsLog> Tls;
  Lines LoginEvents; // what the connect and the login asked of the TLS handler

  // Greeting and an AUTH TLS login; AScript holds the rest.
  template <typename TScript>
  void Start(TScript AScript, TIdUseTLS AMode = utUseExplicitTLS, bool APassive = true) {
    Greet(Server);
    if (AMode == utUseImplicitTLS) {
      test::UserPassType(Server);
    } else {
      SecureLogin(Server);
    }
    AScript(Server);
    Server.Expect("QUIT").Reply("221 bye").ExpectClose();
    Server.Start();
    Ftp = PlainSession(Server, APassive);
    Tls = UseFakeTls(*Ftp, AMode);
    Ftp->Connect();
    Ftp->Login();
    LoginEvents = std::exchange(Tls->Events, {});
  }
  void Finish() {
    Ftp->Disconnect();
    EXPECT_TRUE(Server.Finished());
  }
};

TEST(FtpTlsSettings, SettersRefuseWhatTheSecuredConnectionForbids) {
  SecuredSession s;
  s.Start([](ScriptedFtpServer& AServer) {
    ProtectData(AServer).Expect("CCC").Reply("200 clear from now");
    AServer.Expect("PASV").ReplyPasv().Expect("NLST -al").Reply("150 go").DataSend("a\r\n");
    AServer.Reply("226 done");
  });
  TIdFTP& ftp = *s.Ftp;
  const auto messageOf = [](auto AAction) {
    try {
      AAction();
    } catch (const EIdException& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(messageOf([&] { ftp.SetUseTLS(utUseRequireTLS); }),
            RSTLSClientCanNotSetWhileConnected);
  EXPECT_EQ(messageOf([&] { ftp.SetAUTHCmd(tAuthSSL); }), RSFTPCanNotSetAUTHCon);
  EXPECT_NO_THROW(ftp.SetAUTHCmd(tAuto));
  ftp.SetDataPortProtection(ftpdpsPrivate);
  ftp.SetUseCCC(true);
  std::vector<std::string> names;
  ftp.List(&names, "", false);
  EXPECT_EQ(s.Tls->Events, (Lines{"control:plain", "data:plain", "data:handshake"}));
  EXPECT_EQ(messageOf([&] { ftp.SetDataPortProtection(ftpdpsClear); }),
            RSFTPNoDataPortProtectionAfterCCC);
  EXPECT_NO_THROW(ftp.SetDataPortProtection(ftpdpsPrivate));
  s.Finish();
}

// A refused CCC leaves the control connection under TLS, so the next data connection is
// prepared again in full.
TEST(FtpTlsData, RefusedCCCIsAskedAgainBeforeTheNextDataConnection) {
  SecuredSession s;
  s.Start([](ScriptedFtpServer& AServer) {
    for (int i = 0; i < 2; ++i) {
      ProtectData(AServer, "C").Expect("CCC").Reply("500 not here");
      AServer.Expect("PASV").ReplyPasv().Expect("NLST -al").Reply("150 go").DataSend("a\r\n");
      AServer.Reply("226 done");
    }
  });
  s.Ftp->SetUseCCC(true);
  std::vector<std::string> names;
  s.Ftp->List(&names, "", false);
  s.Ftp->List(&names, "", false);
  EXPECT_TRUE(s.Tls->Events.empty()) << "the control connection stays under TLS, PROT C";
  s.Finish();
}

// The data handshake starts only once the data connection is there and the server has given
// its preliminary reply, in both modes and directions.
TEST(FtpTlsData, DataHandshakeFollowsThePreliminaryReply) {
  for (const bool passive : {true, false}) {
    for (const bool upload : {false, true}) {
      SecuredSession s;
      s.Start(
          [&](ScriptedFtpServer& AServer) {
            test::OpenData(ProtectData(AServer), passive);
            if (upload) {
              AServer.Expect("STOR f").Reply("150 send").DataReceive().Reply("226 stored");
            } else {
              AServer.Expect("RETR f").Reply("150 here").DataSend("bytes").Reply("226 sent");
            }
          },
          utUseExplicitTLS, passive);
      s.Ftp->SetDataPortProtection(ftpdpsPrivate);
      int replyAtHandshake = 0;
      s.Tls->OnHandshake = [&](const std::string&) {
        replyAtHandshake = s.Ftp->LastCmdResult().NumericCode();
      };
      TMemoryStream stream;
      if (upload) {
        stream.Write("bytes", 5);
        s.Ftp->Put(stream, "f");
      } else {
        s.Ftp->Get("f", stream);
      }
      const std::string mode = passive ? " passive" : " active";
      EXPECT_EQ(s.Tls->Events, (Lines{"data:plain", "data:handshake"})) << mode << upload;
      EXPECT_EQ(replyAtHandshake, 150) << mode << upload;
      s.Finish();
    }
  }
}

TEST(FtpTlsData, ImplicitTLSStartsBeforeConnectingAndProtectsData) {
  SecuredSession s;
  s.Start(
      [](ScriptedFtpServer& AServer) {
        ProtectData(AServer, "C").Expect("PASV").ReplyPasv().Expect("NLST -al").Reply("150 go");
        AServer.DataSend("a\r\n").Reply("226 done").Expect("REIN").Reply("220 again");
      },
      utUseImplicitTLS);
  EXPECT_EQ(s.LoginEvents, (Lines{"control:implicit"}));
  EXPECT_TRUE(s.Ftp->UsingSFTP());
  std::vector<std::string> names;
  s.Ftp->List(&names, "", false);
  s.Ftp->ReInitialize(0);
  EXPECT_TRUE(s.Ftp->UsingSFTP()) << "an implicit connection stays under TLS";
  EXPECT_TRUE(s.Tls->Events.empty());
  s.Finish();
}

TEST(FtpTlsData, ReinitializeReturnsAnExplicitConnectionToPlainText) {
  SecuredSession s;
  s.Start([](ScriptedFtpServer& AServer) { AServer.Expect("REIN").Reply("220 again"); });
  EXPECT_EQ(s.LoginEvents, (Lines{"control:plain", "control:handshake"}));
  s.Ftp->SetUseCCC(true);
  s.Ftp->ReInitialize(0);
  EXPECT_FALSE(s.Ftp->UsingSFTP());
  EXPECT_FALSE(s.Ftp->UseCCC());
  EXPECT_EQ(s.Tls->Events, (Lines{"control:plain"}));
  s.Finish();
}

// The first AUTH capability line decides; its ";"-separated mechanisms are compared without
// letter case.
TEST(FtpTlsSettings, SupportsTLSReadsTheFirstAuthLine) {
  const std::pair<Lines, bool> cases[] = {
      {{" AUTH TLS"}, true},
      {{"MDTM", "  auth ssl"}, true},
      {{" AUTH GSSAPI; tls-p "}, true},
      {{" AUTH KERBEROS"}, false},
      {{" AUTHTLS"}, false},
      {{" AUTH GSSAPI", " AUTH TLS"}, false},
      {{}, false},
  };
  for (const auto& [lines, offered] : cases) {
    EXPECT_EQ(CapabilitiesOfferTLS(lines), offered) << (lines.empty() ? "" : lines.back());
  }
}

} // namespace
} // namespace ftpc
