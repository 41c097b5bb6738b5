// Connecting and disconnecting TIdTCPClient: setting checks, failure clean-up, refused and
// unanswered connects (direct and timed), status events and ConnectAndGetAll.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPeer.h"
#include "core/IdAntiFreezeBase.h"
#include "core/IdIOHandlerStack.h"
#include "core/IdTCPClient.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStack.h"

namespace ftpc {
namespace {

using namespace std::chrono_literals;
using test::OpenDescriptorCount;
using test::TBlackHoleListener;
using test::TLoopbackListener;
using test::TPeerConnection;
using test::UnusedLoopbackPort;
using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point AStart) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - AStart).count();
}

TEST(TCPClientConnectTest, MissingHostOrPortRaisesBeforeAnyHandlerExists) {
  TIdTCPClient client;
  client.SetPort(21);
  EXPECT_THROW(client.Connect(), EIdHostRequired);
  EXPECT_EQ(client.IOHandler(), nullptr);
  client.SetHost("127.0.0.1");
  client.SetPort(0);
  EXPECT_THROW(client.Connect(), EIdPortRequired);
  EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TCPClientConnectTest, SecondConnectRaisesAlreadyConnected) {
  TLoopbackListener listener;
  TIdTCPClient client;
  client.Connect("127.0.0.1", listener.Port());
  TPeerConnection peer = listener.Accept();
  try {
    client.Connect();
    FAIL() << "connected twice";
  } catch (const EIdAlreadyConnected& E) {
    EXPECT_EQ(std::string(E.what()), "Already connected.");
  }
  EXPECT_TRUE(client.Connected());
}

TEST(TCPClientConnectTest, ReconnectsThroughTheKeptHandler) {
  TLoopbackListener listener;
  TIdTCPClient client;
  client.Connect("127.0.0.1", listener.Port());
  TIdIOHandler* handler = client.IOHandler();
  client.Disconnect();
  client.Connect();
  EXPECT_EQ(client.IOHandler(), handler);
  TPeerConnection first = listener.Accept();
  TPeerConnection second = listener.Accept();
  EXPECT_TRUE(first.WaitForClose());
  ASSERT_TRUE(second.Send("hi\r\n"));
  EXPECT_EQ(client.IOHandler()->ReadLn(), "hi");
}

// A refused connect must be reported as the refusal, promptly, whether it runs directly or
// on the connect thread.
class RefusedConnectTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(RefusedConnectTest, RaisesTheRefusalAndLeavesNoHandler) {
  TIdTCPClient client;
  client.SetConnectTimeout(GetParam());
  client.SetHost("127.0.0.1");
  client.SetPort(UnusedLoopbackPort());
  const int descriptors = OpenDescriptorCount();
  try {
    client.Connect();
    FAIL() << "connected";
  } catch (const EIdConnectTimeout&) {
    FAIL() << "reported as a time-out";
  } catch (const EIdSocketError& E) {
    EXPECT_EQ(E.LastError(), Id_WSAECONNREFUSED);
  }
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, RefusedConnectTest, ::testing::Values(0, 1000, -1));

TEST(TCPClientConnectTest, UnansweredConnectTimesOutAndLeavesNoOpenSocket) {
  TBlackHoleListener blackHole;
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(blackHole.Port());
  client.SetConnectTimeout(300);
  const int descriptors = OpenDescriptorCount();
  const auto start = Clock::now();
  try {
    client.Connect();
    FAIL() << "connected";
  } catch (const EIdConnectTimeout& E) {
    EXPECT_EQ(std::string(E.what()), "Connect timed out.");
  }
  const int64_t elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 290);
  EXPECT_LT(elapsed, 5000);
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(TCPClientConnectTest, TimeoutWithOwnHandlerKeepsItClosed) {
  TBlackHoleListener blackHole;
  TIdIOHandlerStack handler;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetConnectTimeout(130);
  EXPECT_THROW(client.Connect("127.0.0.1", blackHole.Port()), EIdConnectTimeout);
  EXPECT_EQ(client.IOHandler(), &handler);
  EXPECT_FALSE(handler.Opened());
  EXPECT_FALSE(handler.BindingAllocated());
  client.SetIOHandler(nullptr);
}

