// The real-server fixtures: each server starts on its own ports, greets, logs the test user in
// to a writable root, moves data through its passive range, and leaves no process behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

#include "support/RawFtpClient.h"
#include "support/RealFtpServers.h"
#include "support/TestProcess.h"

namespace ftpc::test {
namespace {

using namespace std::string_literals;

struct ServerCase {
  RealServerKind Kind;
  const char* Address;
};

void PrintTo(const ServerCase& ACase, std::ostream* AOut) {
  *AOut << RealServerName(ACase.Kind) << " on " << ACase.Address;
}

std::string CaseName(const ::testing::TestParamInfo<ServerCase>& AInfo) {
  std::string name = RealServerName(AInfo.param.Kind);
  name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
  return name + (std::string(AInfo.param.Address) == "::1" ? "IPv6" : "IPv4");
}

void LogIn(RawFtpClient& AClient, const RealFtpServer& AServer) {
  ASSERT_TRUE(AClient.Connect(AServer.Address(), AServer.Port())) << AClient.LastError();
  ASSERT_EQ(AClient.ReadReply().Code, 220);
  ASSERT_EQ(AClient.Command(std::string("USER ") + RealFtpServer::kUser).Code, 331);
  const RawReply pass = AClient.Command(std::string("PASS ") + RealFtpServer::kPassword);
  ASSERT_EQ(pass.Code, 230) << ::testing::PrintToString(pass.Text) << AServer.Log();
}

// Opens a passive data connection with EPSV (the one form all four servers offer on v4 and v6).
FileDescriptor OpenEpsvData(RawFtpClient& AClient, const RealFtpServer& AServer) {
  const RawReply reply = AClient.Command("EPSV");
  EXPECT_EQ(reply.Code, 229) << ::testing::PrintToString(reply.Text);
  if (reply.Code != 229) {
    return {};
  }
  const std::string& line = reply.Text[0];
  const size_t close = line.rfind("|)");
  const size_t open = line.rfind('|', close - 1);
  const auto port = static_cast<uint16_t>(std::stoi(line.substr(open + 1, close - open - 1)));
  EXPECT_GE(port, AServer.PassivePortMin());
  EXPECT_LE(port, AServer.PassivePortMax());
  std::string error;
  FileDescriptor data = ConnectTo(AServer.Address(), port, Millis(5000), error);
  EXPECT_TRUE(data.Valid()) << error;
  return data;
}

class RealFtpServerFixture : public ::testing::TestWithParam<ServerCase> {
protected:
  std::unique_ptr<RealFtpServer> StartServer(RealFtpServerOptions AOptions = {}) {
    AOptions.Address = GetParam().Address;
    return StartRealFtpServerOrSkip(GetParam().Kind, std::move(AOptions));
  }
};

TEST_P(RealFtpServerFixture, LogsInTheTestUserAndStopsEverySession) {
  auto server = StartServer();
  if (!server) {
    return;
  }
  RawFtpClient client;
  LogIn(client, *server);
  const RawReply pwd = client.Command("PWD");
  EXPECT_EQ(pwd.Code, 257);
  EXPECT_THAT(pwd.Text[0], ::testing::HasSubstr("\"/\""));

  // Stopped while the session is still logged in: the hard case for vsftpd and pure-ftpd.
  const std::vector<pid_t> processes = server->Processes();
  ASSERT_FALSE(processes.empty());
  EXPECT_TRUE(server->Stop());
  for (const pid_t pid : processes) {
    EXPECT_FALSE(ProcessAlive(pid)) << "process " << pid << " outlived " << RealServerName(GetParam().Kind);
  }
  EXPECT_TRUE(client.WaitForClose());
}

TEST_P(RealFtpServerFixture, MovesFilesThroughThePassiveRangeInAWritableRoot) {
  auto server = StartServer();
  if (!server) {
    return;
  }
  ASSERT_TRUE(WriteTextFile(server->RootDir() + "/hello.txt", "hello from the fixture\n"));
  RawFtpClient client;
  LogIn(client, *server);
  ASSERT_EQ(client.Command("TYPE I").Code, 200);

  FileDescriptor data = OpenEpsvData(client, *server);
  ASSERT_TRUE(data.Valid());
  // 125 when the data connection is already open (pyftpdlib), 150 otherwise.
  EXPECT_THAT(client.Command("RETR hello.txt").Code, ::testing::AnyOf(125, 150));
  std::string download;
  EXPECT_TRUE(ReadUntilClosed(data.Get(), download));
  data.Reset();
  EXPECT_EQ(download, "hello from the fixture\n");
  EXPECT_EQ(client.ReadReply().Code, 226);

  data = OpenEpsvData(client, *server);
  ASSERT_TRUE(data.Valid());
  const RawReply stor = client.Command("STOR upload.bin");
  EXPECT_THAT(stor.Code, ::testing::AnyOf(125, 150));
  std::string error;
  const std::string payload = "uploaded\r\nbytes\0with nul"s;
  ASSERT_TRUE(SendAll(data.Get(), payload.data(), payload.size(), Millis(5000), error)) << error;
  data.Reset();
  EXPECT_EQ(client.ReadReply().Code, 226);
  EXPECT_EQ(ReadTextFile(server->RootDir() + "/upload.bin"), payload);
}

TEST_P(RealFtpServerFixture, OffersExplicitTlsWhenAsked) {
  auto server = StartServer({.Tls = RealServerTls::Explicit});
  if (!server) {
    return;
  }
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server->Address(), server->Port()));
  ASSERT_EQ(client.ReadReply().Code, 220);
  EXPECT_EQ(client.Command("AUTH TLS").Code, 234) << server->Log();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, RealFtpServerFixture,
    ::testing::Values(ServerCase{RealServerKind::Vsftpd, "127.0.0.1"},
                      ServerCase{RealServerKind::Vsftpd, "::1"},
                      ServerCase{RealServerKind::Proftpd, "127.0.0.1"},
                      ServerCase{RealServerKind::Proftpd, "::1"},
                      ServerCase{RealServerKind::PureFtpd, "127.0.0.1"},
                      ServerCase{RealServerKind::PureFtpd, "::1"},
                      ServerCase{RealServerKind::Pyftpdlib, "127.0.0.1"},
                      ServerCase{RealServerKind::Pyftpdlib, "::1"}),
    CaseName);

