// The scripted FTP server, driven by a raw socket client: what it sends, what it records, and
// how it reports a client that strays from the script.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/RawFtpClient.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestPattern.h"

namespace ftpc::test {
namespace {

using ::testing::HasSubstr;

// Parameterised cases print as their name (in test output and in ctest's test names).
template <class TCase>
  requires requires(const TCase& c) { c.Name; }
void PrintTo(const TCase& ACase, std::ostream* AOut) {
  *AOut << ACase.Name;
}

// Everything the server sends until it closes the connection.
std::string ReadAllFrom(RawFtpClient& AClient) {
  std::string data;
  EXPECT_TRUE(ReadUntilClosed(AClient.Fd(), data));
  return data;
}

FileDescriptor ConnectToPasv(RawFtpClient& AClient, const std::string& ACommand) {
  const RawReply reply = AClient.Command(ACommand);
  std::string host;
  uint16_t port = 0;
  EXPECT_EQ(reply.Code, 227);
  EXPECT_TRUE(!reply.Text.empty() && ParsePasvReply(reply.Text[0], host, port));
  std::string error;
  FileDescriptor data = ConnectTo(host, port, Millis(5000), error);
  EXPECT_TRUE(data.Valid()) << error;
  return data;
}

TEST(ScriptedFtpServer, PlaysAConversationAndRecordsEveryLine) {
  ScriptedFtpServer server;
  server.Reply("220-Welcome\n220 ready")
      .Expect("USER bob")
      .Reply("331 Password required")
      .ExpectPrefix("PASS ")
      .Reply("230 Logged in")
      .ExpectMatch("a FEAT in any case", [](const std::string& line) { return line == "feat"; })
      .Reply("211-Features:\n UTF8\n211 End")
      .ExpectClose();
  server.Start();

  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  const RawReply greeting = client.ReadReply();
  EXPECT_EQ(greeting.Code, 220);
  EXPECT_EQ(greeting.Text, (Lines{"220-Welcome", "220 ready"}));
  EXPECT_EQ(client.Command("USER bob").Code, 331);
  EXPECT_EQ(client.Command("PASS secret").Code, 230);
  EXPECT_EQ(client.Command("feat").Text, (Lines{"211-Features:", " UTF8", "211 End"}));
  client.Close();

  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.Received(), (Lines{"USER bob", "PASS secret", "feat"}));
  EXPECT_EQ(server.ControlConnections(), 1);
}

struct StrayClientCase {
  const char* Name;
  const char* Sent;  // what the client sends after the greeting ("" = it just closes)
  const char* Failure;
};

class ScriptedFtpServerStrayClient : public ::testing::TestWithParam<StrayClientCase> {};

TEST_P(ScriptedFtpServerStrayClient, IsReportedWithTheStepAndTheLine) {
  ScriptedFtpServer server;
  server.Reply("220 ready").Expect("USER bob").Reply("331 more");
  server.Start();

  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  ASSERT_EQ(client.ReadReply().Code, 220);
  ASSERT_TRUE(client.SendRaw(GetParam().Sent));
  client.Close();

  const auto result = server.Finished();
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr(GetParam().Failure));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedFtpServerStrayClient,
    ::testing::Values(
        StrayClientCase{"WrongLine", "USER alice\r\n", "step 2 Expect(\"USER bob\"): got \"USER alice\""},
        StrayClientCase{"ClosedEarly", "", "step 2 Expect(\"USER bob\"): the client closed"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ScriptedFtpServer, AnswersUnscriptedLinesSoTheClientDoesNotHang) {
  ScriptedFtpServer server;
  server.Reply("220 ready");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  ASSERT_EQ(client.ReadReply().Code, 220);
  EXPECT_EQ(client.Command("NOOP").Text, (Lines{"500 Unscripted command."}));
  EXPECT_EQ(server.Failures(), (Lines{"unscripted line after the script: \"NOOP\""}));
}

TEST(ScriptedFtpServer, ReportsAScriptThatWasNeverStarted) {
  ScriptedFtpServer server;
  server.Reply("220 ready");
  const auto result = server.Finished(Millis(0));
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr("never started"));
}

struct WireCase {
  const char* Name;
  ScriptedFtpServerOptions Options;
  bool Raw;
  const char* Script;
  const char* Wire;
};

class ScriptedFtpServerWire : public ::testing::TestWithParam<WireCase> {};

TEST_P(ScriptedFtpServerWire, SendsExactlyTheseBytes) {
  ScriptedFtpServer server(GetParam().Options);
  if (GetParam().Raw) {
    server.ReplyRaw(GetParam().Script);
  } else {
    server.Reply(GetParam().Script);
  }
  server.Close();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  EXPECT_EQ(ReadAllFrom(client), GetParam().Wire);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedFtpServerWire,
    ::testing::Values(
        WireCase{"CrLf", {}, false, "220-a\n220 b", "220-a\r\n220 b\r\n"},
        WireCase{"LfOnly", {.LineEnd = "\n"}, false, "220-a\n220 b", "220-a\n220 b\n"},
        WireCase{"RawBytes", {}, true, "22", "22"},
        WireCase{"RawKeepsLineEnds", {.LineEnd = "\n"}, true, "220 x\r\n\n", "220 x\r\n\n"},
        WireCase{"ByteAtATime", {.ReplyChunk = 1}, false, "220 hello", "220 hello\r\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ScriptedFtpServer, ByteAtATimeDeliveryArrivesInPieces) {
  ScriptedFtpServer server({.ReplyChunk = 1, .ChunkGap = std::chrono::milliseconds(2)});
  server.Reply("220 twenty bytes long").Close();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  int reads = 0;
  std::string data;
  char buffer[64];
  for (;;) {
    ASSERT_NE(WaitForEvents(client.Fd(), POLLIN, Clock::now() + Millis(5000)), 0);
    const ssize_t n = ::recv(client.Fd(), buffer, sizeof buffer, 0);
    ASSERT_GE(n, 0);
    if (n == 0) {
      break;
    }
    ++reads;
    data.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_EQ(data, "220 twenty bytes long\r\n");
  EXPECT_GT(reads, 1);
}

TEST(ScriptedFtpServer, StallHoldsTheReplyUntilReleased) {
  ScriptedFtpServer server;
  server.Mark("stalling").Stall().Reply("220 late").ExpectClose();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  ASSERT_TRUE(server.WaitForMark("stalling"));
  char byte = 0;
  EXPECT_EQ(::recv(client.Fd(), &byte, 1, MSG_DONTWAIT), -1);
  EXPECT_EQ(errno, EAGAIN);
  server.Release();
  EXPECT_EQ(client.ReadReply().Code, 220);
  client.Close();
  EXPECT_TRUE(server.Finished());
}

TEST(ScriptedFtpServer, ReleaseBeforeTheStallIsNotLost) {
  ScriptedFtpServer server;
  server.Expect("NOOP").Stall().Reply("200 ok");
  server.Release();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  EXPECT_EQ(client.Command("NOOP").Code, 200);
  EXPECT_TRUE(server.Finished());
}

TEST(ScriptedFtpServer, StallEndsWhenTheClientCloses) {
  ScriptedFtpServer server;
  server.Reply("220 ready").Stall().ExpectClose();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  ASSERT_EQ(client.ReadReply().Code, 220);
  client.Close();
  EXPECT_TRUE(server.Finished());
}

TEST(ScriptedFtpServer, ControlConnectionEndsWithFinOrReset) {
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "Reset" : "Close");
    ScriptedFtpServer server;
    server.Reply("220 ready").Expect("NOOP");
    reset ? server.Reset() : server.Close();
    server.Start();
    RawFtpClient client;
    ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
    ASSERT_EQ(client.ReadReply().Code, 220);
    ASSERT_TRUE(client.SendLine("NOOP"));
    ASSERT_TRUE(server.Finished());
    std::string rest;
    EXPECT_EQ(ReadUntilClosed(client.Fd(), rest), !reset);
  }
}

TEST(ScriptedFtpServer, ServesASecondControlConnectionAfterClose) {
  ScriptedFtpServer server;
  server.Reply("220 first").Close().Reply("220 second").ExpectClose();
  server.Start();
  for (const char* greeting : {"220 first", "220 second"}) {
    RawFtpClient client;
    ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
    EXPECT_EQ(client.ReadReply().Text, (Lines{greeting}));
  }
  EXPECT_TRUE(server.Finished());
  EXPECT_EQ(server.ControlConnections(), 2);
}

TEST(ScriptedFtpServer, ExpectCloseRejectsAnotherLine) {
  ScriptedFtpServer server;
  server.Reply("220 ready").ExpectClose();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  ASSERT_TRUE(client.SendLine("QUIT"));
  const auto result = server.Finished();
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr("got \"QUIT\" instead of a close"));
}

struct PassiveCase {
  const char* Name;
  const char* Address;
  const char* Reply;
  const char* AnnouncedHost;  // what a 227 reply names
};

class ScriptedFtpServerPassive : public ::testing::TestWithParam<PassiveCase> {};

TEST_P(ScriptedFtpServerPassive, AnnouncesItsListenerAndSendsDownloads) {
  const std::string problem = ListenProblem(GetParam().Address, 0);
  if (!problem.empty()) {
    GTEST_SKIP() << problem;
  }
  ScriptedFtpServer server({.Address = GetParam().Address});
  server.Expect("PASV").Reply(GetParam().Reply).Expect("RETR f").Reply("150 go").DataSend("hello")
      .Reply("226 done");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  const RawReply pasv = client.Command("PASV");
  ASSERT_FALSE(pasv.Text.empty());
  ASSERT_NE(server.PassivePort(), 0);
  std::string host;
  uint16_t port = 0;
  if (std::string(GetParam().Reply).rfind("227", 0) == 0) {
    ASSERT_TRUE(ParsePasvReply(pasv.Text[0], host, port)) << pasv.Text[0];
    EXPECT_EQ(host, GetParam().AnnouncedHost);
    EXPECT_EQ(port, server.PassivePort());
  } else {
    EXPECT_THAT(pasv.Text[0], HasSubstr(std::to_string(server.PassivePort())));
  }

  std::string error;
  const FileDescriptor data = ConnectTo(server.Address(), server.PassivePort(), Millis(5000), error);
  ASSERT_TRUE(data.Valid()) << error;
  EXPECT_EQ(client.Command("RETR f").Code, 150);
  std::string bytes;
  EXPECT_TRUE(ReadUntilClosed(data.Get(), bytes));
  EXPECT_EQ(bytes, "hello");
  EXPECT_EQ(client.ReadReply().Code, 226);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedFtpServerPassive,
    ::testing::Values(PassiveCase{"Pasv", "127.0.0.1", "227 Entering Passive Mode ({pasv})", "127.0.0.1"},
                      PassiveCase{"PasvForeignHost", "127.0.0.1", "227 Entering Passive Mode (10,0,0,7,{p1},{p2})",
                                  "10.0.0.7"},
                      PassiveCase{"Epsv", "127.0.0.1", "229 Extended (|||{port}|)", ""},
                      PassiveCase{"EpsvOverIPv6", "::1", "229 Extended (|||{port}|)", ""},
                      PassiveCase{"HostAndPort", "127.0.0.1", "200 at {host} port {port}", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ScriptedFtpServer, PasvPlaceholderNeedsAnIPv4Listener) {
  if (!ListenProblem("::1", 0).empty()) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
  ScriptedFtpServer server({.Address = "::1"});
  server.ReplyPasv();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  const auto result = server.Finished();
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr("{pasv} needs an IPv4 listener"));
}

TEST(ScriptedFtpServer, RecordsUploadsWithSizeAndChecksum) {
  const std::string big = PatternBytes(3 * 1024 * 1024 + 17);
  ScriptedFtpServer server;
  server.Expect("PASV").ReplyPasv().Expect("STOR a").Reply("150 go").DataReceive().Reply("226 ok")
      .Expect("PASV").ReplyPasv().Expect("STOR b").Reply("150 go").DataReceive().Reply("226 ok");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  const auto upload = [&](const std::string& ACommand, const std::string& APayload) {
    FileDescriptor data = ConnectToPasv(client, "PASV");
    EXPECT_EQ(client.Command(ACommand).Code, 150);
    std::string error;
    EXPECT_TRUE(SendAll(data.Get(), APayload.data(), APayload.size(), Millis(5000), error)) << error;
    data.Reset();
    EXPECT_EQ(client.ReadReply().Code, 226);
  };
  upload("STOR a", big);
  upload("STOR b", "");
  ASSERT_TRUE(server.Finished());
  const auto uploads = server.Uploads();
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[0].Size, big.size());
  EXPECT_EQ(uploads[0].Checksum, Checksum(big));
  EXPECT_TRUE(uploads[0].Bytes == big);
  EXPECT_TRUE(uploads[0].Ended);
  EXPECT_EQ(uploads[1].Size, 0u);
  EXPECT_EQ(server.DataConnections(), 2);
}

TEST(ScriptedFtpServer, ANewPassiveReplyDropsConnectionsOfARefusedTransfer) {
  ScriptedFtpServer server;
  server.Expect("PASV").ReplyPasv().Expect("RETR gone").Reply("450 not now")
      .Expect("PASV").ReplyPasv().Expect("RETR f").Reply("150 go").DataSend("fresh").Reply("226 ok");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  const FileDescriptor unused = ConnectToPasv(client, "PASV");
  EXPECT_EQ(client.Command("RETR gone").Code, 450);
  const FileDescriptor data = ConnectToPasv(client, "PASV");
  EXPECT_EQ(client.Command("RETR f").Code, 150);
  std::string bytes;
  EXPECT_TRUE(ReadUntilClosed(data.Get(), bytes));
  EXPECT_EQ(bytes, "fresh");
  EXPECT_EQ(client.ReadReply().Code, 226);
  EXPECT_TRUE(server.Finished());
}

TEST(ScriptedFtpServer, StreamsALargePatternInConstantMemory) {
  constexpr uint64_t kSize = 16ull * 1024 * 1024 + 5;
  ScriptedFtpServer server;
  server.Expect("PASV").ReplyPasv().Expect("RETR big").DataSendPattern(kSize).Reply("226 ok");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  const FileDescriptor data = ConnectToPasv(client, "PASV");
  ASSERT_TRUE(client.SendLine("RETR big"));
  Fnv1a64 checksum;
  uint64_t size = 0;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    ASSERT_NE(WaitForEvents(data.Get(), POLLIN, Clock::now() + Millis(10000)), 0);
    const ssize_t n = ::recv(data.Get(), buffer.data(), buffer.size(), 0);
    ASSERT_GE(n, 0);
    if (n == 0) {
      break;
    }
    checksum.Update(buffer.data(), static_cast<size_t>(n));
    size += static_cast<uint64_t>(n);
  }
  EXPECT_EQ(size, kSize);
  EXPECT_EQ(checksum.Value(), PatternChecksum(kSize));
  EXPECT_EQ(client.ReadReply().Code, 226);
  EXPECT_TRUE(server.Finished());
}