TEST(TCPClientConnectTest, FailedConnectWithOwnHandlerKeepsItClosed) {
  TIdIOHandlerStack handler;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  EXPECT_THROW(client.Connect("127.0.0.1", UnusedLoopbackPort()), EIdSocketError);
  EXPECT_EQ(client.IOHandler(), &handler);
  EXPECT_FALSE(handler.Opened());
  client.SetIOHandler(nullptr);
}

TEST(TCPClientConnectTest, ReportsResolvingConnectingAndConnected) {
  TLoopbackListener listener;
  TIdTCPClient client;
  std::vector<std::pair<TIdStatus, std::string>> statuses;
  client.SetOnStatus([&](TObject*, TIdStatus AStatus, const std::string& AText) {
    statuses.emplace_back(AStatus, AText);
  });
  bool connectedFired = false;
  client.SetOnConnected([&](TObject* ASender) { connectedFired = ASender == &client; });
  client.Connect("localhost", listener.Port());
  const std::vector<std::pair<TIdStatus, std::string>> expected{
      {hsResolving, "Resolving hostname localhost."},
      {hsConnecting, "Connecting to 127.0.0.1."},
      {hsConnected, "Connected."}};
  EXPECT_EQ(statuses, expected);
  EXPECT_TRUE(connectedFired);
}

TEST(TCPClientConnectTest, ConnectsOverIPv6ToAnAddressLiteralWithoutResolving) {
  TLoopbackListener listener(8, true);
  TIdTCPClient client;
  client.SetIPVersion(Id_IPv6);
  std::vector<TIdStatus> statuses;
  client.SetOnStatus([&](TObject*, TIdStatus AStatus, const std::string&) {
    statuses.push_back(AStatus);
  });
  client.Connect("::1", listener.Port());
  TPeerConnection peer = listener.Accept();
  ASSERT_TRUE(peer.Send("six\n"));
  EXPECT_EQ(client.IOHandler()->ReadLn(), "six");
  EXPECT_EQ(client.Socket()->Binding()->IPVersion(), Id_IPv6);
  EXPECT_EQ(statuses, (std::vector<TIdStatus>{hsConnecting, hsConnected}));
}

TEST(TCPClientConnectTest, TimedConnectSucceedsAndBindsThePeer) {
  TLoopbackListener listener;
  TIdTCPClient client;
  client.SetConnectTimeout(2000);
  client.Connect("127.0.0.1", listener.Port());
  TPeerConnection peer = listener.Accept();
  ASSERT_TRUE(peer.Valid());
  EXPECT_EQ(client.Socket()->Binding()->PeerPort(), listener.Port());
  EXPECT_EQ(client.Socket()->Binding()->PeerIP(), "127.0.0.1");
  ASSERT_TRUE(peer.Send("x\n"));
  EXPECT_EQ(client.IOHandler()->ReadLn(), "x");
}

// ---- Idle processing ---------------------------------------------------------------------

// Idle processing whose Process runs a test's step.
class TSteppingAntiFreeze : public TIdAntiFreezeBase {
public:
  explicit TSteppingAntiFreeze(std::function<void()> AStep) : FStep(std::move(AStep)) {}
  void Process() override { FStep(); }

private:
  std::function<void()> FStep;
};

// An idle time-out of 0 must not stop the connect time-out from counting down. Should it, the
// listener goes away after three seconds and the connect ends refused, failing the test.
TEST(TCPClientIdleTest, ConnectTimesOutWithAZeroIdleTimeOut) {
  std::optional<TBlackHoleListener> blackHole(std::in_place);
  const auto start = Clock::now();
  TSteppingAntiFreeze antiFreeze([&] {
    if (blackHole && MillisecondsSince(start) > 3000) {
      blackHole.reset();
    }
  });
  antiFreeze.SetIdleTimeOut(0);
  TIdTCPClient client;
  client.SetConnectTimeout(200);
  EXPECT_THROW(client.Connect("127.0.0.1", blackHole->Port()), EIdConnectTimeout);
}

// A read without a time limit still waits in slices, so the host's processing runs; here it
// is what sends the awaited line. Should it never run, a late line comes after five seconds.
TEST(TCPClientIdleTest, ReadWithoutLimitRunsIdleProcessing) {
  TLoopbackListener listener;
  TIdTCPClient client;
  client.Connect("127.0.0.1", listener.Port());
  TPeerConnection peer = listener.Accept();
  TSteppingAntiFreeze antiFreeze([&peer, sent = false]() mutable {
    if (!sent) {
      sent = peer.Send("from idle\r\n");
    }
  });
  antiFreeze.SetIdleTimeOut(10);
  std::promise<void> readDone;
  std::thread rescue([&peer, done = readDone.get_future()] {
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      peer.Send("late\r\n");
    }
  });
  const std::string line = client.IOHandler()->ReadLn();
  readDone.set_value();
  rescue.join();
  EXPECT_EQ(line, "from idle");
}

