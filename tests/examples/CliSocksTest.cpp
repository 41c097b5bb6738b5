// ftpc-cli through a real SOCKS 5 proxy as a process: a round trip with the proxy's password,
// and a refused password ending with the proxy's reason.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/ProgramRun.h"
#include "support/RealFtpServers.h"
#include "support/RealSocksProxies.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc::test {
namespace {

constexpr uint64_t kFileSize = 256 * 1024 + 7;

struct ProxiedRun {
  std::unique_ptr<RealSocksProxy> Proxy;
  std::unique_ptr<RealFtpServer> Server;

  ProgramRun Cli(const std::string& APassword, std::vector<std::string> AArgs) const {
    AArgs.insert(AArgs.begin(),
                 {"--socks5", Proxy->Address() + ":" + std::to_string(Proxy->Port()),
                  "--proxy-user", std::string(RealSocksProxy::kUser) + ":" + APassword});
    return RunProgram(BuildDir() + "/ftpc-cli", AArgs);
  }

  std::string Url(const std::string& APath) const {
    return "ftp://" + std::string(RealFtpServer::kUser) + ":" + RealFtpServer::kPassword + "@" +
           Server->Address() + ":" + std::to_string(Server->Port()) + "/" + APath;
  }
};

class CliSocksTest : public ::testing::Test {
protected:
  void SetUp() override {
    FRun.Proxy = StartRealSocksProxyOrSkip(RealProxyKind::Microsocks, true);
    if (FRun.Proxy) {
      FRun.Server = StartRealFtpServerOrSkip(RealServerKind::Proftpd);
    }
  }

  ProxiedRun FRun;
  TempDir FDir;
};

TEST_F(CliSocksTest, RoundTripGoesThroughTheProxy) {
  if (!FRun.Server) {
    return;
  }
  const std::string original = FDir.File("original.bin");
  const std::string back = FDir.File("back.bin");
  ASSERT_TRUE(WritePatternFile(original, kFileSize));
  const ProgramRun put = FRun.Cli(RealSocksProxy::kPassword, {"put", original, FRun.Url("")});
  EXPECT_EQ(put.ExitCode, 0) << put.Err;
  const ProgramRun get =
      FRun.Cli(RealSocksProxy::kPassword, {"get", FRun.Url("original.bin"), back});
  EXPECT_EQ(get.ExitCode, 0) << get.Err;
  EXPECT_EQ(Checksum(ReadTextFile(back)), PatternChecksum(kFileSize));
  EXPECT_NE(FRun.Proxy->Log().find(std::to_string(FRun.Server->Port())), std::string::npos);
}

TEST_F(CliSocksTest, RefusedProxyPasswordEndsWithTheProxysReason) {
  if (!FRun.Server) {
    return;
  }
  const std::string local = FDir.File("never.bin");
  const ProgramRun run = FRun.Cli("wrong", {"get", FRun.Url("original.bin"), local});
  EXPECT_TRUE(run.Exited);
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(run.Err, "ftpc-cli: Authentication error to socks server.\n");
  EXPECT_FALSE(std::filesystem::exists(local));
}

} // namespace
} // namespace ftpc::test
