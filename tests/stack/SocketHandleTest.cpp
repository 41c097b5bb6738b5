#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <fstream>
#include <random>
#include <thread>

#include "StackTestSupport.h"
#include "core/IdAntiFreezeBase.h"
#include "base/IdExceptionCore.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStackPosix.h"

namespace ftpc {
namespace {

using testing::kLoopbacks;
using testing::LoopbackCase;
using testing::ScopedFd;
using testing::WaitUntil;

// ---- Helpers ---------------------------------------------------------------------------------

// A listening IPv4 loopback socket on APort, or an empty ScopedFd when the port is taken.
std::unique_ptr<ScopedFd> ListenOnLoopback(TIdPort APort) {
  auto fd = std::make_unique<ScopedFd>(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(APort);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd->Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(fd->Get(), 1) != 0) {
    return nullptr;
  }
  return fd;
}

// Finds ACount consecutive free loopback ports and keeps them busy while it lives.
class BusyPorts {
public:
  explicit BusyPorts(int ACount) {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> base(20000, 60000);
    for (int attempt = 0; attempt < 100 && FHeld.empty(); ++attempt) {
      FFirst = static_cast<TIdPort>(base(random));
      for (int i = 0; i < ACount; ++i) {
        auto fd = ListenOnLoopback(static_cast<TIdPort>(FFirst + i));
        if (!fd) {
          FHeld.clear();
          break;
        }
        FHeld.push_back(std::move(fd));
      }
    }
  }
  TIdPort First() const { return FFirst; }
  bool Found() const { return !FHeld.empty(); }
  // Frees one port for the code under test.
  void Release(int AIndex) { FHeld[static_cast<size_t>(AIndex)].reset(); }

private:
  TIdPort FFirst = 0;
  std::vector<std::unique_ptr<ScopedFd>> FHeld;
};

// A stack that records the port of every bind attempt.
std::vector<TIdPort> GBindAttempts;

class RecordingStack : public TIdStackPosix {
public:
  void Bind(TIdStackSocketHandle ASocket, const std::string& AIP, TIdPort APort,
            TIdIPVersion AIPVersion) override {
    GBindAttempts.push_back(APort);
    TIdStackPosix::Bind(ASocket, AIP, APort, AIPVersion);
  }
};

const TIdStackClass kRecordingStackClass{"RecordingStack", []() -> std::unique_ptr<TIdStack> {
                                           return std::make_unique<RecordingStack>();
                                         }};

class SocketHandleBind : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(GStack(), nullptr);
    FSaved = StackClass();
    SetStackClass(&kRecordingStackClass);
    FHandle = std::make_unique<TIdSocketHandle>();
    FHandle->SetIP("127.0.0.1");
    FHandle->AllocateSocket();
    GBindAttempts.clear();
  }
  void TearDown() override {
    FHandle.reset();
    SetStackClass(FSaved);
  }

  // Binds and returns the exception message, or "" when the bind worked.
  std::string BindMessage() {
    try {
      FHandle->Bind();
      return "";
    } catch (const EIdSocketHandleError& e) {
      return e.what();
    }
  }

  const TIdStackClass* FSaved = nullptr;
  std::unique_ptr<TIdSocketHandle> FHandle;
};

// ---- Binding ---------------------------------------------------------------------------------

TEST_F(SocketHandleBind, PortZeroWithoutRangeBindsOnceAndRecordsTheChosenPort) {
  EXPECT_EQ(BindMessage(), "");
  EXPECT_EQ(GBindAttempts, std::vector<TIdPort>{0});
  EXPECT_NE(FHandle->Port(), 0);
  EXPECT_EQ(FHandle->IP(), "127.0.0.1");
}

TEST_F(SocketHandleBind, RangeIsIgnoredUnlessPortIsZeroAndBothEndsSet) {
  FHandle->SetClientPortMin(5000);
  EXPECT_EQ(BindMessage(), "");
  EXPECT_EQ(GBindAttempts, std::vector<TIdPort>{0});

  BusyPorts busy(1);
  ASSERT_TRUE(busy.Found());
  busy.Release(0);
  FHandle->AllocateSocket();
  FHandle->SetPort(busy.First());
  FHandle->SetClientPortMin(5000);
  FHandle->SetClientPortMax(5010);
  GBindAttempts.clear();
  EXPECT_EQ(BindMessage(), "");
  EXPECT_EQ(GBindAttempts, std::vector<TIdPort>{busy.First()});
}

