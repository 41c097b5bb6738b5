// The data channel: the exact reading of 227 and 229 replies, the EPSV and EPRT fall-backs and
// the PORT/EPRT texts, pinned by what a scripted server receives.
#include <cstdio>

#include <gtest/gtest.h>

#include "core/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "global/IdStream.h"
#include "support/LoopbackSocket.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc {
namespace {

using test::Lines;
using test::ScriptedFtpServer;

// Exposes the reply parsers so that reply texts can be checked without a server.
class ParsingFTP : public TIdFTP {
public:
  using TIdFTP::ParseEPSVReply;
  using TIdFTP::ParsePASVReply;
};

struct PasvCase {
  const char* Line;
  const char* Host;
  uint16_t Port;
};

class PasvReply : public ::testing::TestWithParam<PasvCase> {};

TEST_P(PasvReply, GivesHostAndPort) {
  ParsingFTP ftp;
  ftp.LastCmdResult().SetReply(227, GetParam().Line);
  std::string host;
  uint16_t port = 0;
  ftp.ParsePASVReply(host, port);
  EXPECT_EQ(host, GetParam().Host);
  EXPECT_EQ(port, GetParam().Port);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PasvReply,
    ::testing::Values(PasvCase{"Entering Passive Mode (10,0,0,7,4,1)", "10.0.0.7", 1025},
                      PasvCase{"=10,0,0,7,4,1", "10.0.0.7", 1025},
                      PasvCase{"Entering Passive Mode 10,0,0,7,4,1", "10.0.0.7", 1025},
                      PasvCase{"Entering Passive Mode (10,0,0,7,300,1)", "10.0.0.7", 11265},
                      PasvCase{"  ok (127, 0, 0, 1, 195, 80).  ", "127.0.0.1", 50000},
                      PasvCase{"x (010,0,0,7,0,21)", "10.0.0.7", 21}));

class PasvBadHost : public ::testing::TestWithParam<const char*> {};

// A server must never make the client resolve or connect to a name of its choosing.
TEST_P(PasvBadHost, IsRejectedAsInvalidAddress) {
  ParsingFTP ftp;
  ftp.LastCmdResult().SetReply(227, GetParam());
  std::string host;
  uint16_t port = 0;
  EXPECT_THROW(ftp.ParsePASVReply(host, port), EIdFTPServerSentInvalidAddress);
}

INSTANTIATE_TEST_SUITE_P(Texts, PasvBadHost,
                         ::testing::Values("(evil,example,com,x,4,1)", "(256,0,0,1,4,1)",
                                           "(10,0,0,a,4,1)", "()", "", "(1,2,-3,4,5,6)",
                                           "(1,2,3,,5,6)", "(1.2,3,4,5,6,7)"));

TEST(PasvReplyPort, NonNumericPortPieceIsAConversionError) {
  ParsingFTP ftp;
  ftp.LastCmdResult().SetReply(227, "(10,0,0,7,x,1)");
  std::string host;
  uint16_t port = 0;
  EXPECT_THROW(ftp.ParsePASVReply(host, port), EIdConvertError);
}

struct EpsvCase {
  const char* Line;
  const char* Host; // "" means the control connection's Host
  int Port;         // -1: EIdFTPServerSentInvalidPort with Field
  const char* Field;
};

class EpsvReply : public ::testing::TestWithParam<EpsvCase> {};

TEST_P(EpsvReply, GivesPortOrRaises) {
  ParsingFTP ftp;
  ftp.SetHost("ctrl.example");
  ftp.LastCmdResult().SetReply(229, GetParam().Line);
  std::string host;
  uint16_t port = 0;
  if (GetParam().Port < 0) {
    try {
      ftp.ParseEPSVReply(host, port);
      FAIL() << "no error";
    } catch (const EIdFTPServerSentInvalidPort& e) {
      EXPECT_EQ(std::string(e.what()),
                FormatInvariant(RSFTPServerSentInvalidPort, {GetParam().Field}));
    }
    return;
  }
  ftp.ParseEPSVReply(host, port);
  EXPECT_EQ(host, *GetParam().Host ? GetParam().Host : "ctrl.example");
  EXPECT_EQ(port, GetParam().Port);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, EpsvReply,
    ::testing::Values(EpsvCase{"Entering Extended Passive Mode (|||6446|)", "", 6446, ""},
                      EpsvCase{"Entering Extended Passive Mode (!!!6446!)", "", 6446, ""},
                      EpsvCase{"ok (|2|::1|2121|)", "::1", 2121, ""},
                      EpsvCase{"ok (|1|127.0.0.1| 21 |)", "127.0.0.1", 21, ""},
                      EpsvCase{"(|||0|)", "", -1, "0"},
                      EpsvCase{"(|||65536|)", "", -1, "65536"},
                      EpsvCase{"(|||x|)", "", -1, "x"},
                      EpsvCase{"Entering Extended Passive Mode |||6446|", "", -1, ""},
                      EpsvCase{"()", "", -1, ""}, EpsvCase{"(|)", "", -1, ""},
                      EpsvCase{"(|||", "", -1, ""}, EpsvCase{"", "", -1, ""}));

TEST(EpsvReplyAddress, NamedHostIsRejected) {
  ParsingFTP ftp;
  ftp.LastCmdResult().SetReply(229, "(|1|evil.example|6446|)");
  std::string host;
  uint16_t port = 0;
  EXPECT_THROW(ftp.ParseEPSVReply(host, port), EIdFTPServerSentInvalidAddress);
}

// ---- Scripted exchanges ----------------------------------------------------------------------

std::unique_ptr<TIdFTP> PlainSession(const ScriptedFtpServer& AServer) {
  auto ftp = std::make_unique<TIdFTP>();
  ftp->SetHost(AServer.Address());
  ftp->SetPort(AServer.Port());
  ftp->SetAutoLogin(false);
  ftp->SetAutoIssueFEAT(false);
  ftp->SetUseHOST(false);
  return ftp;
}

ScriptedFtpServer& Greet(ScriptedFtpServer& AServer) {
  return AServer.Reply("220 ready").Expect("SYST").Reply("215 UNIX Type: L8");
}

TEST(FtpPassive, AnnouncedPrivateHostIsReplacedByControlPeer) {
  ScriptedFtpServer server;
  Greet(server)
      .Expect("PASV")
      .Reply("227 Entering Passive Mode (10,0,0,7,{p1},{p2})")
      .Expect("RETR a")
      .Reply("150 go")
      .DataSend("abc")
      .Reply("226 done");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetPassive(true);
  ftp->SetPassiveUseControlHost(true);
  ftp->Connect();
  TMemoryStream dest;
  ftp->Get("a", dest);
  EXPECT_EQ(dest.Size(), 3);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpPassive, NonNumericHostIsRejectedBeforeAnyConnection) {
  ScriptedFtpServer server;
  Greet(server).Expect("PASV").Reply("227 Entering Passive Mode (localhost,x,y,z,4,1)");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetPassive(true);
  ftp->Connect();
  TMemoryStream dest;
  EXPECT_THROW(ftp->Get("a", dest), EIdFTPServerSentInvalidAddress);
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.DataConnections(), 0);
  EXPECT_EQ(ftp->DataChannel(), nullptr);
}

