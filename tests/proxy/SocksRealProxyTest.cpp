// FTP through real SOCKS proxies: byte-exact uploads and downloads through dante (SOCKS 4 and 5,
// with and without a password, passive and active mode through BIND, an IPv6 target) and
// microsocks, a chain of the two, and the refusals real proxies give.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "core/IdComponent.h"
#include "ftp/IdFTP.h"
#include "proxy/IdSocks.h"
#include "support/RealFtpSession.h"
#include "support/RealSocksProxies.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc {
namespace {

using test::DataMode;
using test::RealProxyKind;
using test::RealSocksProxy;

constexpr uint64_t kFileSize = uint64_t{1} << 20;

// SOCKS settings pointing at a running proxy.
void PointAt(TIdSocksInfo& VSocks, const RealSocksProxy& AProxy, TSocksVersion AVersion,
             const std::string& APassword = "") {
  VSocks.SetHost(AProxy.Address());
  VSocks.SetPort(AProxy.Port());
  VSocks.SetVersion(AVersion);
  if (!APassword.empty()) {
    VSocks.SetAuthentication(saUsernamePassword);
    VSocks.SetUsername(RealSocksProxy::kUser);
    VSocks.SetPassword(APassword);
  }
}

// Uploads a pattern file and downloads it again through the session; both must be byte-exact.
void ExpectRoundTrip(TIdFTP& AFtp, const test::RealFtpServer& AServer) {
  test::TempDir local;
  const std::string source = local.File("source.bin");
  const std::string back = local.File("back.bin");
  ASSERT_TRUE(test::WritePatternFile(source, kFileSize));
  AFtp.Put(source, "data.bin");
  EXPECT_EQ(test::FileChecksumText(AServer.RootDir() + "/data.bin"),
            test::PatternChecksumText(kFileSize));
  AFtp.Get("data.bin", back, true, false);
  EXPECT_EQ(test::FileChecksumText(back), test::PatternChecksumText(kFileSize));
  AFtp.Quit();
}

struct ProxyCase {
  const char* Name;
  RealProxyKind Kind;
  TSocksVersion Version;
  bool WithPassword;
  DataMode Mode;
  const char* Target = "127.0.0.1";
  bool PassiveUseControlHost = false;
};

class RealSocksTransfer : public ::testing::TestWithParam<ProxyCase> {};

TEST_P(RealSocksTransfer, UploadThenDownloadIsByteExact) {
  const ProxyCase& c = GetParam();
  auto proxy = test::StartRealSocksProxyOrSkip(c.Kind, c.WithPassword);
  // "127.0.0.*" puts the server on another address than the proxy, with a fixed port.
  const uint16_t port = std::string(c.Target) == "127.0.0.*" ? 21 : 0;
  auto server = proxy ? test::StartRealFtpServerOrSkip(test::RealServerKind::Proftpd,
                                                       {.Address = c.Target, .Port = port})
                      : nullptr;
  if (!server) {
    return;
  }
  TIdSocksInfo socks;
  PointAt(socks, *proxy, c.Version, c.WithPassword ? RealSocksProxy::kPassword : "");
  auto ftp = test::LoggedInSession(*server, c.Mode, &socks);
  ftp->SetPassiveUseControlHost(c.PassiveUseControlHost);
  ExpectRoundTrip(*ftp, *server);
  // The proxy made the connections: it logs the FTP server's port as a target.
  EXPECT_NE(proxy->Log().find(std::to_string(server->Port())), std::string::npos) << proxy->Log();
}

INSTANTIATE_TEST_SUITE_P(
    Proxies, RealSocksTransfer,
    ::testing::Values(
        ProxyCase{"DanteSocks4Passive", RealProxyKind::Dante, svSocks4, false, DataMode::Pasv},
        ProxyCase{"DanteSocks4ActiveBind", RealProxyKind::Dante, svSocks4, false, DataMode::Port},
        ProxyCase{"DanteSocks5Passive", RealProxyKind::Dante, svSocks5, false, DataMode::Pasv},
        ProxyCase{"DanteSocks5ActiveBind", RealProxyKind::Dante, svSocks5, false, DataMode::Eprt},
        ProxyCase{"DanteSocks5PasswordPassive", RealProxyKind::Dante, svSocks5, true,
                  DataMode::Epsv},
        ProxyCase{"DanteSocks5PasswordActiveBind", RealProxyKind::Dante, svSocks5, true,
                  DataMode::Port},
        ProxyCase{"DanteSocks5IPv6Target", RealProxyKind::Dante, svSocks5, false, DataMode::Epsv,
                  "::1"},
        // The control connection's peer is the proxy, not the server.
        ProxyCase{"DanteSocks5PassiveUseControlHost", RealProxyKind::Dante, svSocks5, false,
                  DataMode::Pasv, "127.0.0.*", true},
        ProxyCase{"MicrosocksPassive", RealProxyKind::Microsocks, svSocks5, false, DataMode::Pasv},
        ProxyCase{"MicrosocksPasswordPassive", RealProxyKind::Microsocks, svSocks5, true,
                  DataMode::Epsv}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// microsocks tunnels to dante, dante to the FTP server, for control and data connections.
TEST(RealSocksChainTest, TwoProxiesInARow) {
  auto first = test::StartRealSocksProxyOrSkip(RealProxyKind::Microsocks);
  auto second = first ? test::StartRealSocksProxyOrSkip(RealProxyKind::Dante) : nullptr;
  auto server = second ? test::StartRealFtpServerOrSkip(test::RealServerKind::Proftpd) : nullptr;
  if (!server) {
    return;
  }
  TIdSocksInfo head;
  TIdSocksInfo next;
  PointAt(head, *first, svSocks5);
  PointAt(next, *second, svSocks5);
  head.SetChainedProxy(&next);
  auto ftp = test::LoggedInSession(*server, DataMode::Pasv, &head);
  ExpectRoundTrip(*ftp, *server);
  EXPECT_NE(first->Log().find(std::to_string(second->Port())), std::string::npos);
  EXPECT_NE(second->Log().find(std::to_string(server->Port())), std::string::npos);
  head.SetChainedProxy(nullptr);
}

struct RefusalCase {
  const char* Name;
  RealProxyKind Kind;
  TSocksVersion Version;
  bool ProxyWantsPassword;
  const char* Password;
  DataMode Mode;
  const char* Expected;
};

class RealSocksRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RealSocksRefusal, ReportsTheProxysReason) {
  const RefusalCase& c = GetParam();
  auto proxy = test::StartRealSocksProxyOrSkip(c.Kind, c.ProxyWantsPassword);
  auto server = proxy ? test::StartRealFtpServerOrSkip(test::RealServerKind::Proftpd) : nullptr;
  if (!server) {
    return;
  }
  TIdSocksInfo socks;
  PointAt(socks, *proxy, c.Version, c.Password);
  std::string failure = "none";
  try {
    auto ftp = test::LoggedInSession(*server, c.Mode, &socks);
    test::TempDir local;
    ASSERT_TRUE(test::WritePatternFile(local.File("a.bin"), 1));
    ftp->Put(local.File("a.bin"), "a.bin");
  } catch (const EIdException& E) {
    failure = E.what();
  }
  EXPECT_EQ(failure, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Proxies, RealSocksRefusal,
    ::testing::Values(RefusalCase{"DanteWrongPassword", RealProxyKind::Dante, svSocks5, true,
                                  "wrong", DataMode::Pasv, "Authentication error to socks server."},
                      RefusalCase{"DanteNoPasswordOffered", RealProxyKind::Dante, svSocks5, true,
                                  "", DataMode::Pasv, "Invalid socks authentication method."},
                      RefusalCase{"DanteSocks4WhenPasswordsAreRequired", RealProxyKind::Dante,
                                  svSocks4, true, "", DataMode::Pasv,
                                  "Request rejected or failed."},
                      RefusalCase{"MicrosocksWrongPassword", RealProxyKind::Microsocks, svSocks5,
                                  true, "wrong", DataMode::Pasv,
                                  "Authentication error to socks server."},
                      RefusalCase{"MicrosocksHasNoBind", RealProxyKind::Microsocks, svSocks5, false,
                                  "", DataMode::Port, "Command not supported."}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

} // namespace
} // namespace ftpc