TEST(RealFtpServers, InstancesOfOneKindRunSideBySide) {
  auto first = StartRealFtpServerOrSkip(RealServerKind::PureFtpd);
  if (!first) {
    return;
  }
  auto second = StartRealFtpServerOrSkip(RealServerKind::PureFtpd);
  ASSERT_TRUE(second);
  EXPECT_NE(first->Port(), second->Port());
  EXPECT_NE(first->RootDir(), second->RootDir());
  EXPECT_TRUE(first->PassivePortMax() < second->PassivePortMin() ||
              second->PassivePortMax() < first->PassivePortMin());
}

TEST(RealFtpServers, AMissingServerIsReportedWithTheInstallCommand) {
  if (::access("/usr/sbin/vsftpd", X_OK) == 0) {
    GTEST_SKIP() << "vsftpd is installed system-wide";
  }
  const char* old = std::getenv("FTPC_TEST_SERVERS_PREFIX");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("FTPC_TEST_SERVERS_PREFIX", "/nonexistent", 1);
  const std::string problem = RealServerUnavailable(RealServerKind::Vsftpd);
  old != nullptr ? ::setenv("FTPC_TEST_SERVERS_PREFIX", saved.c_str(), 1)
                 : ::unsetenv("FTPC_TEST_SERVERS_PREFIX");
  EXPECT_EQ(problem, "vsftpd is not installed (run scripts/install-deps.sh as root)");
}

} // namespace
} // namespace ftpc::test