TEST(FtpPassive, EpsvPortZeroSendsAborBeforeTheError) {
  ScriptedFtpServer server;
  Greet(server).Expect("EPSV").Reply("229 ok (|||0|)").Expect("ABOR").Reply("226 aborted");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetPassive(true);
  ftp->SetUseExtensionDataPort(true);
  ftp->Connect();
  TMemoryStream dest;
  EXPECT_THROW(ftp->Get("a", dest), EIdFTPServerSentInvalidPort);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpPassive, RefusedEpsvFallsBackToPasvForTheRestOfTheConnection) {
  ScriptedFtpServer server;
  Greet(server)
      .Expect("EPSV")
      .Reply("500 what?")
      .Expect("PASV")
      .ReplyPasv()
      .Expect("RETR a")
      .Reply("150 go")
      .DataSend("1")
      .Reply("226 done")
      .Expect("PASV")
      .ReplyPasv()
      .Expect("RETR b")
      .Reply("150 go")
      .DataSend("2")
      .Reply("226 done");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetPassive(true);
  ftp->SetUseExtensionDataPort(true);
  ftp->Connect();
  TMemoryStream dest;
  ftp->Get("a", dest);
  EXPECT_FALSE(ftp->UsingExtDataPort());
  ftp->Get("b", dest);
  EXPECT_EQ(dest.Size(), 2);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpPassive, EpsvWithDelimiterIsUsed) {
  ScriptedFtpServer server;
  Greet(server)
      .Expect("EPSV")
      .Reply("229 Entering Extended Passive Mode (!!!{port}!)")
      .Expect("RETR a")
      .Reply("150 go")
      .DataSend("xyz")
      .Reply("226 done");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetPassive(true);
  ftp->SetUseExtensionDataPort(true);
  ftp->Connect();
  TMemoryStream dest;
  ftp->Get("a", dest);
  EXPECT_EQ(dest.Size(), 3);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpActive, RefusedEprtFallsBackToPortForTheRestOfTheConnection) {
  ScriptedFtpServer server;
  Greet(server)
      .ExpectPrefix("EPRT |1|127.0.0.1|")
      .Reply("500 no")
      .ExpectPrefix("PORT 127,0,0,1,")
      .Reply("200 ok")
      .Expect("RETR a")
      .Reply("150 go")
      .DataSend("1")
      .Reply("226 done")
      .ExpectPrefix("PORT 127,0,0,1,")
      .Reply("200 ok")
      .Expect("RETR b")
      .Reply("150 go")
      .DataSend("2")
      .Reply("226 done");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetUseExtensionDataPort(true);
  ftp->Connect();
  TMemoryStream dest;
  ftp->Get("a", dest);
  ftp->Get("b", dest);
  EXPECT_EQ(dest.Size(), 2);
  EXPECT_TRUE(server.Finished());
}

