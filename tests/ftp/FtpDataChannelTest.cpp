// The data channel: the exact reading of 227 and 229 replies, the EPSV and EPRT fall-backs and
// the PORT/EPRT texts, pinned by what a scripted server receives.
#include <cstdio>

#include <gtest/gtest.h>

#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "ftp/IdFTPReplyParsers.h"
#include "global/IdStream.h"
#include "FtpScriptedSession.h"
#include "support/LoopbackSocket.h"
#include "support/ScriptedFtpServer.h"

namespace ftpc {
namespace {

using test::ConnectedSession;
using test::Greet;
using test::OpenData;
using test::PlainSession;
using test::ScriptedFtpServer;

// A connected session of AServer with the extended data port commands (EPSV/EPRT) on.
std::unique_ptr<TIdFTP> ExtendedSession(ScriptedFtpServer& AServer, bool APassive = true) {
  AServer.Start();
  auto ftp = PlainSession(AServer, APassive);
  ftp->SetUseExtensionDataPort(true);
  ftp->Connect();
  return ftp;
}

// Downloads ARemote into memory; returns how many bytes came.
int64_t DownloadedSize(TIdFTP& AFtp, const std::string& ARemote) {
  TMemoryStream dest;
  AFtp.Get(ARemote, dest);
  return dest.Size();
}

// A RETR of ARemote answered 150, its bytes and 226.
ScriptedFtpServer& Retrieve(ScriptedFtpServer& AServer, const std::string& ARemote,
                            const std::string& ABytes) {
  return AServer.Expect("RETR " + ARemote).Reply("150 go").DataSend(ABytes).Reply("226 done");
}

struct PasvCase {
  const char* Line;
  const char* Host;
  uint16_t Port;
};

class PasvReply : public ::testing::TestWithParam<PasvCase> {};

TEST_P(PasvReply, GivesHostAndPort) {
  const auto [host, port] = ParsePASVReply(GetParam().Line);
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
  EXPECT_THROW(ParsePASVReply(GetParam()), EIdFTPServerSentInvalidAddress);
}

INSTANTIATE_TEST_SUITE_P(Texts, PasvBadHost,
                         ::testing::Values("(evil,example,com,x,4,1)", "(256,0,0,1,4,1)",
                                           "(10,0,0,a,4,1)", "()", "", "(1,2,-3,4,5,6)",
                                           "(1,2,3,,5,6)", "(1.2,3,4,5,6,7)"));

TEST(PasvReplyPort, NonNumericPortPieceIsAConversionError) {
  EXPECT_THROW(ParsePASVReply("(10,0,0,7,x,1)"), EIdConvertError);
}

struct EpsvCase {
  const char* Line;
  const char* Host; // "" means the control connection's Host
  int Port;         // -1: EIdFTPServerSentInvalidPort with Field
  const char* Field;
};

class EpsvReply : public ::testing::TestWithParam<EpsvCase> {};

TEST_P(EpsvReply, GivesPortOrRaises) {
  if (GetParam().Port < 0) {
    try {
      ParseEPSVReply(GetParam().Line, "ctrl.example");
      FAIL() << "no error";
    } catch (const EIdFTPServerSentInvalidPort& e) {
      EXPECT_EQ(std::string(e.what()),
                FormatInvariant(RSFTPServerSentInvalidPort, {GetParam().Field}));
    }
    return;
  }
  const auto [host, port] = ParseEPSVReply(GetParam().Line, "ctrl.example");
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

// A 229 address goes to the resolver as it is: only a numeric literal may pass, so a server
// cannot make us resolve a name, and bytes the number reader would skip must not hide one.
TEST(EpsvReplyAddress, AnythingButANumericLiteralIsRejected) {
  const std::string lines[] = {"(|1|evil.example|6446|)", std::string("(|1|\0007.2.7.8|6446|)", 19),
                               "(|1|127. 0.0.1|6446|)", "(|1|127.0.0.1\t.5|6446|)",
                               "(|1|8.4.5.4.|6446|)"};
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_THROW(ParseEPSVReply(line, "ctrl.example"), EIdFTPServerSentInvalidAddress);
  }
}

// ---- Scripted exchanges ----------------------------------------------------------------------

TEST(FtpPassive, AnnouncedPrivateHostIsReplacedByControlPeer) {
  ScriptedFtpServer server;
  Greet(server).Expect("PASV").Reply("227 Entering Passive Mode (10,0,0,7,{p1},{p2})");
  Retrieve(server, "a", "abc");
  server.Start();
  auto ftp = PlainSession(server);
  ftp->SetPassiveUseControlHost(true);
  ftp->Connect();
  EXPECT_EQ(DownloadedSize(*ftp, "a"), 3);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpPassive, NonNumericHostIsRejectedBeforeAnyConnection) {
  ScriptedFtpServer server;
  Greet(server).Expect("PASV").Reply("227 Entering Passive Mode (localhost,x,y,z,4,1)");
  auto ftp = ConnectedSession(server);
  TMemoryStream dest;
  EXPECT_THROW(ftp->Get("a", dest), EIdFTPServerSentInvalidAddress);
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.DataConnections(), 0);
  EXPECT_EQ(ftp->DataChannel(), nullptr);
}

TEST(FtpPassive, EpsvPortZeroSendsAborBeforeTheError) {
  ScriptedFtpServer server;
  Greet(server).Expect("EPSV").Reply("229 ok (|||0|)").Expect("ABOR").Reply("226 aborted");
  auto ftp = ExtendedSession(server);
  TMemoryStream dest;
  EXPECT_THROW(ftp->Get("a", dest), EIdFTPServerSentInvalidPort);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpPassive, RefusedEpsvFallsBackToPasvForTheRestOfTheConnection) {
  ScriptedFtpServer server;
  Retrieve(OpenData(Greet(server).Expect("EPSV").Reply("500 what?")), "a", "1");
  Retrieve(OpenData(server), "b", "2");
  auto ftp = ExtendedSession(server);
  TMemoryStream dest;
  ftp->Get("a", dest);
  EXPECT_FALSE(ftp->UsingExtDataPort());
  ftp->Get("b", dest);
  EXPECT_EQ(dest.Size(), 2);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpPassive, EpsvWithDelimiterIsUsed) {
  ScriptedFtpServer server;
  Greet(server).Expect("EPSV").Reply("229 Entering Extended Passive Mode (!!!{port}!)");
  Retrieve(server, "a", "xyz");
  auto ftp = ExtendedSession(server);
  EXPECT_EQ(DownloadedSize(*ftp, "a"), 3);
  EXPECT_TRUE(server.Finished());
}

TEST(FtpActive, RefusedEprtFallsBackToPortForTheRestOfTheConnection) {
  ScriptedFtpServer server;
  Greet(server).ExpectPrefix("EPRT |1|127.0.0.1|").Reply("500 no");
  Retrieve(server.ExpectPrefix("PORT 127,0,0,1,").Reply("200 ok"), "a", "1");
  Retrieve(server.ExpectPrefix("PORT 127,0,0,1,").Reply("200 ok"), "b", "2");
  auto ftp = ExtendedSession(server, false);
  TMemoryStream dest;
  ftp->Get("a", dest);
  ftp->Get("b", dest);
  EXPECT_EQ(dest.Size(), 2);
  EXPECT_TRUE(server.Finished());
}

// Over IPv6 the address goes out in its short form, also when FEAT does not list EPRT, and a
// refused EPRT is the error: PORT has no IPv6 form, so there is nothing to fall back to.
TEST(FtpActive, EprtOverIPv6SendsTheShortAddressAndNeverFallsBackToPort) {
  if (!test::ListenProblem("::1", 0).empty()) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
  ScriptedFtpServer server({.Address = "::1"});
  Greet(server).Expect("FEAT").Reply("211-Features:\n MDTM\n211 End");
  Retrieve(server.ExpectPrefix("EPRT |2|::1|").Reply("200 ok"), "a", "1")
      .ExpectPrefix("EPRT |2|::1|")
      .Reply("501 Rejected data connection to foreign address")
      .Expect("NOOP")
      .Reply("200 still here");
  server.Start();
  auto ftp = PlainSession(server, false);
  ftp->SetIPVersion(Id_IPv6);
  ftp->Connect();
  ftp->DiscoverFeatures();
  TMemoryStream dest;
  ftp->Get("a", dest);
  EXPECT_EQ(dest.Size(), 1);
  const auto refused =
      test::ReplyErrorOf([&] { ftp->Get("b", dest); }, "a refused EPRT must raise");
  EXPECT_EQ(refused.Code, 501);
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
  auto ftp = PlainSession(server, false);
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