TEST_F(SocketHandleBind, RangeIsSearchedFromTheTop) {
  BusyPorts busy(3);
  ASSERT_TRUE(busy.Found());
  const TIdPort first = busy.First();
  busy.Release(0);
  busy.Release(1);
  FHandle->SetClientPortMin(first);
  FHandle->SetClientPortMax(static_cast<TIdPort>(first + 2));
  EXPECT_EQ(BindMessage(), "");
  EXPECT_EQ(GBindAttempts, (std::vector<TIdPort>{static_cast<TIdPort>(first + 2),
                                                 static_cast<TIdPort>(first + 1)}));
  EXPECT_EQ(FHandle->Port(), first + 1);
}

TEST_F(SocketHandleBind, BusyRangeTriesEachPortOnceAndEndsAtTheBottom) {
  BusyPorts busy(3);
  ASSERT_TRUE(busy.Found());
  const TIdPort first = busy.First();
  const auto last = static_cast<TIdPort>(first + 2);
  FHandle->SetClientPortMin(first);
  FHandle->SetClientPortMax(last);
  EXPECT_EQ(BindMessage(), FormatInvariant("Can not bind in port range (%d - %d)", {first, last}));
  EXPECT_EQ(GBindAttempts, (std::vector<TIdPort>{last, static_cast<TIdPort>(first + 1), first}));
  EXPECT_EQ(FHandle->Port(), first);
  EXPECT_TRUE(FHandle->HandleAllocated()); // the caller decides whether to close it
}

TEST_F(SocketHandleBind, InvertedRangeIsRefusedWithoutAnAttempt) {
  FHandle->SetClientPortMin(6000);
  FHandle->SetClientPortMax(5000);
  EXPECT_EQ(BindMessage(), "Invalid Port Range (6000 - 5000)");
  EXPECT_TRUE(GBindAttempts.empty());
}

TEST_F(SocketHandleBind, AnyFailedSingleBindReportsABusyAddress) {
  BusyPorts busy(1);
  ASSERT_TRUE(busy.Found());
  FHandle->SetPort(busy.First());
  EXPECT_EQ(BindMessage(), "Could not bind socket. Address and port are already in use.");
  // An address of no local interface fails for another reason, with the same message.
  FHandle->SetIP("192.0.2.1");
  FHandle->SetPort(0);
  EXPECT_EQ(BindMessage(), "Could not bind socket. Address and port are already in use.");
}

// ---- Connections over loopback ----------------------------------------------------------------

class SocketHandleLoopback : public ::testing::TestWithParam<LoopbackCase> {
protected:
  void SetUp() override {
    const LoopbackCase& loop = GetParam();
    FListener.SetIPVersion(loop.Version);
    FListener.AllocateSocket();
    FListener.SetIP(loop.Address);
    FListener.Bind();
    FListener.Listen();
    FClient.SetIPVersion(loop.Version);
    FClient.AllocateSocket();
    FClient.SetPeer(loop.Address, FListener.Port(), loop.Version);
    FClient.Connect();
    ASSERT_TRUE(FServer.Accept(FListener.Handle()));
  }

  TIdSocketHandle FListener;
  TIdSocketHandle FClient;
  TIdSocketHandle FServer;
};

TEST_P(SocketHandleLoopback, BothEndsRecordTheirBindings) {
  const LoopbackCase& loop = GetParam();
  EXPECT_NE(FListener.Port(), 0);
  EXPECT_EQ(FClient.IP(), loop.Reported);
  EXPECT_EQ(FClient.PeerIP(), loop.Reported);
  EXPECT_EQ(FClient.PeerPort(), FListener.Port());
  EXPECT_EQ(FServer.Port(), FListener.Port());
  EXPECT_EQ(FServer.PeerPort(), FClient.Port());
  EXPECT_EQ(FServer.IPVersion(), loop.Version);
}

TEST_P(SocketHandleLoopback, BytesFlowBothWays) {
  EXPECT_EQ(FClient.Send(TBytes{'U', 'S', 'E', 'R'}), 4);
  TBytes buffer(8);
  ASSERT_TRUE(FServer.Readable(5000));
  EXPECT_EQ(FServer.Receive(buffer), 4);
  EXPECT_EQ(buffer[3], 'R');
  EXPECT_EQ(FServer.Send(TBytes{'3', '3', '1'}, 1), 2);
  ASSERT_TRUE(FClient.Readable(5000));
  EXPECT_EQ(FClient.Receive(buffer), 2);
}

