// FTPS against real servers through the OpenSSL handler: explicit and implicit TLS with
// protected data connections (byte-exact both ways, session reuse where the server insists on
// it), CCC, listings, and the certificate checks (CA file, pin, name mismatch, no trust).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "ftp/IdFTP.h"
#include "ftp/IdSSLRegistry.h"
#include "support/RealFtpSession.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"
#include "tls/IdOpenSSLTLSHandler.h"

namespace ftpc {
namespace {

using test::DataMode;
using test::FileChecksumText;
using test::PatternChecksumText;
using test::RealFtpServer;
using test::RealServerKind;
using test::RealServerTls;

constexpr uint64_t kLargeSize = (uint64_t{3} << 20) + 17;  // several TLS records, odd tail

const test::TestCertificate& Certificate() {
  std::string error;
  const test::TestCertificate* certificate = test::SharedTestCertificate(error);
  EXPECT_NE(certificate, nullptr) << error;
  return *certificate;
}

TIdSHA256Digest CertificateDigest(const std::string& ACertFile) {
  TIdSHA256Digest digest{};
  FILE* file = std::fopen(ACertFile.c_str(), "r");
  X509* certificate = file != nullptr ? PEM_read_X509(file, nullptr, nullptr, nullptr) : nullptr;
  unsigned int length = 0;
  if (certificate != nullptr) {
    X509_digest(certificate, EVP_sha256(), digest.data(), &length);
  }
  X509_free(certificate);
  if (file != nullptr) {
    std::fclose(file);
  }
  return digest;
}

struct TlsSetup {
  TIdUseTLS Mode = utUseRequireTLS;
  TIdFTPDataPortSecurity Protection = ftpdpsPrivate;
  bool UseCCC = false;
  DataMode Data = DataMode::Epsv;
  TIdTLSMaxVersion MaxVersion = tmv13;
  int RoundTrips = 2;  // each after the first resumes on a session another connection brought
};

// A TIdFTP with an OpenSSL handler that trusts the test certificate, not yet connected.
struct TlsClient {
  std::unique_ptr<TIdFTP> Ftp = std::make_unique<TIdFTP>();
  TIdOpenSSLTLSHandler* Handler = nullptr;

