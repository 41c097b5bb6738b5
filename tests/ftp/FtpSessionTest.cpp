// The FTP session's connect, login and feature steps, pinned by the exact command lines a
// scripted server receives.
#include <gtest/gtest.h>

#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "hash/IdOTPCalculator.h"
#include "proxy/IdSocks.h"
#include "FtpScriptedSession.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc {
namespace {

using test::Lines;
using test::ReplyErrorOf;
using test::ScriptedFtpServer;
using test::StatusLog;

constexpr const char* kFeatUtf8 = "211-Features:\n UTF8\n EPRT\n EPSV\n MDTM\n PASV\n SIZE\n211 End";

// A session aimed at the scripted server, with the tool's defaults otherwise.
std::unique_ptr<TIdFTP> SessionFor(const ScriptedFtpServer& AServer, const std::string& AUser = "bob",
                                   const std::string& APassword = "secret") {
  auto ftp = std::make_unique<TIdFTP>();
  ftp->SetHost(AServer.Address());
  ftp->SetPort(AServer.Port());
  ftp->SetUsername(AUser);
  ftp->SetPassword(APassword);
  return ftp;
}

// A session that connects without logging in or asking for the features.
std::unique_ptr<TIdFTP> NoLoginSessionFor(const ScriptedFtpServer& AServer) {
  auto ftp = SessionFor(AServer);
  ftp->SetAutoLogin(false);
  ftp->SetAutoIssueFEAT(false);
  return ftp;
}

// The greeting and an accepted HOST.
ScriptedFtpServer& GreetWithHost(ScriptedFtpServer& AServer) {
  return AServer.Reply("220 ready").ExpectPrefix("HOST ").Reply("220 ok");
}

// Greeting, HOST, USER answered 331 and the PASS line; its reply is the test's.
ScriptedFtpServer& UpToPassword(ScriptedFtpServer& AServer) {
  return GreetWithHost(AServer).Expect("USER bob").Reply("331 password").Expect("PASS secret");
}

// Greeting, HOST and the plain USER/PASS exchange.
ScriptedFtpServer& GreetAndLogin(ScriptedFtpServer& AServer) {
  return UpToPassword(AServer).Reply("230 logged in");
}

// What every login ends with after the user is in: FEAT (none), TYPE, SYST, TYPE.
ScriptedFtpServer& AfterLogin(ScriptedFtpServer& AServer) {
  return AServer.Expect("FEAT")
      .Reply("500 unknown")
      .Expect("TYPE A")
      .Reply("200 ok")
      .Expect("SYST")
      .Reply("215 UNIX Type: L8")
      .Expect("TYPE A")
      .Reply("200 ok");
}

// The end of a login to a server with SITE ZONE: TYPE, SYST, SITE ZONE answered AZone, TYPE.
ScriptedFtpServer& ZoneAfterLogin(ScriptedFtpServer& AServer, const std::string& AZone) {
  return AServer.Expect("TYPE A")
      .Reply("200 ok")
      .Expect("SYST")
      .Reply("215 UNIX")
      .Expect("SITE ZONE")
      .Reply(AZone)
      .Expect("TYPE A")
      .Reply("200 ok");
}

// Ends the script with AfterLogin and the close, starts the server and gives a session for it.
std::unique_ptr<TIdFTP> FinishLoginAndStart(ScriptedFtpServer& AServer) {
  AfterLogin(AServer).ExpectClose();
  AServer.Start();
  return SessionFor(AServer);
}

// Connects, expecting the reply error: its code and message.
test::ReplyFailure ConnectFailure(TIdFTP& AFtp, const char* AWhy) {
  return ReplyErrorOf([&] { AFtp.Connect(); }, AWhy);
}

TEST(FtpConnect, PlainLoginSendsTheFullSequence) {
  ScriptedFtpServer server;
  GreetAndLogin(server)
      .Expect("FEAT")
      .Reply(kFeatUtf8)
      .Expect("OPTS UTF8 ON")
      .Reply("200 Always in UTF8 mode.")
      .Expect("TYPE I")
      .Reply("200 binary")
      .Expect("SYST")
      .Reply("215 UNIX Type: L8")
      .Expect("TYPE I")
      .Reply("200 binary")
      .Expect("QUIT")
      .Reply("221 bye")
      .ExpectClose();
  server.Start();
  auto ftp = SessionFor(server);
  ftp->SetTransferType(ftBinary);
  StatusLog status;
  status.Attach(*ftp);
  ftp->Connect();
  EXPECT_EQ(ftp->SystemDesc(), "UNIX Type: L8");
  EXPECT_EQ(ftp->IOHandler()->DefStringEncoding(), UTF8Encoding());
  EXPECT_TRUE(ftp->UsingExtDataPort() == false);
  EXPECT_FALSE(status.Texts.empty());
  EXPECT_EQ(status.Last(), "Connection established");
  EXPECT_EQ(ftp->LoginMsg().NumericCode(), 230);
  ftp->Quit();
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.Received(),
            (Lines{"HOST [127.0.0.1]", "USER bob", "PASS secret", "FEAT", "OPTS UTF8 ON", "TYPE I",
                   "SYST", "TYPE I", "QUIT"}));
}