TEST_P(SocketHandleLoopback, ReadableTimesOutThenWakesForDataAndForClose) {
  EXPECT_FALSE(FServer.Readable(0));
  EXPECT_FALSE(FServer.Readable(30));
  std::thread writer([this] { FClient.Send(TBytes{1}); });
  EXPECT_TRUE(FServer.Readable()); // without limit
  writer.join();
  TBytes buffer(4);
  EXPECT_EQ(FServer.Receive(buffer), 1);
  FClient.CloseSocket();
  EXPECT_TRUE(FServer.Readable(5000));
  EXPECT_EQ(FServer.Receive(buffer), 0);
}

TEST_P(SocketHandleLoopback, ClosingTwiceRaisesNothingAndKeepsTheAddresses) {
  const std::string peer = FClient.PeerIP();
  FClient.CloseSocket();
  EXPECT_NO_THROW(FClient.CloseSocket());
  EXPECT_FALSE(FClient.HandleAllocated());
  EXPECT_EQ(FClient.Handle(), Id_INVALID_SOCKET);
  EXPECT_EQ(FClient.PeerIP(), peer);
  try {
    FClient.Readable(0);
    FAIL() << "no exception";
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_STREQ(e.what(), "Connection Closed Gracefully.");
  }
}

TEST_P(SocketHandleLoopback, AcceptForgetsThePreviousSocketWithoutClosingIt) {
  const TIdStackSocketHandle previous = FServer.Handle();
  FClient.CloseSocket();
  TIdSocketHandle second;
  second.SetIPVersion(GetParam().Version);
  second.AllocateSocket();
  second.SetPeer(GetParam().Address, FListener.Port(), GetParam().Version);
  second.Connect();
  ASSERT_TRUE(FServer.Accept(FListener.Handle()));
  EXPECT_NE(FServer.Handle(), previous);
  EXPECT_NE(fcntl(previous, F_GETFD), -1) << "the forgotten socket was closed";
  close(previous);
  // A failing accept raises nothing and leaves the handle without a socket.
  EXPECT_FALSE(FServer.Accept(second.Handle()));
  EXPECT_FALSE(FServer.HandleAllocated());
}

TEST_P(SocketHandleLoopback, IPVersionChangesOnlyWithoutASocket) {
  const TIdIPVersion current = GetParam().Version;
  const TIdIPVersion other = current == Id_IPv4 ? Id_IPv6 : Id_IPv4;
  EXPECT_NO_THROW(FClient.SetIPVersion(current));
  try {
    FClient.SetIPVersion(other);
    FAIL() << "no exception";
  } catch (const EIdCannotSetIPVersionWhenConnected& e) {
    EXPECT_STREQ(e.what(), "Cannot change IPVersion when connected");
  }
  FClient.CloseSocket();
  FClient.SetIPVersion(other);
  EXPECT_EQ(FClient.IPVersion(), other);
}

INSTANTIATE_TEST_SUITE_P(Loopback, SocketHandleLoopback, ::testing::ValuesIn(kLoopbacks),
                         testing::PrintLoopback);

// ---- Idle processing, datagrams, assignment -----------------------------------------------------

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
  void Process() override { ++Calls; }
  int Calls = 0;
};

TEST(SocketHandleIdle, ReadableWaitsInIdleSlicesAndProcessesAfterEach) {
  TIdSocketHandle listener;
  listener.AllocateSocket();
  listener.SetIP("127.0.0.1");
  listener.Bind();
  listener.Listen();
  CountingAntiFreeze antiFreeze;
  antiFreeze.SetIdleTimeOut(5);
  // Slices of 5, 5, 5 and 5 ms, then the remaining 2: five idle waits.
  EXPECT_FALSE(listener.Readable(22));
  EXPECT_EQ(antiFreeze.Calls, 5);
}

