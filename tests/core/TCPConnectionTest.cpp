// The command exchange of TIdTCPConnection against a raw loopback peer: accepted codes,
// multi-line replies, blank lines, greetings, refused command lines, disconnecting, and the
// handler/intercept assignment rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ConnectedPair.h"
#include "core/IdIOHandlerStack.h"
#include "core/IdIntercept.h"
#include "core/IdReplyFTP.h"
#include "core/IdReplyRFC.h"
#include "base/IdResourceStrings.h"
#include "core/IdTCPClient.h"

namespace ftpc {
namespace {

using test::TLoopbackListener;
using test::TPeerConnection;

// A client that reads FTP replies, as the FTP session does.
class TFTPReplyClient : public TIdTCPClient {
public:
  TFTPReplyClient() : TIdTCPClient(nullptr, TIdReplyFTP::ReplyClass()) {}
};

using TFTPPair = test::TConnectedPair<TFTPReplyClient>;

std::string LineReceived(TPeerConnection& APeer) {
  std::string line;
  EXPECT_TRUE(APeer.ReadLine(line));
  return line;
}

struct TSendCmdCase {
  const char* Name;
  std::string Reply;
  TIdReplyCodes Accepted;
  int16_t ExpectedCode; // 0: the reply error is expected
  std::vector<std::string> ExpectedText;
};

class SendCmdTest : public ::testing::TestWithParam<TSendCmdCase> {};

TEST_P(SendCmdTest, ChecksTheReplyCodeAgainstTheAcceptedList) {
  const TSendCmdCase& c = GetParam();
  TFTPPair pair;
  ASSERT_TRUE(pair.Peer.Send(c.Reply));
  if (c.ExpectedCode != 0) {
    EXPECT_EQ(pair.Client.SendCmd("CMD arg", c.Accepted), c.ExpectedCode);
  } else {
    try {
      pair.Client.SendCmd("CMD arg", c.Accepted);
      FAIL() << "no reply error";
    } catch (const EIdReplyRFCError& E) {
      EXPECT_EQ(E.ErrorCode(), pair.Client.LastCmdResult().NumericCode());
      std::string message;
      for (const std::string& line : c.ExpectedText) {
        message += line + "\r\n";
      }
      EXPECT_EQ(std::string(E.what()), message);
    }
  }
  EXPECT_EQ(pair.Client.LastCmdResult().Text(), c.ExpectedText);
  EXPECT_EQ(LineReceived(pair.Peer), "CMD arg");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SendCmdTest,
    ::testing::Values(
        TSendCmdCase{"AnyCode", "200 OK\r\n", {}, 200, {"OK"}},
        TSendCmdCase{"SecondOfTwo", "250 done\r\n", {226, 250}, 250, {"done"}},
        TSendCmdCase{"Rejected", "550 no such file\r\n", {226, 250}, 0, {"no such file"}},
        TSendCmdCase{"MultiLine", "220-Welcome\r\n220-second\r\n220 last\r\n", {220}, 220,
                     {"Welcome", "second", "last"}},
        TSendCmdCase{"BlankLinesSkipped", "220-a\r\n\r\n   \r\n\t\r\n220 b\r\n", {220}, 220,
                     {"a", "b"}},
        TSendCmdCase{"LFOnly", "211-x\n211 y\n", {211}, 211, {"x", "y"}},
        TSendCmdCase{"RejectedMultiLine", "451-a\r\n451 b\r\n", {200}, 0, {"a", "b"}}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(CommandExchangeTest, NegativeAcceptedCodeTakesAnyReply) {
  TFTPPair pair;
  ASSERT_TRUE(pair.Peer.Send("599 odd\r\n"));
  EXPECT_EQ(pair.Client.SendCmd("NOOP"), 599);
  ASSERT_TRUE(pair.Peer.Send("421 bye\r\n"));
  EXPECT_EQ(pair.Client.SendCmd("NOOP", int16_t(-7)), 421);
}

TEST(CommandExchangeTest, EarlyEndLineCutsTheReplyAndTheRestIsTheNextReply) {
  TFTPPair pair;
  // The middle line looks like an end line once the reader has trimmed its indentation.
  ASSERT_TRUE(pair.Peer.Send("211-Status\r\n 123 inner\r\n211 End\r\n"));
  EXPECT_EQ(pair.Client.SendCmd("STAT", {211}), 211);
  EXPECT_EQ(pair.Client.LastCmdResult().Text(), (std::vector<std::string>{"Status", "123 inner"}));
  EXPECT_EQ(pair.Client.GetResponse({211}), 211);
  EXPECT_EQ(pair.Client.LastCmdResult().Text(), std::vector<std::string>{"End"});
}

TEST(CommandExchangeTest, TextFormComparesCodesIgnoringCase) {
  TFTPPair pair;
  ASSERT_TRUE(pair.Peer.Send("250 a\r\n250 b\r\n250 c\r\n"));
  EXPECT_EQ(pair.Client.SendCmd("A", std::string("250")), "250");
  EXPECT_EQ(pair.Client.SendCmd("B", std::string("")), "250");
  EXPECT_THROW(pair.Client.SendCmd("C", std::string("226")), EIdReplyRFCError);
  EXPECT_EQ(pair.Client.CheckResponse(std::string("abc"), std::string("ABC")), "abc");
}

TEST(CommandExchangeTest, RaisingAnotherExceptionClassCarriesTheReplyText) {
  TFTPPair pair;
  ASSERT_TRUE(pair.Peer.Send("530-Not\r\n530 logged in\r\n"));
  pair.Client.GetResponse();
  try {
    pair.Client.RaiseExceptionForLastCmdResult(&RaiseAs<EIdConnectException>);
    FAIL() << "nothing raised";
  } catch (const EIdConnectException& E) {
    EXPECT_EQ(std::string(E.what()), "Not\r\nlogged in\r\n");
  }
}

TEST(CommandExchangeTest, GreetingIsCopiedFromAReply) {
  TFTPPair pair;
  ASSERT_TRUE(pair.Peer.Send("220-Service\r\n220 ready\r\n"));
  pair.Client.GetResponse({220});
  pair.Client.SetGreeting(pair.Client.LastCmdResult());
  ASSERT_TRUE(pair.Peer.Send("200 next\r\n"));
  pair.Client.SendCmd("NOOP", 200);
  EXPECT_EQ(pair.Client.Greeting().Code(), "220");
  EXPECT_EQ(pair.Client.Greeting().Text(), (std::vector<std::string>{"Service", "ready"}));
  EXPECT_EQ(pair.Client.LastCmdResult().Code(), "200");
}

TEST(CommandExchangeTest, InvalidReplyCodeRaisesAfterConsumingTheReply) {
  TFTPPair pair;
  ASSERT_TRUE(pair.Peer.Send("Hello there\r\n200 ok\r\n220 next\r\n"));
  try {
    pair.Client.GetResponse();
    FAIL() << "no error";
  } catch (const EIdException& E) {
    EXPECT_EQ(std::string(E.what()), "Reply Code is not valid: Hell");
  }
  EXPECT_EQ(pair.Client.GetResponse(220), 220);
}

TEST(CommandExchangeTest, PeerCloseInsideAReplyKeepsThePreviousReply) {
  TFTPPair pair;
  ASSERT_TRUE(pair.Peer.Send("200 first\r\n"));
  pair.Client.GetResponse(200);
  ASSERT_TRUE(pair.Peer.Send("226-partial\r\n"));
  pair.Peer.Close();
  EXPECT_THROW(pair.Client.GetResponse(), EIdConnClosedGracefully);
  EXPECT_EQ(pair.Client.LastCmdResult().Code(), "200");
  EXPECT_EQ(pair.Client.LastCmdResult().Text(), std::vector<std::string>{"first"});
}

TEST(CommandExchangeTest, ReadTimeoutInsideAReplyRaisesTheReadersError) {
  TFTPPair pair;
  pair.Client.SetReadTimeout(50);
  ASSERT_TRUE(pair.Peer.Send("226-partial\r\n"));
  EXPECT_THROW(pair.Client.GetResponse(), EIdReadTimeout);
  EXPECT_EQ(pair.Client.LastCmdResult().Code(), "");
}

// A listing of 10^5 lines is one reply; a reply that never ends is refused once it reaches the
// line bound, not read until memory runs out.
TEST(ReplyBoundsTest, LargeListingIsReadEndlessReplyIsRefused) {
  TFTPPair pair;
  pair.Client.SetReadTimeout(2000);
  std::thread feeder([&pair] {
    std::string listing;
    for (int i = 0; i < 100000; ++i) {
      listing += "-rw-r--r--   1 ftp ftp   1234 Jan 01 12:00 file" + std::to_string(i) + "\r\n";
    }
    EXPECT_TRUE(pair.Peer.Send("213-Status follows:\r\n" + listing + "213 End\r\n"));
    std::string endless;
    for (size_t i = 0; i < IdMaxReplyLines; ++i) {
      endless += "220-x\r\n";
    }
    EXPECT_TRUE(pair.Peer.Send(endless));
  });
  EXPECT_EQ(pair.Client.GetResponse(213), 213);
  EXPECT_EQ(pair.Client.LastCmdResult().Text().size(), 100002u);
  EXPECT_THROW(pair.Client.GetResponse(), EIdReplyTooLarge);
  feeder.join();
}

// A server dripping lines, each within the read time-out, must not hold the reader for ever:
// blank lines do not restart the line's time-out, and the whole reply has a time of its own.
class ReplyDripTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ReplyDripTest, RunsOutOfTime) {
  TFTPPair pair;
  pair.Client.SetReadTimeout(100);
  std::atomic<bool> done{false};
  std::thread feeder([&pair, &done, line = std::string(GetParam())] {
    // Bounded: without a time limit on the reply, the reply ends after ten seconds.
    const uint32_t start = TickCountMs();
    while (!done && TickSpan(start, TickCountMs()) < 10000 && pair.Peer.Send(line)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pair.Peer.Send("220 end\r\n");
  });
  EXPECT_THROW(pair.Client.GetResponse(), EIdReadTimeout);
  done = true;
  feeder.join();
}

INSTANTIATE_TEST_SUITE_P(Lines, ReplyDripTest, ::testing::Values("\r\n", "220-x\r\n"));

TEST(CommandExchangeTest, RfcReplyClassEndsAtTheFirstShortOrSpacedLine) {
  test::TConnectedPair<TIdTCPClient> pair;
  ASSERT_TRUE(pair.Peer.Send("250-a\r\n250 b\r\n"));
  EXPECT_EQ(pair.Client.SendCmd("X", 250), 250);
  EXPECT_EQ(pair.Client.LastCmdResult().Text(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(pair.Client.LastCmdResult().ClassName(), "TIdReplyRFC");
}

// ---- Refused command lines --------------------------------------------------------------

class CommandLineBreakTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CommandLineBreakTest, RefusesTheLineAndSendsNothing) {
  TFTPPair pair;
  EXPECT_THROW(pair.Client.SendCmd(GetParam(), 200), EIdCommandLineHasLineBreak);
  EXPECT_THROW(pair.Client.SendCmd(GetParam(), std::string("200")), EIdCommandLineHasLineBreak);
  EXPECT_THROW(pair.Client.SendCmdLine(GetParam()), EIdCommandLineHasLineBreak);
  // The first line to arrive is the next command: nothing of the refused ones was sent.
  ASSERT_TRUE(pair.Peer.Send("200 ok\r\n"));
  EXPECT_EQ(pair.Client.SendCmd("NOOP", 200), 200);
  EXPECT_EQ(LineReceived(pair.Peer), "NOOP");
}

INSTANTIATE_TEST_SUITE_P(Lines, CommandLineBreakTest,
                         ::testing::Values("USER a\r\nDELE x", "RETR a\nDELE b", "CWD a\r",
                                           "\r\n", "NOOP\n"));

TEST(CommandExchangeTest, RefusalMessageComesFromTheTable) {
  TFTPPair pair;
  try {
    pair.Client.SendCmd("A\nB");
    FAIL() << "accepted";
  } catch (const EIdCommandLineHasLineBreak& E) {
    EXPECT_EQ(std::string(E.what()), RSCommandLineHasLineBreak);
  }
}

// A protocol whose hook rewrites command lines: the rewritten line is what gets checked.
class TRewritingClient : public TFTPReplyClient {
public:
  std::string Suffix;

protected:
  void PrepareCommandLine(std::string& VCommand) override { VCommand += Suffix; }
};

TEST(CommandExchangeTest, RewrittenLineIsCheckedAndSent) {
  test::TConnectedPair<TRewritingClient> pair;
  pair.Client.Suffix = " tail";
  ASSERT_TRUE(pair.Peer.Send("200 ok\r\n"));
  pair.Client.SendCmd("HEAD", 200);
  EXPECT_EQ(LineReceived(pair.Peer), "HEAD tail");
  pair.Client.Suffix = "\r\nDELE x";
  EXPECT_THROW(pair.Client.SendCmd("HEAD", 200), EIdCommandLineHasLineBreak);
}

// ---- Without a handler --------------------------------------------------------------------

TEST(CommandExchangeTest, CommandsWithoutAHandlerRaiseNotConnected) {
  TIdTCPClient client;
  EXPECT_THROW(client.SendCmd("NOOP"), EIdNotConnected);
  EXPECT_THROW(client.GetResponse(), EIdNotConnected);
  EXPECT_THROW(client.WriteHeader({"A=1"}), EIdNotConnected);
  EXPECT_THROW(client.WriteRFCStrings({"a"}), EIdNotConnected);
  EXPECT_THROW(client.CheckForGracefulDisconnect(true), EIdException);
  EXPECT_NO_THROW(client.CheckForGracefulDisconnect(false));
  EXPECT_FALSE(client.Connected());
}

// ---- Writing ------------------------------------------------------------------------------

TEST(CommandExchangeTest, WriteHeaderSendsNameValueLinesAndAnEmptyLine) {
  TFTPPair pair;
  pair.Client.WriteHeader({"A=1", "B=x=y", "C"});
  pair.Client.Disconnect();
  EXPECT_EQ(pair.Peer.ReadAll(), "A: 1\r\nB: x=y\r\nC\r\n\r\n");
  EXPECT_FALSE(pair.Client.IOHandler()->WriteBufferingActive());
}

TEST(CommandExchangeTest, WriteHeaderInsideOpenBufferingLeavesItOpen) {
  TFTPPair pair;
  pair.Client.IOHandler()->WriteBufferOpen();
  pair.Client.WriteHeader({"A=1"});
  EXPECT_TRUE(pair.Client.IOHandler()->WriteBufferingActive());
  pair.Client.IOHandler()->WriteBufferClose();
  pair.Client.Disconnect();
  EXPECT_EQ(pair.Peer.ReadAll(), "A: 1\r\n\r\n");
}

TEST(CommandExchangeTest, WriteRFCStringsStuffsDotsAndTerminates) {
  TFTPPair pair;
  pair.Client.WriteRFCStrings({".hidden", "a.b", ""});
  pair.Client.Disconnect();
  EXPECT_EQ(pair.Peer.ReadAll(), "..hidden\r\na.b\r\n\r\n.\r\n");
}

// ---- Disconnect -------------------------------------------------------------------------

// Says goodbye with a QUIT line, or fails to, as a protocol's hook may.
class TGoodbyeClient : public TFTPReplyClient {
public:
  bool FailGoodbye = false;
  int Goodbyes = 0;

protected:
  void DisconnectNotifyPeer() override {
    ++Goodbyes;
    if (FailGoodbye) {
      throw EIdException("goodbye failed");
    }
    IOHandler()->WriteLn("QUIT");
  }
};

struct TEventLog {
  std::vector<std::string> Entries;
  void Attach(TIdTCPConnection& AConnection) {
    AConnection.SetOnStatus([this](TObject*, TIdStatus, const std::string& AText) {
      Entries.push_back(AText);
    });
    AConnection.SetOnDisconnected([this](TObject*) { Entries.push_back("OnDisconnected"); });
  }
};

TEST(DisconnectTest, SaysGoodbyeClosesAndReports) {
  test::TConnectedPair<TGoodbyeClient> pair;
  TEventLog log;
  log.Attach(pair.Client);
  pair.Client.Disconnect();
  EXPECT_EQ(log.Entries,
            (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected."}));
  EXPECT_EQ(pair.Peer.ReadAll(), "QUIT\r\n");
  EXPECT_FALSE(pair.Client.Connected());
  EXPECT_NE(pair.Client.IOHandler(), nullptr); // kept for the next connect
}

TEST(DisconnectTest, WithoutNotifyingThePeerNoGoodbyeIsSent) {
  test::TConnectedPair<TGoodbyeClient> pair;
  pair.Client.Disconnect(false);
  EXPECT_EQ(pair.Client.Goodbyes, 0);
  EXPECT_EQ(pair.Peer.ReadAll(), "");
}

TEST(DisconnectTest, FailedGoodbyeStillClosesThenRaises) {
  test::TConnectedPair<TGoodbyeClient> pair;
  pair.Client.FailGoodbye = true;
  TEventLog log;
  log.Attach(pair.Client);
  EXPECT_THROW(pair.Client.Disconnect(), EIdException);
  EXPECT_EQ(log.Entries.size(), 3u);
  EXPECT_FALSE(pair.Client.IOHandler()->Opened());
  EXPECT_TRUE(pair.Peer.WaitForClose());
}

TEST(DisconnectTest, ClosedOrMissingHandlerDoesNothing) {
  test::TConnectedPair<TGoodbyeClient> pair;
  pair.Client.Disconnect();
  TEventLog log;
  log.Attach(pair.Client);
  pair.Client.Disconnect();
  EXPECT_TRUE(log.Entries.empty());
  EXPECT_EQ(pair.Client.Goodbyes, 1);

  TGoodbyeClient unconnected;
  log.Attach(unconnected);
  unconnected.Disconnect();
  EXPECT_TRUE(log.Entries.empty());
}

TEST(DisconnectTest, HandlerWhosePeerVanishedIsStillClosed) {
  test::TConnectedPair<TGoodbyeClient> pair;
  pair.Peer.Close();
  TEventLog log;
  log.Attach(pair.Client);
  pair.Client.Disconnect();
  EXPECT_FALSE(pair.Client.IOHandler()->Opened());
  ASSERT_FALSE(log.Entries.empty());
  EXPECT_EQ(log.Entries.back(), "Disconnected.");
}

// ---- Handler and intercept assignment -----------------------------------------------------

// Reports its own destruction.
class TWatchedHandler : public TIdIOHandlerStack {
public:
  explicit TWatchedHandler(bool* ADestroyed) : FDestroyed(ADestroyed) {}
  ~TWatchedHandler() override { *FDestroyed = true; }

private:
  bool* FDestroyed;
};

TEST(IOHandlerAssignmentTest, ManagedHandlerIsDestroyedWhenReplacedBorrowedOneIsNot) {
  bool managedGone = false;
  bool borrowedGone = false;
  TIdTCPConnection connection;
  connection.SetIOHandler(new TWatchedHandler(&managedGone));
  connection.SetManagedIOHandler(true);
  auto borrowed = std::make_unique<TWatchedHandler>(&borrowedGone);
  connection.SetIOHandler(borrowed.get());
  EXPECT_TRUE(managedGone);
  EXPECT_FALSE(connection.ManagedIOHandler());
  EXPECT_EQ(connection.Socket(), borrowed.get());
  EXPECT_EQ(borrowed->WorkTarget(), &connection);
  connection.SetIOHandler(nullptr);
  EXPECT_FALSE(borrowedGone);
  EXPECT_EQ(borrowed->WorkTarget(), nullptr);
  EXPECT_EQ(connection.Socket(), nullptr);
}

TEST(IOHandlerAssignmentTest, HandlerDestroyedElsewhereIsForgotten) {
  TIdTCPConnection connection;
  auto handler = std::make_unique<TIdIOHandlerStack>();
  connection.SetIOHandler(handler.get());
  handler.reset();
  EXPECT_EQ(connection.IOHandler(), nullptr);
  EXPECT_EQ(connection.Socket(), nullptr);
  EXPECT_THROW(connection.SendCmd("NOOP"), EIdNotConnected);
}

TEST(IOHandlerAssignmentTest, ManagedHandlerGoesWithTheConnection) {
  bool gone = false;
  {
    TIdTCPConnection connection;
    connection.SetIOHandler(new TWatchedHandler(&gone));
    connection.SetManagedIOHandler(true);
  }
  EXPECT_TRUE(gone);
}

TEST(IOHandlerAssignmentTest, CreateIOHandlerMakesAManagedDefaultHandler) {
  TIdTCPConnection connection;
  connection.CreateIOHandler();
  EXPECT_TRUE(connection.ManagedIOHandler());
  EXPECT_EQ(connection.IOHandler()->ClassName(), "TIdIOHandlerStack");
  EXPECT_EQ(connection.Socket(), connection.IOHandler());
}

TEST(IOHandlerAssignmentTest, CreateIOHandlerWhileConnectedIsRefused) {
  TFTPPair pair;
  try {
    pair.Client.CreateIOHandler();
    FAIL() << "replaced";
  } catch (const EIdException& E) {
    EXPECT_EQ(std::string(E.what()), "Cannot change a connected IOHandler.");
  }
}

TEST(IOHandlerAssignmentTest, InterceptsMustAgree) {
  TIdConnectionIntercept mine;
  TIdConnectionIntercept theirs;
  TIdTCPConnection connection;
  connection.SetIntercept(&mine);
  TIdIOHandlerStack handler;
  handler.SetIntercept(&theirs);
  EXPECT_THROW(connection.SetIOHandler(&handler), EIdException);
  EXPECT_EQ(connection.IOHandler(), nullptr);

  handler.SetIntercept(nullptr);
  connection.SetIOHandler(&handler);
  EXPECT_EQ(handler.Intercept(), &mine); // the connection's intercept is handed over
  EXPECT_EQ(connection.Intercept(), &mine);
  EXPECT_THROW(connection.SetIntercept(&theirs), EIdException);
  EXPECT_EQ(connection.Intercept(), &mine);
  connection.SetIOHandler(nullptr);
}

TEST(IOHandlerAssignmentTest, DestroyedInterceptIsForgotten) {
  TIdTCPConnection connection;
  {
    TIdConnectionIntercept intercept;
    connection.SetIntercept(&intercept);
    EXPECT_EQ(connection.Intercept(), &intercept);
  }
  EXPECT_EQ(connection.Intercept(), nullptr);
}

} // namespace
} // namespace ftpc
