// Server-to-server transfers between two scripted servers: which side is asked for a passive
// address and which one is told to connect there, the order of STOR and RETR and of their
// replies, the checks made before anything is sent, and a refusal on either side.
#include <functional>
#include <tuple>

#include <gtest/gtest.h>

#include "FakeTlsIOHandler.h"
#include "FtpScriptedSession.h"
#include "core/IdReplyRFC.h"
#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "ftp/IdFTPSiteToSite.h"
#include "support/RealFtpSession.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestPattern.h"

namespace ftpc {
namespace {

using test::Greet;
using test::Lines;
using test::PlainSession;
using test::ScriptedFtpServer;

enum class Call { Upload, Download };

// The source server (RETR) and the destination server (STOR) with a session on each.
struct SitePair {
  explicit SitePair(const ScriptedFtpServer::Options& AOptions = {})
      : Source(AOptions), Dest(AOptions) {}

  ScriptedFtpServer Source;
  ScriptedFtpServer Dest;
  std::unique_ptr<TIdFTP> SourceFtp;
  std::unique_ptr<TIdFTP> DestFtp;

  void Connect(bool ASourceExt = false, bool ADestExt = false) {
    Source.Start();
    Dest.Start();
    SourceFtp = PlainSession(Source);
    DestFtp = PlainSession(Dest);
    SourceFtp->SetUseExtensionDataPort(ASourceExt);
    DestFtp->SetUseExtensionDataPort(ADestExt);
    SourceFtp->Connect();
    DestFtp->Connect();
  }

  // Both sessions secured by AUTH TLS, with PROT P and the features their servers list.
  void ConnectSecure(TIdIPVersion AIPVersion) {
    Source.Start();
    Dest.Start();
    SourceFtp = PlainSession(Source);
    DestFtp = PlainSession(Dest);
    for (TIdFTP* ftp : {SourceFtp.get(), DestFtp.get()}) {
      ftp->SetIPVersion(AIPVersion);
      test::UseFakeTls(*ftp, utUseExplicitTLS);
      ftp->SetDataPortProtection(ftpdpsPrivate);
      ftp->Connect();
      ftp->Login();
      ftp->DiscoverFeatures();
    }
  }

  // Upload: the source session sends its file to the destination; Download: the destination
  // session fetches it from the source.
  void Run(Call ACall, const std::string& ASourceFile, const std::string& ADestFile) {
    if (ACall == Call::Upload) {
      SourceFtp->SiteToSiteUpload(*DestFtp, ASourceFile, ADestFile);
    } else {
      DestFtp->SiteToSiteDownload(*SourceFtp, ASourceFile, ADestFile);
    }
  }

