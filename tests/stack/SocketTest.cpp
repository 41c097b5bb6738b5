#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "StackTestSupport.h"
#include "stack/IdIPAddress.h"
#include "stack/IdStackPosix.h"

namespace ftpc {
namespace {

using testing::kLoopbacks;
using testing::LoopbackCase;
using testing::ScopedFd;

// A connected pair over loopback made with the stack's own operations.
class StackSockets : public testing::StackFixture,
                     public ::testing::WithParamInterface<LoopbackCase> {
protected:
  void SetUp() override {
    const LoopbackCase& loop = GetParam();
    FListener.Reset(Stack().NewSocketHandle(Id_SOCK_STREAM, 0, loop.Version));
    Stack().Bind(FListener.Get(), loop.Address, 0, loop.Version);
    Stack().Listen(FListener.Get(), 5);
    std::string ip;
    Stack().GetSocketName(FListener.Get(), ip, FPort);
    ASSERT_EQ(ip, loop.Reported);
    ASSERT_NE(FPort, 0);
    FClient.Reset(Stack().NewSocketHandle(Id_SOCK_STREAM, 0, loop.Version));
    Stack().Connect(FClient.Get(), loop.Address, FPort, loop.Version);
    FServer.Reset(Stack().Accept(FListener.Get(), FAcceptedIP, FAcceptedPort, FAcceptedVersion));
    ASSERT_GE(FServer.Get(), 0);
  }

  ScopedFd FListener;
  ScopedFd FClient;
  ScopedFd FServer;
  TIdPort FPort = 0;
  std::string FAcceptedIP;
  TIdPort FAcceptedPort = 0;
  TIdIPVersion FAcceptedVersion = Id_IPv4;
};

TEST_P(StackSockets, AcceptReportsThePeerAndBothEndsAgree) {
  const LoopbackCase& loop = GetParam();
  EXPECT_EQ(FAcceptedIP, loop.Reported);
  EXPECT_EQ(FAcceptedVersion, loop.Version);
  std::string ip;
  TIdPort port = 0;
  TIdIPVersion version = Id_IPv4;
  Stack().GetSocketName(FClient.Get(), ip, port, version);
  EXPECT_EQ(port, FAcceptedPort);
  EXPECT_EQ(version, loop.Version);
  Stack().GetPeerName(FClient.Get(), ip, port);
  EXPECT_EQ(ip, loop.Reported);
  EXPECT_EQ(port, FPort);
}

TEST_P(StackSockets, BytesFlowBothWaysAndCloseReadsAsZero) {
  const TBytes hello{'h', 'e', 'l', 'l', 'o', '!'};
  EXPECT_EQ(Stack().Send(FClient.Get(), hello, 1, 4), 4);
  TBytes buffer(16);
  ASSERT_EQ(Stack().Receive(FServer.Get(), buffer), 4);
  EXPECT_EQ(TBytes(buffer.begin(), buffer.begin() + 4), TBytes({'e', 'l', 'l', 'o'}));

  // A negative size sends everything from the offset.
  EXPECT_EQ(Stack().Send(FServer.Get(), hello, 2, -1), 4);
  ASSERT_EQ(Stack().Receive(FClient.Get(), buffer), 4);
  EXPECT_EQ(buffer[0], 'l');

  Stack().Disconnect(FClient.Release());
  EXPECT_EQ(Stack().Receive(FServer.Get(), buffer), 0);
}

TEST_P(StackSockets, SendPastTheEndMakesNoPlatformCall) {
  const TBytes data{1, 2, 3};
  // An invalid socket proves that nothing reaches the platform.
  EXPECT_EQ(Stack().Send(Id_INVALID_SOCKET, data, 3), 0);
  EXPECT_EQ(Stack().Send(Id_INVALID_SOCKET, data, 10, 5), 0);
  EXPECT_EQ(Stack().Send(Id_INVALID_SOCKET, data, 0, 0), 0);
  EXPECT_THROW(Stack().Send(FClient.Get(), data, -1), EIdAssertionFailure);
  TBytes empty;
  EXPECT_THROW(Stack().Receive(FServer.Get(), empty), EIdRangeError);
}

TEST_P(StackSockets, ReadinessWaitsTimeOutAndWake) {
  auto list = TIdSocketList::CreateSocketList();
  list->Add(FServer.Get());
  EXPECT_FALSE(list->SelectRead(0));
  EXPECT_FALSE(list->SelectRead(20));
  std::thread writer([this] { Stack().Send(FClient.Get(), TBytes{42}); });
  EXPECT_TRUE(list->SelectRead(IdTimeoutInfinite));
  writer.join();

  // Select keeps only the ready handles in each list.
  auto reads = TIdSocketList::CreateSocketList();
  reads->Add(FServer.Get());
  reads->Add(FClient.Get());
  auto writes = TIdSocketList::CreateSocketList();
  writes->Add(FClient.Get());
  EXPECT_TRUE(TIdSocketList::Select(reads.get(), writes.get(), nullptr, 1000));
  EXPECT_EQ(reads->Count(), 1);
  EXPECT_EQ(reads->Item(0), FServer.Get());
  EXPECT_EQ(writes->Count(), 1);

  std::unique_ptr<TIdSocketList> ready;
  list->Add(FClient.Get());
  EXPECT_TRUE(list->SelectReadList(ready, 0));
  ASSERT_NE(ready, nullptr);
  EXPECT_EQ(ready->Count(), 1);
  EXPECT_EQ(list->Count(), 2); // the waited-on list is unchanged
}

TEST_P(StackSockets, EverySocketIsClosedOnExec) {
  for (const int fd : {FListener.Get(), FClient.Get(), FServer.Get()}) {
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << fd;
  }
}

// The test process keeps SIGPIPE at its default action: an unprotected send to a closed
// peer would kill it instead of failing.
TEST_P(StackSockets, SendAfterShutdownRaisesInsteadOfSignalling) {
  ASSERT_EQ(shutdown(FClient.Get(), SHUT_WR), 0);
  try {
    Stack().Send(FClient.Get(), TBytes{1, 2, 3});
    FAIL() << "sent on a socket shut down for sending";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10058);
  }
}

TEST_P(StackSockets, SendToAResetPeerRaisesInsteadOfSignalling) {
  const linger abortive{1, 0};
  setsockopt(FServer.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
  FServer.Reset();
  // The first failure reports the reset, the next ones a broken pipe: both must raise.
  const TBytes data(4096, 'x');
  int failures = 0;
  for (int i = 0; i < 1000 && failures < 3; ++i) {
    try {
      Stack().Send(FClient.Get(), data);
    } catch (const EIdSocketError& e) {
      EXPECT_TRUE(e.LastError() == 10054 || e.LastError() == 10058) << e.LastError();
      ++failures;
    }
  }
  EXPECT_EQ(failures, 3);
}

INSTANTIATE_TEST_SUITE_P(Loopback, StackSockets, ::testing::ValuesIn(kLoopbacks),
                         testing::PrintLoopback);

using StackConnect = testing::StackFixture;

TEST_F(StackConnect, RefusedConnectRaisesConnectionRefused) {
  // A port that was just free and has no listener.
  ScopedFd probe(Stack().NewSocketHandle(Id_SOCK_STREAM, 0));
  Stack().Bind(probe.Get(), "127.0.0.1", 0);
  std::string ip;
  TIdPort port = 0;
  Stack().GetSocketName(probe.Get(), ip, port);
  probe.Reset();
  ScopedFd client(Stack().NewSocketHandle(Id_SOCK_STREAM, 0));
  try {
    Stack().Connect(client.Get(), "127.0.0.1", port);
    FAIL() << "connected to a closed port";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
  }
}

TEST_F(StackConnect, BadAddressesFailBeforeAnyPlatformCall) {
  ScopedFd socket(Stack().NewSocketHandle(Id_SOCK_STREAM, 0));
  EXPECT_THROW(Stack().Connect(socket.Get(), "127.0.0.x", 21), EIdConvertError);
  EXPECT_THROW(Stack().Connect(socket.Get(), "127.0.0.300", 21), EIdRangeError);
  EXPECT_THROW(Stack().Connect(socket.Get(), "1::2::3", 21, Id_IPv6), EIdInvalidIPv6Address);
  EXPECT_THROW(Stack().Connect(socket.Get(), "::1", 21, static_cast<TIdIPVersion>(5)),
               EIdIPVersionUnsupported);
}

TEST_F(StackConnect, DisconnectOfAClosedSocketRaisesNothing) {
  const int fd = Stack().NewSocketHandle(Id_SOCK_STREAM, 0);
  Stack().Disconnect(fd);
  EXPECT_NO_THROW(Stack().Disconnect(fd));
  EXPECT_NO_THROW(Stack().Disconnect(Id_INVALID_SOCKET));
}

TEST_F(StackConnect, WaitingOnANonSocketRaisesNotASocket) {
  auto list = TIdSocketList::CreateSocketList();
  list->Add(1 << 20); // far above any descriptor this process has open
  EXPECT_THROW(list->SelectRead(0), EIdNotASocket);
}

TEST_F(StackConnect, OptionsAreSetAndReadBack) {
  ScopedFd socket(Stack().NewSocketHandle(Id_SOCK_STREAM, 0));
  Stack().SetSocketOption(socket.Get(), Id_IPPROTO_TCP, Id_TCP_NODELAY, 1);
  int32_t value = 0;
  Stack().GetSocketOption(socket.Get(), Id_IPPROTO_TCP, Id_TCP_NODELAY, value);
  EXPECT_NE(value, 0);
  Stack().SetSocketOption(socket.Get(), Id_SOL_SOCKET, Id_SO_REUSEADDR, 1);
  Stack().GetSocketOption(socket.Get(), Id_SOL_SOCKET, Id_SO_REUSEADDR, value);
  EXPECT_NE(value, 0);
  EXPECT_THROW(Stack().SetSocketOption(Id_INVALID_SOCKET, Id_SOL_SOCKET, Id_SO_REUSEADDR, 1),
               EIdSocketError);
  EXPECT_TRUE(Stack().CheckIPVersionSupport(Id_IPv4));
}

TEST_F(StackConnect, DatagramsCarryTheirSender) {
  ScopedFd receiver(Stack().NewSocketHandle(Id_SOCK_DGRAM, 0));
  Stack().Bind(receiver.Get(), "127.0.0.1", 0);
  std::string ip;
  TIdPort port = 0;
  Stack().GetSocketName(receiver.Get(), ip, port);
  ScopedFd sender(Stack().NewSocketHandle(Id_SOCK_DGRAM, 0));
  Stack().Bind(sender.Get(), "127.0.0.1", 0);
  TIdPort senderPort = 0;
  Stack().GetSocketName(sender.Get(), ip, senderPort);
  Stack().SendTo(sender.Get(), TBytes{9, 8, 7, 6}, 1, "127.0.0.1", port);
  TBytes buffer(16);
  std::string from;
  TIdPort fromPort = 0;
  EXPECT_EQ(Stack().ReceiveFrom(receiver.Get(), buffer, from, fromPort), 3);
  EXPECT_EQ(buffer[0], 8);
  EXPECT_EQ(from, "127.0.0.1");
  EXPECT_EQ(fromPort, senderPort);
}

} // namespace
} // namespace ftpc
