// The FTP session against real servers: connect, log in, the capability list each one
// announces, a refused password with the server's own code, and an orderly QUIT.
#include <algorithm>

#include <gtest/gtest.h>

#include "ftp/IdFTP.h"
#include "support/RealFtpServers.h"

namespace ftpc {
namespace {

using test::RealFtpServer;
using test::RealServerKind;

struct ServerCase {
  RealServerKind Kind;
  std::vector<std::string> MustList; // features the server is known to announce
  bool SwitchesToUtf8; // answers 200 to one of the two OPTS forms
};

class FtpSessionRealServer : public ::testing::TestWithParam<ServerCase> {
protected:
  std::unique_ptr<TIdFTP> SessionFor(const RealFtpServer& AServer, const std::string& APassword) {
    auto ftp = std::make_unique<TIdFTP>();
    ftp->SetHost(AServer.Address());
    ftp->SetPort(AServer.Port());
    ftp->SetUsername(RealFtpServer::kUser);
    ftp->SetPassword(APassword);
    ftp->SetTransferType(ftBinary);
    return ftp;
  }
};

TEST_P(FtpSessionRealServer, LogsInAndListsItsFeatures) {
  auto server = test::StartRealFtpServerOrSkip(GetParam().Kind);
  if (!server) {
    return;
  }
  auto ftp = SessionFor(*server, RealFtpServer::kPassword);
  ftp->Connect();
  EXPECT_EQ(ftp->LoginMsg().NumericCode(), 230);
  EXPECT_EQ(ftp->SystemDesc(), "UNIX Type: L8");
  for (const std::string& feature : GetParam().MustList) {
    EXPECT_TRUE(ftp->IsExtSupported(feature)) << feature;
  }
  EXPECT_EQ(ftp->IOHandler()->DefStringEncoding() == UTF8Encoding(), GetParam().SwitchesToUtf8);
  EXPECT_EQ(ftp->RetrieveCurrentDir(), "/");
  ftp->MakeDir("made");
  ftp->ChangeDir("made");
  ftp->ChangeDirUp();
  ftp->RemoveDir("made");
  ftp->Quit();
  // The goodbye waits only briefly for the 221, so whether it was read depends on the server.
  EXPECT_FALSE(ftp->Connected());
}

TEST_P(FtpSessionRealServer, WrongPasswordFailsWithTheServersCode) {
  auto server = test::StartRealFtpServerOrSkip(GetParam().Kind);
  if (!server) {
    return;
  }
  auto ftp = SessionFor(*server, "not-the-password");
  try {
    ftp->Connect();
    FAIL() << "a wrong password must not log in";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 530);
  }
  EXPECT_FALSE(ftp->Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, FtpSessionRealServer,
    ::testing::Values(
        ServerCase{RealServerKind::Vsftpd, {"UTF8", "EPRT", "EPSV", "MDTM", "PASV", "SIZE"}, true},
        ServerCase{RealServerKind::Proftpd,
                   {"EPRT", "EPSV", "MDTM", "MFMT", "MLST", "SIZE", "UTF8", "HOST", "XCRC"},
                   true},
        ServerCase{RealServerKind::PureFtpd,
                   {"UTF8", "EPRT", "MDTM", "SIZE", "MFMT", "MLST", "MLSD", "PRET", "EPSV"}, false},
        ServerCase{RealServerKind::Pyftpdlib, {"EPRT", "EPSV", "MDTM", "MFMT", "MLST", "SIZE", "UTF8"},
                   false}),
    [](const auto& AInfo) {
      std::string name = test::RealServerName(AInfo.param.Kind);
      name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
      return name;
    });

} // namespace
} // namespace ftpc