struct ActiveCase {
  const char* Name;
  const char* ListenAddress;
  std::string (*Command)(uint16_t APort);
};

class ScriptedFtpServerActive : public ::testing::TestWithParam<ActiveCase> {};

TEST_P(ScriptedFtpServerActive, ConnectsBackToTheAnnouncedAddress) {
  std::string error;
  const FileDescriptor listener = ListenOn(GetParam().ListenAddress, 0, error);
  if (!listener.Valid()) {
    GTEST_SKIP() << error;
  }
  const std::string command = GetParam().Command(LocalPort(listener.Get()));
  ScriptedFtpServer server;
  server.Expect(command).Reply("200 ok").Expect("LIST").Reply("150 here").DataSend("a\r\nb\r\n")
      .Reply("226 ok");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  EXPECT_EQ(client.Command(command).Code, 200);
  EXPECT_EQ(client.Command("LIST").Code, 150);
  ASSERT_NE(WaitForEvents(listener.Get(), POLLIN, Clock::now() + Millis(5000)), 0);
  const FileDescriptor data(::accept(listener.Get(), nullptr, nullptr));
  std::string bytes;
  EXPECT_TRUE(ReadUntilClosed(data.Get(), bytes));
  EXPECT_EQ(bytes, "a\r\nb\r\n");
  EXPECT_EQ(client.ReadReply().Code, 226);
  EXPECT_TRUE(server.Finished());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptedFtpServerActive,
    ::testing::Values(
        ActiveCase{"Port", "127.0.0.1",
                   [](uint16_t p) {
                     return "PORT 127,0,0,1," + std::to_string(p / 256) + "," + std::to_string(p % 256);
                   }},
        ActiveCase{"EprtV4", "127.0.0.1",
                   [](uint16_t p) { return "EPRT |1|127.0.0.1|" + std::to_string(p) + "|"; }},
        ActiveCase{"EprtV6", "::1", [](uint16_t p) { return "EPRT !2!::1!" + std::to_string(p) + "!"; }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ScriptedFtpServer, NeverConnectsOutsideLoopback) {
  ScriptedFtpServer server;
  server.Expect("PORT 203,0,113,9,195,80").Reply("200 ok").DataSend("x");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  EXPECT_EQ(client.Command("PORT 203,0,113,9,195,80").Code, 200);
  const auto result = server.Finished();
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr("refusing to connect outside loopback: 203.0.113.9"));
}

TEST(ScriptedFtpServer, DataStepWithoutAnnouncementFails) {
  ScriptedFtpServer server;
  server.Expect("RETR f").DataSend("x");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  ASSERT_TRUE(client.SendLine("RETR f"));
  const auto result = server.Finished();
  EXPECT_FALSE(result);
  EXPECT_THAT(result.message(), HasSubstr("no data connection was announced"));
}

TEST(ScriptedFtpServer, DataConnectionCanEndWithReset) {
  ScriptedFtpServer server;
  server.Expect("PASV").ReplyPasv().Expect("RETR f").DataSend("par", DataEnd::Keep).DataReset();
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  const FileDescriptor data = ConnectToPasv(client, "PASV");
  ASSERT_TRUE(client.SendLine("RETR f"));
  ASSERT_TRUE(server.Finished());
  std::string bytes;
  EXPECT_FALSE(ReadUntilClosed(data.Get(), bytes));
  EXPECT_EQ(errno, ECONNRESET);
}

TEST(ScriptedFtpServer, SendsUntilTheClientAbandonsTheDownload) {
  ScriptedFtpServer server;
  server.Expect("PASV").ReplyPasv().Expect("RETR f").Reply("150 go").Mark("streaming")
      .DataSendUntilClosed().Expect("ABOR").Reply("426 aborted\n226 ok");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  FileDescriptor data = ConnectToPasv(client, "PASV");
  EXPECT_EQ(client.Command("RETR f").Code, 150);
  ASSERT_TRUE(server.WaitForMark("streaming"));
  char buffer[1000];
  ASSERT_NE(WaitForEvents(data.Get(), POLLIN, Clock::now() + Millis(5000)), 0);
  ASSERT_GT(::recv(data.Get(), buffer, sizeof buffer, 0), 0);
  ASSERT_TRUE(client.SendLine("ABOR"));
  data.Reset();
  EXPECT_EQ(client.ReadReply().Code, 426);
  EXPECT_EQ(client.ReadReply().Code, 226);
  EXPECT_TRUE(server.Finished());
  ASSERT_EQ(server.DataSent().size(), 1u);
  EXPECT_GT(server.DataSent()[0], 0u);
}

TEST(ScriptedFtpServer, DataStallLastsUntilReleaseOrClientClose) {
  ScriptedFtpServer server;
  server.Expect("PASV").ReplyPasv().Mark("stalled").DataStall().DataSend("after release")
      .Expect("PASV").ReplyPasv().DataStall().Reply("426 gone");
  server.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
  FileDescriptor data = ConnectToPasv(client, "PASV");
  ASSERT_TRUE(server.WaitForMark("stalled"));
  server.Release();
  std::string bytes;
  EXPECT_TRUE(ReadUntilClosed(data.Get(), bytes));
  EXPECT_EQ(bytes, "after release");

  data = ConnectToPasv(client, "PASV");
  data.Reset();
  EXPECT_EQ(client.ReadReply().Code, 426);
  EXPECT_TRUE(server.Finished());
}

TEST(ScriptedFtpServer, PicksAFreeLoopbackAddressForAFixedPort) {
  const std::string problem = ListenProblem("127.0.0.1", 21);
  if (geteuid() != 0 && !problem.empty()) {
    GTEST_SKIP() << "binding port 21 needs root: " << problem;
  }
  ScriptedFtpServer first({.Address = "127.0.0.*", .Port = 21});
  ScriptedFtpServer second({.Address = "127.0.0.*", .Port = 21});
  EXPECT_NE(first.Address(), second.Address());
  EXPECT_EQ(first.Port(), 21);
  EXPECT_EQ(second.Port(), 21);
  first.Reply("220 on port 21");
  first.Start();
  RawFtpClient client;
  ASSERT_TRUE(client.Connect(first.Address(), 21));
  EXPECT_EQ(client.ReadReply().Code, 220);
}

TEST(ScriptedFtpServer, ListenerFailureIsAnException) {
  ScriptedFtpServer taken;
  EXPECT_THROW(ScriptedFtpServer({.Address = "127.0.0.1", .Port = taken.Port()}), std::runtime_error);
}

TEST(ScriptedFtpServer, DestructionInterruptsAWaitingStep) {
  const auto started = Clock::now();
  {
    ScriptedFtpServer server({.StepTimeout = Millis(60000)});
    server.Reply("220 ready").Expect("USER never");
    server.Start();
    RawFtpClient client;
    ASSERT_TRUE(client.Connect(server.Address(), server.Port()));
    ASSERT_EQ(client.ReadReply().Code, 220);
  }
  EXPECT_LT(Clock::now() - started, Millis(30000));
}

} // namespace
} // namespace ftpc::test