TEST(TCPClientConnectTest, ConnectAndGetAllReturnsEverythingUntilTheServerCloses) {
  TLoopbackListener listener;
  TPeerConnection peer;
  std::thread server([&] {
    peer = listener.Accept();
    peer.Send("line one\r\nline two");
    peer.Close();
  });
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(listener.Port());
  EXPECT_EQ(client.ConnectAndGetAll(), "line one\r\nline two");
  server.join();
  EXPECT_FALSE(client.Connected());
}

// ---- Settings ---------------------------------------------------------------------------

TEST(TCPClientSettingsTest, DefaultsWithoutAHandler) {
  TIdTCPClient client;
  EXPECT_EQ(client.ReadTimeout(), -1);
  EXPECT_EQ(client.ConnectTimeout(), 0);
  EXPECT_EQ(client.IPVersion(), Id_IPv4);
  EXPECT_EQ(client.ReuseSocket(), rsOSDependent);
  EXPECT_EQ(client.Port(), 0);
}

TEST(TCPClientSettingsTest, SettingsReachTheHandlerWhenAssignedAndWhenChanged) {
  TIdTCPClient client;
  client.SetHost("h1");
  client.SetPort(2121);
  client.SetReadTimeout(700);
  client.SetBoundPortMin(5000);
  client.SetReuseSocket(rsTrue);
  TIdIOHandlerStack handler;
  client.SetIOHandler(&handler);
  EXPECT_EQ(handler.Host(), "h1");
  EXPECT_EQ(handler.Port(), 2121);
  EXPECT_EQ(handler.ReadTimeout(), 700);
  EXPECT_EQ(handler.BoundPortMin(), 5000);
  EXPECT_EQ(handler.ReuseSocket(), rsTrue);

  client.SetHost("h2");
  client.SetConnectTimeout(900);
  client.SetIPVersion(Id_IPv6);
  client.SetBoundIP("::1");
  EXPECT_EQ(handler.Host(), "h2");
  EXPECT_EQ(handler.ConnectTimeout(), 900);
  EXPECT_EQ(handler.IPVersion(), Id_IPv6);
  EXPECT_EQ(handler.BoundIP(), "::1");
  handler.SetReadTimeout(50);
  EXPECT_EQ(client.ReadTimeout(), 50); // read from the handler
  client.SetIOHandler(nullptr);
}

TEST(TCPClientSettingsTest, ClientValuesWinOverTheHandlersAtConnect) {
  TLoopbackListener listener;
  TIdIOHandlerStack handler;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost("127.0.0.1");
  client.SetPort(listener.Port());
  client.SetBoundIP("127.0.0.1");
  handler.SetHost("192.0.2.1"); // overwritten by the client's host at connect
  handler.SetBoundIP("192.0.2.1");
  client.Connect();
  EXPECT_EQ(handler.Binding()->PeerPort(), listener.Port());
  EXPECT_EQ(handler.Binding()->IP(), "127.0.0.1");
  client.Disconnect();
  client.SetIOHandler(nullptr);
}

TEST(TCPClientSettingsTest, DestinationIsHandedToTheHandlerBeforeHostAndPort) {
  TLoopbackListener listener;
  TIdTCPClient client;
  client.SetDestination("127.0.0.1:1");
  client.Connect("127.0.0.1", listener.Port()); // host and port written after win
  EXPECT_EQ(client.Socket()->Binding()->PeerPort(), listener.Port());
}

TEST(TCPClientSettingsTest, BindEventsFireInOrder) {
  TLoopbackListener listener;
  TIdTCPClient client;
  std::vector<std::string> events;
  client.SetOnBeforeBind([&](TObject*) { events.push_back("before"); });
  client.SetOnSocketAllocated([&](TObject*) { events.push_back("allocated"); });
  client.SetOnAfterBind([&](TObject*) { events.push_back("after"); });
  client.Connect("127.0.0.1", listener.Port());
  EXPECT_EQ(events, (std::vector<std::string>{"before", "allocated", "after"}));
}

} // namespace
} // namespace ftpc