  TlsClient(const RealFtpServer& AServer, const TlsSetup& ASetup) {
    auto handler = std::make_unique<TIdOpenSSLTLSHandler>();
    Handler = handler.get();
    Handler->SetCAFile(Certificate().CertFile);
    Handler->SetMaxVersion(ASetup.MaxVersion);
    Ftp->SetIOHandler(std::unique_ptr<TIdIOHandler>(std::move(handler)));
    Ftp->SetHost(AServer.Address());
    Ftp->SetUseTLS(ASetup.Mode);
    Ftp->SetPort(AServer.Port());
    Ftp->SetDataPortProtection(ASetup.Protection);
    Ftp->SetUseCCC(ASetup.UseCCC);
    Ftp->SetUsername(RealFtpServer::kUser);
    Ftp->SetPassword(RealFtpServer::kPassword);
    Ftp->SetTransferType(ftBinary);
    Ftp->SetPassive(ASetup.Data == DataMode::Pasv || ASetup.Data == DataMode::Epsv);
    Ftp->SetUseExtensionDataPort(ASetup.Data == DataMode::Epsv || ASetup.Data == DataMode::Eprt);
  }
};

void ExpectRoundTrip(TIdFTP& AFtp, const RealFtpServer& AServer, uint64_t ASize) {
  test::TempDir local;
  ASSERT_TRUE(test::WritePatternFile(local.File("source.bin"), ASize));
  AFtp.Put(local.File("source.bin"), "data.bin");
  EXPECT_EQ(FileChecksumText(AServer.RootDir() + "/data.bin"), PatternChecksumText(ASize));
  AFtp.Get("data.bin", local.File("back.bin"), true, false);
  EXPECT_EQ(FileChecksumText(local.File("back.bin")), PatternChecksumText(ASize));
}

struct FtpsCase {
  const char* Name;
  RealServerKind Kind;
  RealServerTls ServerTls;
  TlsSetup Setup;
};

class Ftps : public ::testing::TestWithParam<FtpsCase> {};

// Every data connection must resume the control connection's TLS session with vsftpd and
// proftpd; vsftpd issues a TLS 1.3 ticket on every data connection, proftpd only on those it
// writes to, so its sessions use TLS 1.2 or one round trip.
TEST_P(Ftps, UploadAndDownloadAreByteExact) {
  const FtpsCase& param = GetParam();
  auto server = test::StartRealFtpServerOrSkip(param.Kind, {.Tls = param.ServerTls});
  if (!server) {
    return;
  }
  TlsClient client(*server, param.Setup);
  client.Ftp->Connect();
  EXPECT_TRUE(client.Ftp->UsingSFTP());
  for (int round = 0; round < param.Setup.RoundTrips; ++round) {
    const uint64_t size = round == 0 ? kLargeSize : 0;
    SCOPED_TRACE(size);
    ExpectRoundTrip(*client.Ftp, *server, size);
  }
  client.Ftp->Quit();
}

constexpr TlsSetup kExplicit{};
constexpr TlsSetup kExplicitActive{.Data = DataMode::Eprt};
constexpr TlsSetup kExplicit12{.MaxVersion = tmv12};
constexpr TlsSetup kImplicit{.Mode = utUseImplicitTLS};
constexpr TlsSetup kImplicitOnce{.Mode = utUseImplicitTLS, .RoundTrips = 1};
constexpr TlsSetup kClearControl{.UseCCC = true, .MaxVersion = tmv12};

INSTANTIATE_TEST_SUITE_P(
    RealServers, Ftps,
    ::testing::Values(
        FtpsCase{"vsftpd_explicit", RealServerKind::Vsftpd, RealServerTls::Explicit, kExplicit},
        FtpsCase{"vsftpd_explicit_active", RealServerKind::Vsftpd, RealServerTls::Explicit,
                 kExplicitActive},
        FtpsCase{"proftpd_explicit", RealServerKind::Proftpd, RealServerTls::Explicit, kExplicit12},
        FtpsCase{"pureftpd_explicit", RealServerKind::PureFtpd, RealServerTls::Explicit, kExplicit},
        FtpsCase{"pyftpdlib_explicit", RealServerKind::Pyftpdlib, RealServerTls::Explicit,
                 kExplicit},
        FtpsCase{"vsftpd_implicit", RealServerKind::Vsftpd, RealServerTls::Implicit, kImplicit},
        FtpsCase{"proftpd_implicit", RealServerKind::Proftpd, RealServerTls::Implicit,
                 kImplicitOnce},
        FtpsCase{"proftpd_ccc", RealServerKind::Proftpd, RealServerTls::Explicit, kClearControl},
        FtpsCase{"pureftpd_ccc", RealServerKind::PureFtpd, RealServerTls::Explicit,
                 kClearControl}),
    [](const ::testing::TestParamInfo<FtpsCase>& AInfo) { return AInfo.param.Name; });

TEST(FtpsListing, ArrivesOverAProtectedDataConnection) {
  auto server = test::StartRealFtpServerOrSkip(RealServerKind::Proftpd,
                                               {.Tls = RealServerTls::Explicit});
  if (!server) {
    return;
  }
  ASSERT_TRUE(test::WritePatternFile(server->RootDir() + "/listed-file.bin", 10));
  TlsClient client(*server, kExplicit);
  client.Ftp->Connect();
  std::vector<std::string> lines;
  client.Ftp->List(&lines, "", true);
  std::string listing;
  for (const std::string& line : lines) {
    listing += line + "\n";
  }
  EXPECT_NE(listing.find("listed-file.bin"), std::string::npos) << listing;
  client.Ftp->Quit();
}

// How the handler is told to check the certificate, and whether the login may go on.
struct TrustCase {
  const char* Name;
  const char* ServerAddress;  // "127.0.0.*": an address the certificate does not name
  void (*Configure)(TIdOpenSSLTLSHandler&);
  const char* RefusalReason;  // nullptr: accepted
};

class FtpsTrust : public ::testing::TestWithParam<TrustCase> {};

TEST_P(FtpsTrust, DecidesBeforeTheLogin) {
  const TrustCase& param = GetParam();
  auto server = test::StartRealFtpServerOrSkip(
      RealServerKind::Vsftpd, {.Address = param.ServerAddress, .Tls = RealServerTls::Explicit});
  if (!server) {
    return;
  }
  TlsClient client(*server, kExplicit);
  param.Configure(*client.Handler);
  if (param.RefusalReason == nullptr) {
    client.Ftp->Connect();
    EXPECT_TRUE(client.Ftp->UsingSFTP());
    client.Ftp->Quit();
    return;
  }
  EXPECT_THROW(client.Ftp->Connect(), EIdTLSClientTLSHandShakeFailed);
  EXPECT_NE(client.Handler->FailureReason().find(param.RefusalReason), std::string::npos)
      << client.Handler->FailureReason();
  EXPECT_FALSE(client.Ftp->Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, FtpsTrust,
    ::testing::Values(
        TrustCase{"ca_file", "127.0.0.1", [](TIdOpenSSLTLSHandler&) {}, nullptr},
        TrustCase{"name_mismatch", "127.0.0.*", [](TIdOpenSSLTLSHandler&) {},
                  "IP address mismatch"},
        TrustCase{"system_trust_refuses_self_signed", "127.0.0.1",
                  [](TIdOpenSSLTLSHandler& AHandler) { AHandler.SetVerifyPeer(true); },
                  "self-signed certificate"},
        TrustCase{"pin_matches", "127.0.0.*",
                  [](TIdOpenSSLTLSHandler& AHandler) {
                    AHandler.SetPinnedSHA256(CertificateDigest(Certificate().CertFile));
                  },
                  nullptr},
        TrustCase{"pin_differs", "127.0.0.1",
                  [](TIdOpenSSLTLSHandler& AHandler) { AHandler.SetPinnedSHA256({}); },
                  "pinned SHA-256"},
        TrustCase{"insecure", "127.0.0.*",
                  [](TIdOpenSSLTLSHandler& AHandler) { AHandler.SetVerifyPeer(false); }, nullptr}),
    [](const ::testing::TestParamInfo<TrustCase>& AInfo) { return AInfo.param.Name; });

// Both servers list SSCN: one server takes the TLS client's part on the data connection
// between them. That connection cannot resume either control session, so the servers must not
// insist on reuse; and they run TLS 1.2 between them, because under TLS 1.3 this server,
// as the TLS client of a data connection, now and then closes it before its peer has read
// the end (the receiving side then aborts with 426).
TEST(FtpsSiteToSite, CopiesBetweenTwoServersUnderTls) {
  const test::RealFtpServerOptions options{
      .Tls = RealServerTls::Explicit,
      .Extra = {"TLSOptions NoSessionReuseRequired", "TLSProtocol TLSv1.2",
                "TLSCACertificateFile " + Certificate().CertFile}};
  auto source = test::StartRealFtpServerOrSkip(RealServerKind::Proftpd, options);
  auto dest = source ? test::StartRealFtpServerOrSkip(RealServerKind::Proftpd, options) : nullptr;
  if (!dest) {
    return;
  }
  ASSERT_TRUE(test::WritePatternFile(source->RootDir() + "/copied.bin", kLargeSize));
  TlsClient from(*source, kExplicit12);
  TlsClient to(*dest, kExplicit12);
  from.Ftp->Connect();
  to.Ftp->Connect();
  from.Ftp->SiteToSiteUpload(*to.Ftp, "copied.bin");
  EXPECT_EQ(FileChecksumText(dest->RootDir() + "/copied.bin"), PatternChecksumText(kLargeSize));
  from.Ftp->Quit();
  to.Ftp->Quit();
}

// A stream that aborts the download it receives once the first bytes arrive.
class TAbortingStream : public TMemoryStream {
public:
  explicit TAbortingStream(TIdFTP& AFtp) : FFtp(AFtp) {}
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    if (!FAborted) {
      FAborted = true;
      FFtp.Abort();
    }
    return TMemoryStream::Write(ABuffer, ACount);
  }

private:
  TIdFTP& FFtp;
  bool FAborted = false;
};

// ABOR goes out over the control connection's TLS and the protected data connection is cut;
// the session stays in step for the next protected transfer.
TEST(FtpsAbort, LeavesTheSessionUsable) {
  auto server = test::StartRealFtpServerOrSkip(RealServerKind::Proftpd,
                                               {.Tls = RealServerTls::Explicit});
  if (!server) {
    return;
  }
  ASSERT_TRUE(test::WritePatternFile(server->RootDir() + "/big.bin", uint64_t{64} << 20));
  TlsClient client(*server, kExplicit12);
  client.Ftp->Connect();
  TAbortingStream sink(*client.Ftp);
  try {
    client.Ftp->Get("big.bin", sink, false);
  } catch (const EIdException&) {
    // Whether the abort surfaces as an error depends on the server's replies.
  }
  EXPECT_LT(sink.Size(), int64_t{64} << 20);
  EXPECT_EQ(client.Ftp->SendCmd("NOOP", {200}), 200);
  ExpectRoundTrip(*client.Ftp, *server, 1000);
  client.Ftp->Quit();
}

TEST(TlsRegistry, OffersTheHandlerByName) {
  const auto entry = TIdSSLRegistry::Instance().Find(kOpenSSLProductName);
  ASSERT_TRUE(entry.has_value());
  EXPECT_NE(dynamic_cast<TIdOpenSSLTLSHandler*>(entry->ClientHandler().get()), nullptr);
}

TEST(Sha256Fingerprint, ParsesHexWithOrWithoutColons) {
  const std::string plain(64, 'a');
  std::string colons;
  for (int i = 0; i < 32; ++i) {
    colons += std::string(i == 0 ? "" : ":") + "A0";
  }
  EXPECT_EQ(ParseSHA256Fingerprint(plain)->at(31), 0xaa);
  EXPECT_EQ(ParseSHA256Fingerprint(colons)->at(0), 0xa0);
  for (const std::string& bad : {std::string(63, 'a'), std::string(65, 'a'), std::string(64, 'g'),
                                std::string(62, 'a') + "+1"}) {
    EXPECT_FALSE(ParseSHA256Fingerprint(bad).has_value()) << bad;
  }
}

} // namespace
} // namespace ftpc