TEST(FtpConnect, PreliminaryGreetingGoesToBannerWarning) {
  ScriptedFtpServer server;
  server.Reply("120 wait a moment")
      .Reply("220 ready now")
      .ExpectPrefix("HOST ")
      .Reply("504 no")
      .Expect("SYST")
      .Reply("215 UNIX")
      .ExpectClose();
  server.Start();
  auto ftp = NoLoginSessionFor(server);
  std::string warning;
  ftp->SetOnBannerWarning([&](TObject*, const std::string& AMsg) { warning = AMsg; });
  ftp->Connect();
  EXPECT_EQ(warning, "120 wait a moment");
  EXPECT_EQ(ftp->Greeting().NumericCode(), 220);
  ftp->Disconnect(false);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpConnect, TwoPreliminaryGreetingsFail) {
  ScriptedFtpServer server;
  server.Reply("120 wait").Reply("120 still waiting").ExpectClose();
  server.Start();
  auto ftp = SessionFor(server);
  EXPECT_EQ(ConnectFailure(*ftp, "a second 1xx greeting must fail the connect").Code, 120);
  EXPECT_TRUE(server.Finished());
  EXPECT_TRUE(server.Received().empty()) << "no QUIT before an accepted greeting";
}

struct HostCase {
  const char* Name;
  bool UseAddress;
  const char* Expected;
};

class FtpHostLine : public ::testing::TestWithParam<HostCase> {};

TEST_P(FtpHostLine, NamesTheHostOrItsLiteral) {
  ScriptedFtpServer server;
  server.Reply("220 ready")
      .ExpectPrefix("HOST ")
      .Reply("220 vhost greeting")
      .Expect("SYST")
      .Reply("215 UNIX")
      .ExpectClose();
  server.Start();
  auto ftp = NoLoginSessionFor(server);
  if (!GetParam().UseAddress) {
    ftp->SetHost("localhost");
  }
  ftp->Connect();
  EXPECT_EQ(server.Received().front(), GetParam().Expected);
  EXPECT_EQ(ftp->Greeting().Text().front(), "vhost greeting");
  ftp->Disconnect(false);
}

