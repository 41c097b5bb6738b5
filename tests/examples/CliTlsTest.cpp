// ftpc-cli with FTPS against real servers: --tls and ftps:// round trips trusting the test
// certificate by --ca-file or --pin, --ccc and --clear-data, and a refused certificate ending
// the run with the reason before the password goes out.
#include <gtest/gtest.h>

#include "support/ProgramRun.h"
#include "support/RealFtpServers.h"
#include "support/RealFtpSession.h"
#include "support/TestProcess.h"
#include "support/TempDir.h"
#include "support/TestPattern.h"

namespace ftpc::test {
namespace {

constexpr uint64_t kFileSize = 512 * 1024 + 7;

ProgramRun Cli(std::vector<std::string> AArgs) {
  return RunProgram(BuildDir() + "/ftpc-cli", AArgs);
}

std::string UrlOf(const RealFtpServer& AServer, const char* AScheme, const std::string& APath) {
  return std::string(AScheme) + RealFtpServer::kUser + ":" + RealFtpServer::kPassword + "@" +
         AServer.Address() + ":" + std::to_string(AServer.Port()) + "/" + APath;
}

const TestCertificate& Certificate() {
  std::string error;
  const TestCertificate* certificate = SharedTestCertificate(error);
  EXPECT_NE(certificate, nullptr) << error;
  return *certificate;
}

// The certificate's SHA-256 fingerprint as "AB:CD:...", from the openssl tool.
std::string Fingerprint() {
  TempDir dir;
  RunCommand({"/usr/bin/openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in",
              Certificate().CertFile},
             dir.File("out"), std::chrono::milliseconds(10000));
  const std::string out = ReadTextFile(dir.File("out"));
  const size_t equals = out.find('=');
  return equals == std::string::npos ? "" : out.substr(equals + 1, out.find('\n') - equals - 1);
}

struct CliTlsCase {
  const char* Name;
  RealServerKind Kind;
  RealServerTls ServerTls;
  // "CA" stands for the certificate's file, "PIN" for its fingerprint.
  std::vector<std::string> Options;
};

class CliTls : public ::testing::TestWithParam<CliTlsCase> {};

TEST_P(CliTls, PutThenGetIsByteExact) {
  const CliTlsCase& param = GetParam();
  auto server = StartRealFtpServerOrSkip(param.Kind, {.Tls = param.ServerTls});
  if (!server) {
    return;
  }
  TempDir local;
  ASSERT_TRUE(WritePatternFile(local.File("up.bin"), kFileSize));
  const char* scheme = param.ServerTls == RealServerTls::Implicit ? "ftps://" : "ftp://";
  std::vector<std::string> options;
  for (const std::string& option : param.Options) {
    options.push_back(option == "PIN"  ? Fingerprint()
                      : option == "CA" ? Certificate().CertFile
                                       : option);
  }
  for (const bool upload : {true, false}) {
    std::vector<std::string> args = options;
    if (upload) {
      args.insert(args.end(), {"put", local.File("up.bin"), UrlOf(*server, scheme, "f.bin")});
    } else {
      args.insert(args.end(), {"get", UrlOf(*server, scheme, "f.bin"), local.File("down.bin")});
    }
    const ProgramRun run = Cli(args);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
  }
  EXPECT_EQ(FileChecksumText(local.File("down.bin")), PatternChecksumText(kFileSize));
}

INSTANTIATE_TEST_SUITE_P(
    RealServers, CliTls,
    ::testing::Values(
        CliTlsCase{"vsftpd_explicit", RealServerKind::Vsftpd, RealServerTls::Explicit,
                   {"--tls", "--ca-file", "CA"}},
        CliTlsCase{"vsftpd_implicit_pin", RealServerKind::Vsftpd, RealServerTls::Implicit,
                   {"--pin", "PIN"}},
        CliTlsCase{"proftpd_implicit", RealServerKind::Proftpd, RealServerTls::Implicit,
                   {"--ca-file", "CA"}},
        CliTlsCase{"proftpd_ccc", RealServerKind::Proftpd, RealServerTls::Explicit,
                   {"--tls", "--ccc", "--ca-file", "CA"}},
        CliTlsCase{"pureftpd_clear_data", RealServerKind::PureFtpd, RealServerTls::Explicit,
                   {"--tls", "--clear-data", "--insecure"}}),
    [](const ::testing::TestParamInfo<CliTlsCase>& AInfo) { return AInfo.param.Name; });

// The server logs every command: the refused run must not have sent USER or PASS.
TEST(CliTlsRefusal, EndsWithTheReasonBeforeTheLogin) {
  auto server = StartRealFtpServerOrSkip(
      RealServerKind::Vsftpd, {.Tls = RealServerTls::Explicit, .Extra = {"log_ftp_protocol=YES"}});
  if (!server) {
    return;
  }
  TempDir local;
  const ProgramRun run = Cli({"--tls", "get", UrlOf(*server, "ftp://", "f.bin"),
                              local.File("f.bin")});
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Err.find("self-signed certificate"), std::string::npos) << run.Err;
  const std::string log = ReadTextFile(server->RootDir() + "/../vsftpd.log");
  EXPECT_NE(log.find("AUTH TLS"), std::string::npos) << log;
  EXPECT_EQ(log.find("\"USER "), std::string::npos) << log;
  EXPECT_EQ(log.find("\"PASS "), std::string::npos) << log;
}

} // namespace
} // namespace ftpc::test