// Over IPv6 the address goes out in its short form, and a refused EPRT is the error: PORT has
// no IPv6 form, so there is nothing to fall back to.
TEST(FtpActive, EprtOverIPv6SendsTheShortAddressAndNeverFallsBackToPort) {
  if (!test::ListenProblem("::1", 0).empty()) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
  ScriptedFtpServer server({.Address = "::1"});
  Greet(server)
      .ExpectPrefix("EPRT |2|::1|")
      .Reply("200 ok")
      .Expect("RETR a")
      .Reply("150 go")
      .DataSend("1")
      .Reply("226 done")
      .ExpectPrefix("EPRT |2|::1|")
      .Reply("501 Rejected data connection to foreign address")
      .Expect("NOOP")
      .Reply("200 still here");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetIPVersion(Id_IPv6);
  ftp->Connect();
  TMemoryStream dest;
  ftp->Get("a", dest);
  EXPECT_EQ(dest.Size(), 1);
  try {
    ftp->Get("b", dest);
    ADD_FAILURE() << "a refused EPRT must raise";
  } catch (const EIdReplyRFCError& error) {
    EXPECT_EQ(error.ErrorCode(), 501);
  }
  ftp->Noop();
  EXPECT_TRUE(server.Finished());
}

// PORT names ExternalIP with the listener's port (high byte, low byte) from the range.
bool PortInRangeFor(const std::string& ALine, const std::string& APrefix, int AMin, int AMax) {
  if (ALine.rfind(APrefix, 0) != 0) {
    return false;
  }
  int high = -1;
  int low = -1;
  if (std::sscanf(ALine.c_str() + APrefix.size(), "%d,%d", &high, &low) != 2) {
    return false;
  }
  const int port = high * 256 + low;
  return port >= AMin && port <= AMax;
}

TEST(FtpActive, PortTextNamesTheExternalAddress) {
  ScriptedFtpServer server;
  Greet(server)
      .ExpectMatch("PORT for 203.0.113.9",
                   [](const std::string& ALine) {
                     return PortInRangeFor(ALine, "PORT 203,0,113,9,", 49990, 50000);
                   })
      .Reply("500 no");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetExternalIP("203.0.113.9");
  ftp->SetDataPortMin(49990);
  ftp->SetDataPortMax(50000);
  ftp->Connect();
  TMemoryStream dest;
  EXPECT_THROW(ftp->Get("a", dest), EIdReplyRFCError);
  EXPECT_TRUE(server.Finished());
}

} // namespace
} // namespace ftpc