INSTANTIATE_TEST_SUITE_P(Forms, FtpHostLine,
                         ::testing::Values(HostCase{"Literal", true, "HOST [127.0.0.1]"},
                                           HostCase{"Name", false, "HOST localhost"}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(FtpConnect, HostRefusalKeepsTheGreetingAndSyst500IsUnknown) {
  ScriptedFtpServer server;
  server.Reply("220 original")
      .ExpectPrefix("HOST ")
      .Reply("502 HOST not implemented")
      .Expect("SYST")
      .Reply("500 what")
      .ExpectClose();
  server.Start();
  auto ftp = NoLoginSessionFor(server);
  ftp->Connect();
  EXPECT_EQ(ftp->Greeting().Text().front(), "original");
  EXPECT_EQ(ftp->SystemDesc(), "Unknown");
  ftp->Disconnect(false);
}

TEST(FtpLogin, UserAnswered230SendsNoPass) {
  ScriptedFtpServer server;
  GreetWithHost(server).Expect("USER bob").Reply("230 no password needed");
  auto ftp = FinishLoginAndStart(server);
  ftp->Connect();
  EXPECT_EQ(server.Received(), (Lines{"HOST [127.0.0.1]", "USER bob", "FEAT", "TYPE A", "SYST",
                                      "TYPE A"}));
}

TEST(FtpLogin, OtpChallengeIsAnsweredWithSixWords) {
  ScriptedFtpServer server;
  GreetWithHost(server)
      .Expect("USER bob")
      .Reply("331 Response to otp-md5 499 ke1234 required for skey.")
      .ExpectPrefix("PASS ")
      .Reply("230 in");
  AfterLogin(server).ExpectClose();
  server.Start();
  auto ftp = SessionFor(server, "bob", "This is a test.");
  ftp->Connect();
  const std::string expected =
      "PASS " + TIdOTPCalculator::GenerateSixWordKey("md5", "ke1234", "This is a test.", 499);
  EXPECT_EQ(server.Received()[2], expected);
  EXPECT_NE(server.Received()[2], "PASS This is a test.");
}

struct AccountCase {
  const char* Name;
  std::string Account;      // preset Account
  std::string FromEvent;    // what OnNeedAccount supplies ("" = no handler)
  bool ExpectAcct;
};

class FtpAccount : public ::testing::TestWithParam<AccountCase> {};

TEST_P(FtpAccount, Reply332AsksForTheAccount) {
  const AccountCase& c = GetParam();
  ScriptedFtpServer real;
  UpToPassword(real).Reply("332 Need account for login.");
  if (c.ExpectAcct) {
    real.ExpectPrefix("ACCT ").Reply("230 account ok");
    AfterLogin(real);
  } else {
    real.Expect("QUIT").Reply("221 bye");
  }
  real.ExpectClose();
  real.Start();
  auto ftp = SessionFor(real);
  ftp->SetAccount(c.Account);
  if (!c.FromEvent.empty()) {
    ftp->SetOnNeedAccount([&](TObject*, std::string& VAcct) { VAcct = c.FromEvent; });
  }
  if (c.ExpectAcct) {
    ftp->Connect();
    const std::string acct = c.Account.empty() ? c.FromEvent : c.Account;
    EXPECT_EQ(real.Received()[3], "ACCT " + acct);
  } else {
    EXPECT_EQ(ConnectFailure(*ftp, "332 without an account must fail").Code, 332);
    EXPECT_TRUE(real.Finished());
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, FtpAccount,
                         ::testing::Values(AccountCase{"Preset", "acct1", "", true},
                                           AccountCase{"FromEvent", "", "acct2", true},
                                           AccountCase{"None", "", "", false}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(FtpLogin, AccountMentionedIn230IsSentWhenSet) {
  ScriptedFtpServer server;
  UpToPassword(server)
      .Reply("230 Logged in. ACCOUNT optional.")
      .Expect("ACCT dept7")
      .Reply("202 superfluous");
  auto ftp = FinishLoginAndStart(server);
  ftp->SetAccount("dept7");
  ftp->Connect();
  EXPECT_EQ(server.Received()[3], "ACCT dept7");
}

TEST(FtpConnect, RefusedPasswordSendsQuitAndKeepsTheReplyError) {
  ScriptedFtpServer server;
  UpToPassword(server)
      .Reply("530 Login incorrect.")
      .Expect("QUIT")
      .Reply("221 Goodbye.")
      .ExpectClose();
  server.Start();
  auto ftp = SessionFor(server);
  const test::ReplyFailure failure = ConnectFailure(*ftp, "a refused password must raise");
  EXPECT_EQ(failure.Code, 530);
  EXPECT_NE(failure.Message.find("Login incorrect."), std::string::npos);
  EXPECT_TRUE(server.Finished());
}

// ---- Proxy login variants ------------------------------------------------------------------

struct ProxyCase {
  const char* Name;
  TIdFtpProxyType Type;
  uint16_t Port;  // the real server's port as the session knows it (0: the scripted port)
  Lines Commands; // exchanges between the greeting and FEAT; each answered by Replies
  Lines Replies;
};

class FtpProxyLogin : public ::testing::TestWithParam<ProxyCase> {};

TEST_P(FtpProxyLogin, SendsTheVariantsCommands) {
  const ProxyCase& c = GetParam();
  ScriptedFtpServer server;
  server.Reply("220 proxy ready").ExpectPrefix("HOST ").Reply("220 ok");
  for (size_t i = 0; i < c.Commands.size(); ++i) {
    server.Expect(c.Commands[i]).Reply(c.Replies[i]);
  }
  AfterLogin(server).ExpectClose();
  server.Start();

  auto ftp = std::make_unique<TIdFTP>();
  // The real server is "ftp.example" on port 21 (or c.Port); the TCP connection goes to the
  // proxy, which is the scripted server.
  ftp->SetHost("ftp.example");
  ftp->SetPort(c.Port == 0 ? 21 : c.Port);
  ftp->SetUsername("bob");
  ftp->SetPassword("secret");
  ftp->ProxySettings().SetProxyType(c.Type);
  ftp->ProxySettings().SetHost(server.Address());
  ftp->ProxySettings().SetPort(server.Port());
  ftp->ProxySettings().SetUserName("puser");
  ftp->ProxySettings().SetPassword("ppass");
  ftp->Connect();
  EXPECT_EQ(ftp->Host(), "ftp.example") << "Host is restored after connecting through a proxy";
  EXPECT_EQ(ftp->Port(), c.Port == 0 ? 21 : c.Port);
  Lines received = server.Received();
  ASSERT_GE(received.size(), c.Commands.size() + 1);
  EXPECT_EQ(Lines(received.begin() + 1, received.begin() + 1 + static_cast<long>(c.Commands.size())),
            c.Commands);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, FtpProxyLogin,
    ::testing::Values(
        ProxyCase{"UserSite", fpcmUserSite, 0,
                  {"USER puser", "PASS ppass", "USER bob@ftp.example", "PASS secret"},
                  {"331 p", "230 proxy ok", "331 p", "230 in"}},
        ProxyCase{"UserSiteOtherPort", fpcmUserSite, 2121,
                  {"USER puser", "PASS ppass", "USER bob@ftp.example:2121", "PASS secret"},
                  {"331 p", "230 proxy ok", "331 p", "230 in"}},
        ProxyCase{"Site", fpcmSite, 0,
                  {"USER puser", "PASS ppass", "SITE ftp.example", "USER bob", "PASS secret"},
                  {"331 p", "230 ok", "220 connected", "331 p", "230 in"}},
        ProxyCase{"Open", fpcmOpen, 0,
                  {"USER puser", "PASS secret", "OPEN ftp.example", "USER bob", "PASS secret"},
                  {"331 p", "230 ok", "220 connected", "331 p", "230 in"}},
        ProxyCase{"UserPass", fpcmUserPass, 0,
                  {"USER bob@puser@ftp.example", "PASS secret@ppass"}, {"331 p", "230 in"}},
        ProxyCase{"FireWallID", fpcmUserHostFireWallID, 0,
                  {"USER bob@ftp.example puser", "PASS secret", "ACCT ppass"},
                  {"331 p", "332 account", "230 in"}},
        ProxyCase{"NovellBorder", fpcmNovellBorder, 0,
                  {"USER puser$bob$ftp.example", "PASS puser$secret"}, {"331 p", "230 in"}}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(FtpProxyLogin, TransparentProxyConnectsToTheServerItself) {
  ScriptedFtpServer server;
  GreetWithHost(server)
      .Expect("USER puser")
      .Reply("331 proxy password")
      .Expect("PASS ppass")
      .Reply("230 proxy ok")
      .Expect("USER bob")
      .Reply("230 in");
  auto ftp = FinishLoginAndStart(server);
  ftp->ProxySettings().SetProxyType(fpcmTransparent);
  ftp->ProxySettings().SetHost("192.0.2.1"); // never contacted: the proxy sits in the path
  ftp->ProxySettings().SetUserName("puser");
  ftp->ProxySettings().SetPassword("ppass");
  ftp->Connect();
  const Lines received = server.Received();
  ASSERT_GE(received.size(), 4U);
  EXPECT_EQ(Lines(received.begin() + 1, received.begin() + 4),
            (Lines{"USER puser", "PASS ppass", "USER bob"}));
}

TEST(FtpProxyLogin, RaisingVariantsSendNothing) {
  struct Case {
    TIdFtpProxyType Type;
    std::string Message;
  };
  for (const Case& c : {Case{fpcmHttpProxyWithFtp, std::string(RSSocksServerCommandError)},
                        Case{fpcmCustomProxy, std::string(RSFTPOnCustomFTPProxyReq)}}) {
    ScriptedFtpServer server;
    GreetWithHost(server).Expect("QUIT").Reply("221 bye");
    server.ExpectClose();
    server.Start();
    auto ftp = SessionFor(server);
    ftp->ProxySettings().SetProxyType(c.Type);
    try {
      ftp->Connect();
      FAIL() << "variant " << c.Type << " must raise";
    } catch (const EIdException& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
    // The client waits only briefly for the reply to QUIT: the server may still be reading it.
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(server.Received(), (Lines{"HOST [127.0.0.1]", "QUIT"}));
  }
}

TEST(FtpProxyLogin, CustomProxyHandlerRunsTheLogin) {
  ScriptedFtpServer server;
  GreetWithHost(server).Expect("USER custom").Reply("230 in");
  auto ftp = FinishLoginAndStart(server);
  ftp->ProxySettings().SetProxyType(fpcmCustomProxy);
  ftp->SetOnCustomFTPProxy([&](TObject*) { ftp->SendCmd("USER custom", {230}); });
  ftp->Connect();
  EXPECT_EQ(server.Received()[1], "USER custom");
}

// ---- Features ------------------------------------------------------------------------------

TEST(FtpFeatures, FeatListDrivesTheLookups) {
  ScriptedFtpServer server;
  GreetAndLogin(server)
      .Expect("FEAT")
      .Reply("211-Features:\n MDTM\n SIZE\n MLST type*;size*;modify*;\n UTF8\n LANG en;fr*\n"
             " SITE CHMOD;ZONE\n211 End")
      .Expect("OPTS UTF8 ON")
      .Reply("501 no")
      .Expect("OPTS UTF-8 NLST")
      .Reply("200 ok");
  ZoneAfterLogin(server, "210 UTC-300").ExpectClose();
  server.Start();
  auto ftp = SessionFor(server);
  ftp->Connect();
  EXPECT_EQ(ftp->Capabilities(), (Lines{"MDTM", "SIZE", "MLST type*;size*;modify*;", "UTF8",
                                        "LANG en;fr*", "SITE CHMOD;ZONE"}));
  EXPECT_TRUE(ftp->IsExtSupported("mdtm"));
  EXPECT_FALSE(ftp->IsExtSupported("MLS"));
  EXPECT_EQ(ftp->FeatLineIndex("MLST"), 2);
  EXPECT_EQ(ftp->FeatLineIndex("MDTM YYYYMMDDHHMMSS[+-TZ] filename"), -1);
  Lines facts;
  ftp->ExtractFeatFacts("MLST", facts);
  EXPECT_EQ(facts, (Lines{"type*", "size*", "modify*"}));
  EXPECT_EQ(ftp->LangsSupported(), (Lines{"en", "fr*"}));
  EXPECT_EQ(ftp->IOHandler()->DefStringEncoding(), UTF8Encoding());
  EXPECT_TRUE(ftp->TZInfo().GMTOffsetAvailable());
  EXPECT_DOUBLE_EQ(ftp->TZInfo().GMTOffset(), 300.0 / 1440.0);
  EXPECT_FALSE(ftp->SupportsVerification());
}

TEST(FtpFeatures, SingleLineFeatLeavesTheListEmptyAndTurnsOffExtendedPorts) {
  ScriptedFtpServer server;
  GreetAndLogin(server)
      .Expect("FEAT")
      .Reply("211 No features")
      .Expect("TYPE A")
      .Reply("200 ok")
      .Expect("SYST")
      .Reply("215 UNIX")
      .Expect("TYPE A")
      .Reply("200 ok")
      .ExpectClose();
  server.Start();
  auto ftp = SessionFor(server);
  ftp->SetUseExtensionDataPort(true);
  ftp->Connect();
  EXPECT_TRUE(ftp->Capabilities().empty());
  EXPECT_FALSE(ftp->UsingExtDataPort());
  EXPECT_EQ(ftp->IOHandler()->DefStringEncoding(), Latin1Encoding());
}

TEST(FtpFeatures, ClientIdentifierKeepsFirstWords) {
  TIdFTPClientIdentifier id;
  id.SetClientName("  MyClient 2.0 beta");
  EXPECT_EQ(id.ClientName(), "MyClient");
  id.SetClientVersion("1.0");
  EXPECT_EQ(id.ClntOutput(), "MyClient 1.0");
  id.SetClientVersion("");
  id.SetPlatformDescription("Linux x86");
  EXPECT_EQ(id.ClntOutput(), "MyClient");
  id.SetClientVersion("3");
  EXPECT_EQ(id.ClntOutput(), "MyClient 3 Linux x86");
}

TEST(FtpFeatures, ServUGreetingImpliesSiteZone) {
  ScriptedFtpServer server;
  server.Reply("220 Serv-U FTP Server ready")
      .ExpectPrefix("HOST ")
      .Reply("500 no")
      .Expect("USER bob")
      .Reply("230 in")
      .Expect("FEAT")
      .Reply("500 no");
  ZoneAfterLogin(server, "500 no zone").ExpectClose();
  server.Start();
  auto ftp = SessionFor(server);
  ftp->Connect();
  EXPECT_TRUE(ftp->IsServerMDTZAndListTForm());
  EXPECT_TRUE(ftp->ServerHasSiteZone());
  EXPECT_FALSE(ftp->TZInfo().GMTOffsetAvailable());
}

// ---- Setters and destruction ---------------------------------------------------------------

TEST(FtpSetters, NatFastTrackAndIPv6RulesGuardTheirSettings) {
  TIdFTP ftp;
  ftp.SetTryNATFastTrack(true);
  EXPECT_TRUE(ftp.Passive());
  EXPECT_THROW(ftp.SetPassive(false), EIdFTPPassiveMustBeTrueWithNATFT);
  EXPECT_TRUE(ftp.Passive());
  EXPECT_THROW(ftp.SetUseExtensionDataPort(false), EIdFTPMustUseExtWithNATFastTrack);
  TIdFTP v6;
  v6.SetIPVersion(Id_IPv6);
  EXPECT_TRUE(v6.UseExtensionDataPort());
  EXPECT_THROW(v6.SetUseExtensionDataPort(false), EIdFTPMustUseExtWithIPv6);
}

TEST(FtpSetters, TlsOptionsNeedATlsHandler) {
  TIdFTP ftp;
  EXPECT_EQ(ftp.UseTLS(), utNoTLSSupport);
  EXPECT_THROW(ftp.SetUseTLS(utUseExplicitTLS), EIdTLSClientSSLIOHandlerRequred);
  EXPECT_THROW(ftp.SetDataPortProtection(ftpdpsPrivate), EIdFTPNoDataPortProtectionWOEncryption);
  EXPECT_NO_THROW(ftp.SetDataPortProtection(ftpdpsClear));
  EXPECT_THROW(ftp.SetAUTHCmd(tAuthSSL), EIdFTPNoAUTHWOSSL);
  EXPECT_THROW(ftp.SetUseCCC(true), EIdFTPNoCCCWOEncryption);
}

TEST(FtpSetters, DefaultsMatchTheToolsExpectations) {
  TIdFTP ftp;
  EXPECT_EQ(ftp.Port(), 21);
  EXPECT_EQ(ftp.ReadTimeout(), 60000);
  EXPECT_TRUE(ftp.AutoLogin());
  EXPECT_FALSE(ftp.Passive());
  EXPECT_EQ(ftp.TransferType(), ftASCII);
  EXPECT_EQ(ftp.ListenTimeout(), 10000);
  EXPECT_TRUE(ftp.UseHOST());
  EXPECT_EQ(ftp.ProxySettings().ProxyType(), fpcmNone);
}

TEST(FtpConnect, DestroyingAConnectedSessionSendsNothing) {
  ScriptedFtpServer server;
  GreetAndLogin(server);
  {
    auto ftp = FinishLoginAndStart(server);
    ftp->Connect();
  }
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.Received().back(), "TYPE A");
}

TEST(FtpConnect, AbortWithoutTransferReadsOneReply) {
  ScriptedFtpServer server;
  GreetAndLogin(server);
  AfterLogin(server).Expect("ABOR").Reply("225 No transfer to ABOR.").ExpectClose();
  server.Start();
  auto ftp = SessionFor(server);
  ftp->Connect();
  ftp->Abort();
  EXPECT_EQ(ftp->LastCmdResult().NumericCode(), 225);
}

} // namespace
} // namespace ftpc