TEST(SocketHandleDatagram, BroadcastSendsToTheGivenAddressAndRestoresTheOption) {
  TIdSocketHandle receiver;
  receiver.AllocateSocket(Id_SOCK_DGRAM, Id_IPPROTO_UDP);
  receiver.SetIP("127.0.0.1");
  receiver.Bind();
  TIdSocketHandle sender;
  sender.AllocateSocket(Id_SOCK_DGRAM, Id_IPPROTO_UDP);
  sender.Broadcast("ping", receiver.Port(), " 127.0.0.1 ", nullptr);
  int32_t broadcast = -1;
  sender.GetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, broadcast);
  EXPECT_EQ(broadcast, 0);
  sender.SetBroadcastEnabled(true);
  sender.GetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, broadcast);
  EXPECT_NE(broadcast, 0);

  TBytes buffer(16);
  std::string from;
  TIdPort fromPort = 0;
  ASSERT_TRUE(receiver.Readable(5000));
  EXPECT_EQ(receiver.RecvFrom(buffer, from, fromPort), 4);
  EXPECT_EQ(buffer[0], 'p');
  EXPECT_EQ(from, "127.0.0.1");
}

TEST(SocketHandleAssign, CopiesTheBindingFromAnotherHandleOnly) {
  TIdSocketHandle source;
  source.SetBinding("10.0.0.1", 21, Id_IPv6);
  source.SetPeer("10.0.0.2", 2121, Id_IPv6);
  TIdSocketHandle target;
  target.Assign(source);
  EXPECT_EQ(target.IP(), "10.0.0.1");
  EXPECT_EQ(target.Port(), 21);
  EXPECT_EQ(target.PeerIP(), "10.0.0.2");
  EXPECT_EQ(target.PeerPort(), 2121);
  EXPECT_EQ(target.IPVersion(), Id_IPv6);
  try {
    target.Assign(TObject());
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TObject to a TIdSocketHandle");
  }
}

// ---- Closing under a pending connect ------------------------------------------------------------

// True while a loopback TCP socket to APort is in SYN-SENT.
bool ConnectPendingTo(TIdPort APort) {
  std::ifstream table("/proc/net/tcp");
  const std::string remote = FormatInvariant(":%.4X 02 ", {APort});
  std::string line;
  while (std::getline(table, line)) {
    if (line.find(remote) != std::string::npos) {
      return true;
    }
  }
  return false;
}

void EndPendingConnectWith(void (*AEnd)(TIdSocketHandle&), bool AStillAllocated) {
  // A listener whose queue is full drops further handshakes, so a connect stays pending.
  TIdSocketHandle listener;
  listener.AllocateSocket();
  listener.SetIP("127.0.0.1");
  listener.Bind();
  listener.Listen(0);
  TIdSocketHandle filler;
  filler.AllocateSocket();
  filler.SetPeer("127.0.0.1", listener.Port());
  filler.Connect();

  TIdSocketHandle pending;
  pending.AllocateSocket();
  pending.SetPeer("127.0.0.1", listener.Port());
  std::atomic<bool> raised{false};
  std::thread connector([&] {
    try {
      pending.Connect();
    } catch (const EIdSocketError&) {
      raised = true;
    }
  });
  // End it once the handshake is under way (or after a bound, which tests the same lock).
  WaitUntil([&] { return ConnectPendingTo(listener.Port()); }, std::chrono::seconds(2));
  AEnd(pending);
  connector.join();
  EXPECT_TRUE(raised);
  EXPECT_EQ(pending.HandleAllocated(), AStillAllocated);
  if (!AStillAllocated) {
    EXPECT_EQ(pending.Port(), 0) << "the binding was updated after the close";
  }
}

// Either way of ending a connect from another thread wakes it; only the close frees the socket.
TEST(SocketHandleConnect, CloseOrShutdownFromAnotherThreadEndsAPendingConnect) {
  struct Case {
    const char* Name;
    void (*End)(TIdSocketHandle&);
    bool StillAllocated;
  };
  const Case cases[] = {
      {"close", [](TIdSocketHandle& AHandle) { AHandle.CloseSocket(); }, false},
      {"shutdown", [](TIdSocketHandle& AHandle) { AHandle.Shutdown(Id_SD_Both); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EndPendingConnectWith(c.End, c.StillAllocated);
  }
}

TEST_P(SocketHandleLoopback, ShutdownWakesAReaderAndKeepsTheSocketUntilClosed) {
  std::thread stopper([this] { FServer.Shutdown(Id_SD_Both); });
  EXPECT_TRUE(FServer.Readable(5000));
  stopper.join();
  TBytes buffer(4);
  EXPECT_EQ(FServer.Receive(buffer), 0);
  EXPECT_TRUE(FServer.HandleAllocated());
  FServer.CloseSocket();
  EXPECT_NO_THROW(FServer.Shutdown(Id_SD_Both)) << "no socket: nothing to shut down";
}

} // namespace
} // namespace ftpc