  // Both sessions answer their next command, then close.
  void ExpectInStep() {
    Source.Expect("NOOP").Reply("200 source ok").ExpectClose();
    Dest.Expect("NOOP").Reply("200 dest ok").ExpectClose();
  }
  void CheckInStep() {
    EXPECT_EQ(SourceFtp->SendCmd("NOOP", {200}), 200);
    EXPECT_EQ(DestFtp->SendCmd("NOOP", {200}), 200);
    SourceFtp->Disconnect(false);
    DestFtp->Disconnect(false);
    EXPECT_TRUE(Source.Finished());
    EXPECT_TRUE(Dest.Finished());
  }
};

// The passive side's address query, EPSV or PASV.
void ExpectPassiveQuery(ScriptedFtpServer& AServer, bool AExt) {
  if (AExt) {
    AServer.Expect("EPSV").ReplyEpsv();
  } else {
    AServer.Expect("PASV").ReplyPasv();
  }
}

// The active side is told the passive server's address: "EPRT |1|127.0.0.1|port|" or
// "PORT 127,0,0,1,p1,p2". The port is only known once the passive side has answered.
void ExpectAnnouncement(ScriptedFtpServer& AServer, bool AExt, const ScriptedFtpServer& APassive) {
  AServer.ExpectMatch("the passive side's address", [AExt, &APassive](const std::string& ALine) {
    const uint16_t port = APassive.PassivePort();
    if (AExt) {
      const std::string family = APassive.Address() == "::1" ? "2" : "1";
      return ALine == "EPRT |" + family + "|" + APassive.Address() + "|" + std::to_string(port) +
                          "|";
    }
    return ALine == "PORT 127,0,0,1," + std::to_string(port / 256) + "," +
                        std::to_string(port % 256);
  });
  AServer.Reply("200 ok");
}

struct FlowCase {
  Call Direction;
  bool PassiveExt; // the passive side uses EPSV
  bool ActiveExt;  // the active side uses EPRT
  const char* DestFile;
};

class SiteToSiteFlow : public ::testing::TestWithParam<FlowCase> {};

// The bytes really travel between the two servers: the active one connects to the passive
// one's listener.
TEST_P(SiteToSiteFlow, PairsTheServersAndMovesTheFile) {
  const FlowCase& c = GetParam();
  SitePair pair;
  const bool destPassive = c.Direction == Call::Upload;
  ScriptedFtpServer& passive = destPassive ? pair.Dest : pair.Source;
  ScriptedFtpServer& active = destPassive ? pair.Source : pair.Dest;
  Greet(pair.Source);
  Greet(pair.Dest);
  ExpectPassiveQuery(passive, c.PassiveExt);
  ExpectAnnouncement(active, c.ActiveExt, passive);
  const std::string stored = *c.DestFile != '\0' ? c.DestFile : "a.bin";
  pair.Dest.Expect("STOR " + stored).Reply("150 receiving").DataReceive().Reply("226 stored");
  pair.Source.Expect("RETR a.bin").Reply("150 sending").DataSend("across").Reply("226 sent");
  pair.ExpectInStep();
  const bool sourceExt = destPassive ? c.ActiveExt : c.PassiveExt;
  const bool destExt = destPassive ? c.PassiveExt : c.ActiveExt;
  pair.Connect(sourceExt, destExt);
  pair.Run(c.Direction, "a.bin", c.DestFile);
  pair.CheckInStep();
  ASSERT_EQ(pair.Dest.Uploads().size(), 1u);
  EXPECT_EQ(pair.Dest.Uploads()[0].Bytes, "across");
}

INSTANTIATE_TEST_SUITE_P(Pairings, SiteToSiteFlow,
                         ::testing::Values(FlowCase{Call::Upload, false, false, "b.bin"},
                                           FlowCase{Call::Upload, true, true, ""},
                                           FlowCase{Call::Upload, true, false, "b.bin"},
                                           FlowCase{Call::Download, false, false, ""},
                                           FlowCase{Call::Download, true, true, "b.bin"},
                                           FlowCase{Call::Download, false, true, "b.bin"}));

// A refusal on one side: the other side, which took its command, gets ABOR and its replies are
// read, so both sessions stay usable; the refusal is what the caller sees.
struct FailureCase {
  const char* Name;
  std::function<void(SitePair&)> Script; // after PASV/PORT; the sessions' NOOP follow
  int16_t RaisedCode;
};

const FailureCase kFailureCases[] = {
    {"DestRefusesStor",
     [](SitePair& APair) {
       APair.Dest.Expect("STOR b").Reply("553 not allowed");
       APair.Source.Expect("RETR a").Reply("150 sending").Expect("ABOR");
       APair.Source.Reply("426 aborted").Reply("226 abort done");
     },
     553},
    {"SourceRefusesRetr",
     [](SitePair& APair) {
       APair.Dest.Expect("STOR b").Reply("150 waiting").Expect("ABOR");
       APair.Dest.Reply("426 no data connection").Reply("226 abort done");
       APair.Source.Expect("RETR a").Reply("550 no such file");
     },
     550},
    {"BothRefuse",
     [](SitePair& APair) {
       APair.Dest.Expect("STOR b").Reply("553 not allowed");
       APair.Source.Expect("RETR a").Reply("550 no such file");
     },
     553},
    {"DestFailsAtTheEnd",
     [](SitePair& APair) {
       APair.Dest.Expect("STOR b").Reply("150 receiving").Reply("452 disk full");
       APair.Source.Expect("RETR a").Reply("150 sending").Reply("226 sent");
     },
     452},
    {"SourceFailsAtTheEnd",
     [](SitePair& APair) {
       APair.Dest.Expect("STOR b").Reply("150 receiving").Reply("226 stored");
       APair.Source.Expect("RETR a").Reply("150 sending").Reply("451 read error");
     },
     451},
};

class SiteToSiteFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(SiteToSiteFailure, KeepsBothSessionsInStep) {
  SitePair pair;
  Greet(pair.Source).ExpectPrefix("PORT ").Reply("200 ok");
  Greet(pair.Dest).Expect("PASV").ReplyPasv();
  GetParam().Script(pair);
  pair.ExpectInStep();
  pair.Connect();
  try {
    pair.Run(Call::Upload, "a", "b");
    ADD_FAILURE() << "no error raised";
  } catch (const EIdReplyRFCError& error) {
    EXPECT_EQ(error.ErrorCode(), GetParam().RaisedCode);
  }
  pair.CheckInStep();
}

INSTANTIATE_TEST_SUITE_P(Sides, SiteToSiteFailure, ::testing::ValuesIn(kFailureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

TEST(SiteToSite, RefusedAnnouncementStopsBeforeTheDataCommands) {
  SitePair pair;
  Greet(pair.Source).ExpectPrefix("PORT ").Reply("500 PORT not allowed");
  Greet(pair.Dest).Expect("PASV").ReplyPasv();
  pair.ExpectInStep();
  pair.Connect();
  EXPECT_THROW(pair.Run(Call::Upload, "a", "b"), EIdReplyRFCError);
  pair.CheckInStep();
}

// ---- Under TLS -------------------------------------------------------------------------

// One of the two servers must act as the TLS client on their data connection: the source in
// SSCN ON where its server lists SSCN, else the destination; without SSCN the passive side is
// asked with CPSV (IPv4 only). Each side sends PBSZ/PROT before its data-port command.
struct TlsPairCase {
  const char* Name;
  Call Direction;
  const char* SourceFeatures; // FEAT lines, each "\n"-ended
  const char* DestFeatures;
  bool IPv6;
  bool SourceSSCN; // which side gets SSCN ON
  bool DestSSCN;
  bool CPSV;
};

const TlsPairCase kTlsPairCases[] = {
    {"BothListSSCN", Call::Upload, " SSCN\n", " SSCN\n", false, true, false, false},
    {"OnlyDestListsSSCN", Call::Download, "", " SSCN\n", false, false, true, false},
    {"CPSVWithoutSSCN", Call::Upload, "", " CPSV\n", false, false, false, true},
    {"CPSVOnTheSourceWhenItListens", Call::Download, "", " CPSV\n", false, false, false, true},
    {"IPv6WithoutSSCNPairsWithEPSVAndEPRT", Call::Upload, " EPRT\n EPSV\n", " EPRT\n EPSV\n",
     true, false, false, false},
};

void ScriptTlsPair(SitePair& APair, const TlsPairCase& ACase) {
  const bool destPassive = ACase.Direction == Call::Upload;
  ScriptedFtpServer& passive = destPassive ? APair.Dest : APair.Source;
  ScriptedFtpServer& active = destPassive ? APair.Source : APair.Dest;
  for (auto [server, features, sscn] : {std::tuple{&APair.Source, ACase.SourceFeatures, ACase.SourceSSCN},
                                        std::tuple{&APair.Dest, ACase.DestFeatures, ACase.DestSSCN}}) {
    test::SecureLogin(Greet(*server));
    server->Expect("FEAT").Reply(std::string("211-Features:\n") + features + "211 End");
    if (sscn) {
      server->Expect("SSCN ON").Reply("200 SSCN:CLIENT METHOD");
    }
  }
  test::ProtectData(passive);
  if (ACase.CPSV) {
    passive.Expect("CPSV").Reply("227 Entering Passive Mode ({pasv})");
  } else {
    ExpectPassiveQuery(passive, ACase.IPv6);
  }
  ExpectAnnouncement(test::ProtectData(active), ACase.IPv6, passive);
  APair.Dest.Expect("STOR b").Reply("150 receiving").Reply("226 stored");
  APair.Source.Expect("RETR a").Reply("150 sending").Reply("226 sent");
}

class SiteToSiteTls : public ::testing::TestWithParam<TlsPairCase> {};

TEST_P(SiteToSiteTls, PutsOneServerInTheTlsClientsPart) {
  const TlsPairCase& c = GetParam();
  if (c.IPv6 && !test::ListenProblem("::1", 0).empty()) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
  SitePair pair({.Address = c.IPv6 ? "::1" : "127.0.0.1"});
  ScriptTlsPair(pair, c);
  pair.ExpectInStep();
  pair.ConnectSecure(c.IPv6 ? Id_IPv6 : Id_IPv4);
  pair.Run(c.Direction, "a", "b");
  pair.CheckInStep();
}

INSTANTIATE_TEST_SUITE_P(Pairings, SiteToSiteTls, ::testing::ValuesIn(kTlsPairCases),
                         [](const ::testing::TestParamInfo<TlsPairCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

// A server left in SSCN ON would also take the TLS client's part against this client: the
// session's next transfer, a listing too, switches it off first.
TEST(SiteToSiteTls, NextTransferSwitchesSSCNOff) {
  SitePair pair;
  ScriptTlsPair(pair, kTlsPairCases[0]);
  pair.Source.Expect("SSCN OFF").Reply("200 SSCN:SERVER METHOD");
  test::ProtectData(pair.Source).Expect("PASV").ReplyPasv().Expect("NLST -al").Reply("550 none");
  pair.ExpectInStep();
  pair.ConnectSecure(Id_IPv4);
  pair.Run(Call::Upload, "a", "b");
  EXPECT_THROW(pair.SourceFtp->List(nullptr, "", false), EIdReplyRFCError);
  pair.CheckInStep();
}

// ---- Checks before anything is sent -----------------------------------------------------

struct CheckCase {
  const char* Name;
  std::function<void(TIdFTPSiteFacts& ASource, TIdFTPSiteFacts& ADest)> Arrange;
  std::string_view Message;
};

void BothUnderTLS(TIdFTPSiteFacts& ASource, TIdFTPSiteFacts& ADest) {
  ASource.UsingSFTP = true;
  ADest.UsingSFTP = true;
}

const CheckCase kCheckCases[] = {
    {"DestNATFastTracked",
     [](TIdFTPSiteFacts&, TIdFTPSiteFacts& ADest) { ADest.UsingNATFastTrack = true; },
     RSFTPSToSNATFastTrack},
    {"IPVersionsDiffer", [](TIdFTPSiteFacts&, TIdFTPSiteFacts& ADest) { ADest.IPVersion = Id_IPv6; },
     RSFTPSToSIPProtoMustBeSame},
    {"TransferModesDiffer",
     [](TIdFTPSiteFacts& ASource, TIdFTPSiteFacts&) { ASource.TransferMode = dmDeflate; },
     RSFTPSToSTransModesMustBeSame},
    {"OnlyOneUnderTLS", [](TIdFTPSiteFacts& ASource, TIdFTPSiteFacts&) { ASource.UsingSFTP = true; },
     RSFTPSToSNoDataProtection},
    {"TLSWithoutSSCNOrCPSV", BothUnderTLS, RSFTPSSCNNotSupported},
    // The order of the checks: the first failing one is reported.
    {"FastTrackBeforeIPVersion",
     [](TIdFTPSiteFacts& ASource, TIdFTPSiteFacts& ADest) {
       ADest.UsingNATFastTrack = true;
       ADest.IPVersion = Id_IPv6;
       ASource.TransferMode = dmDeflate;
     },
     RSFTPSToSNATFastTrack},
    {"IPVersionBeforeModes",
     [](TIdFTPSiteFacts& ASource, TIdFTPSiteFacts& ADest) {
       ADest.IPVersion = Id_IPv6;
       ASource.TransferMode = dmDeflate;
       ASource.UsingSFTP = true;
     },
     RSFTPSToSIPProtoMustBeSame},
    {"ModesBeforeTLS",
     [](TIdFTPSiteFacts& ASource, TIdFTPSiteFacts&) {
       ASource.TransferMode = dmDeflate;
       ASource.UsingSFTP = true;
     },
     RSFTPSToSTransModesMustBeSame},
};

class SiteToSiteCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(SiteToSiteCheck, RaisesTheFirstFailingCheck) {
  TIdFTPSiteFacts source;
  TIdFTPSiteFacts dest;
  GetParam().Arrange(source, dest);
  try {
    CheckSiteToSite(source, dest);
    ADD_FAILURE() << "no error raised";
  } catch (const EIdFTPException& error) {
    EXPECT_EQ(error.what(), GetParam().Message);
  }
}

INSTANTIATE_TEST_SUITE_P(Checks, SiteToSiteCheck, ::testing::ValuesIn(kCheckCases),
                         [](const ::testing::TestParamInfo<CheckCase>& AInfo) {
                           return std::string(AInfo.param.Name);
                         });

class SiteToSiteCheckOnTheWire : public ::testing::TestWithParam<Call> {};

// The sessions' own state reaches the checks, and a failing check sends nothing.
TEST_P(SiteToSiteCheckOnTheWire, RaisesBeforeAnythingIsSent) {
  ScriptedFtpServer sourceServer;
  ScriptedFtpServer destServer;
  Greet(sourceServer).ExpectClose();
  Greet(destServer).ExpectClose();
  sourceServer.Start();
  destServer.Start();
  TIdFTP source;
  TIdFTP dest;
  for (auto [ftp, server] : {std::pair{&source, &sourceServer}, std::pair{&dest, &destServer}}) {
    test::AimAtScripted(*ftp, *server);
    ftp->Connect();
  }
  dest.SetIPVersion(Id_IPv6);
  try {
    if (GetParam() == Call::Upload) {
      source.SiteToSiteUpload(dest, "a", "b");
    } else {
      dest.SiteToSiteDownload(source, "a", "b");
    }
    ADD_FAILURE() << "no error raised";
  } catch (const EIdFTPException& error) {
    EXPECT_EQ(error.what(), RSFTPSToSIPProtoMustBeSame);
  }
  source.Disconnect(false);
  dest.Disconnect(false);
  EXPECT_TRUE(sourceServer.Finished());
  EXPECT_TRUE(destServer.Finished());
}

INSTANTIATE_TEST_SUITE_P(Calls, SiteToSiteCheckOnTheWire,
                         ::testing::Values(Call::Upload, Call::Download),
                         [](const ::testing::TestParamInfo<Call>& AInfo) {
                           return std::string(AInfo.param == Call::Upload ? "Upload" : "Download");
                         });

// ---- A real server ---------------------------------------------------------------------

// Two sessions on one real server copy a file through the server itself: one side listens,
// the other connects to it (same loopback address, so no foreign-address rules apply).
class RealSiteToSite : public ::testing::TestWithParam<std::tuple<Call, bool>> {};

TEST_P(RealSiteToSite, CopiesTheFileByteForByte) {
  const auto& [call, extended] = GetParam();
  auto server = test::StartRealFtpServerOrSkip(test::RealServerKind::Proftpd);
  if (!server) {
    return;
  }
  constexpr uint64_t kSize = 300000;
  ASSERT_TRUE(test::WritePatternFile(server->RootDir() + "/src.bin", kSize));
  const test::DataMode mode = extended ? test::DataMode::Epsv : test::DataMode::Pasv;
  auto source = test::LoggedInSession(*server, mode);
  auto dest = test::LoggedInSession(*server, mode);
  if (call == Call::Upload) {
    source->SiteToSiteUpload(*dest, "src.bin", "copy.bin");
  } else {
    dest->SiteToSiteDownload(*source, "src.bin", "copy.bin");
  }
  source->Quit();
  dest->Quit();
  EXPECT_EQ(test::FileChecksumText(server->RootDir() + "/copy.bin"),
            test::PatternChecksumText(kSize));
}

INSTANTIATE_TEST_SUITE_P(Pairings, RealSiteToSite,
                         ::testing::Combine(::testing::Values(Call::Upload, Call::Download),
                                            ::testing::Bool()));

} // namespace
} // namespace ftpc
