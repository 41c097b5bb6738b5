// TIdIOHandlerSocket and TIdIOHandlerStack: destination text, socket options, transparent
// proxy ownership, disconnect detection, and streams of any size in both directions.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ConnectedPair.h"
#include "core/IdBuffer.h"
#include "core/IdIOHandlerStack.h"
#include "core/IdTCPClient.h"
#include "global/IdStream.h"
#include "proxy/IdSocks.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStack.h"

namespace ftpc {
namespace {

using test::TLoopbackListener;
using test::TPeerConnection;

// ---- Destination text -------------------------------------------------------------------

struct TDestinationCase {
  const char* Name;
  std::string Text;
  std::string Host;
  int32_t Port;
};

class DestinationTest : public ::testing::TestWithParam<TDestinationCase> {};

TEST_P(DestinationTest, SplitsAtTheLastColon) {
  const TDestinationCase& c = GetParam();
  TIdIOHandlerStack handler;
  handler.SetDefaultPort(21);
  handler.SetHost("before");
  handler.SetPort(99);
  handler.SetDestination(c.Text);
  EXPECT_EQ(handler.Host(), c.Host);
  EXPECT_EQ(handler.Port(), c.Port);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DestinationTest,
    ::testing::Values(TDestinationCase{"HostAndPort", "ftp.example:2121", "ftp.example", 2121},
                      TDestinationCase{"LettersForPort", "ftp.example:abc", "ftp.example", 21},
                      TDestinationCase{"EmptyPort", "ftp.example:", "ftp.example", 21},
                      TDestinationCase{"TrimmedPort", "h: 2121 ", "h", 2121},
                      TDestinationCase{"NoColon", "ftp.example", "before", 99},
                      TDestinationCase{"LastColonCounts", "a:b:7", "a:b", 7}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(DestinationTest, ReadingShowsThePortOnlyWhenItDiffersFromTheDefault) {
  TIdIOHandlerStack handler;
  handler.SetDefaultPort(21);
  handler.SetHost("h");
  handler.SetPort(21);
  EXPECT_EQ(handler.Destination(), "h");
  handler.SetPort(2121);
  EXPECT_EQ(handler.Destination(), "h:2121");
  handler.SetPort(0);
  EXPECT_EQ(handler.Destination(), "h");
}

// ---- Socket options ---------------------------------------------------------------------

struct TOptionCase {
  const char* Name;
  bool UseNagle;
  TIdReuseSocket Reuse;
  int32_t NoDelay;
  bool ReuseAddress;
};

class SocketOptionTest : public ::testing::TestWithParam<TOptionCase> {};

TEST_P(SocketOptionTest, AppliedRightAfterBind) {
  const TOptionCase& c = GetParam();
  TLoopbackListener listener;
  TIdIOHandlerStack handler;
  handler.SetUseNagle(c.UseNagle);
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  client.SetReuseSocket(c.Reuse);
  int32_t noDelay = -1;
  int32_t reuse = -1;
  // The client's bind events replace the handler's, so the check goes on the client.
  client.SetOnAfterBind([&](TObject*) {
    handler.Binding()->GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, noDelay);
    handler.Binding()->GetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR, reuse);
  });
  client.Connect("127.0.0.1", listener.Port());
  EXPECT_EQ(noDelay != 0, c.NoDelay != 0);
  EXPECT_EQ(reuse != 0, c.ReuseAddress);
  client.Disconnect();
  client.SetIOHandler(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Options, SocketOptionTest,
                         ::testing::Values(TOptionCase{"Defaults", true, rsOSDependent, 0, false},
                                           TOptionCase{"NagleOff", false, rsFalse, 1, false},
                                           TOptionCase{"Reuse", true, rsTrue, 0, true}),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(SocketOptionTest, UseNagleChangesApplyToAConnectedSocket) {
  TLoopbackListener listener;
  TIdTCPClient client;
  client.Connect("127.0.0.1", listener.Port());
  client.Socket()->SetUseNagle(false);
  int32_t noDelay = 0;
  client.Socket()->Binding()->GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, noDelay);
  EXPECT_NE(noDelay, 0);
  client.Socket()->SetUseNagle(true);
  client.Socket()->Binding()->GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, noDelay);
  EXPECT_EQ(noDelay, 0);
}

// ---- Transparent proxy ownership ----------------------------------------------------------

TEST(TransparentProxyOwnershipTest, ReadingCreatesADisabledSocksProxy) {
  TIdIOHandlerStack handler;
  TIdCustomTransparentProxy* proxy = handler.TransparentProxy();
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->ClassName(), "TIdSocksInfo");
  EXPECT_FALSE(proxy->Enabled());
  EXPECT_EQ(handler.TransparentProxy(), proxy);
}

TEST(TransparentProxyOwnershipTest, OwnerlessProxyIsCopiedOwnedOneIsReferenced) {
  TIdIOHandlerStack handler;
  TIdSocksInfo given;
  given.SetHost("proxy.example");
  given.SetVersion(svSocks5);
  handler.SetTransparentProxy(&given);
  TIdCustomTransparentProxy* copy = handler.TransparentProxy();
  EXPECT_NE(copy, &given);
  EXPECT_EQ(copy->Host(), "proxy.example");
  EXPECT_TRUE(copy->Enabled());

  given.SetHost("other.example"); // the same class: the copy is updated in place
  handler.SetTransparentProxy(&given);
  EXPECT_EQ(handler.TransparentProxy(), copy);
  EXPECT_EQ(copy->Host(), "other.example");

  TIdComponent owner;
  auto* owned = new TIdSocksInfo(&owner);
  handler.SetTransparentProxy(owned);
  EXPECT_EQ(handler.TransparentProxy(), owned);
  delete owned; // destroyed elsewhere: the handler forgets it
  TIdCustomTransparentProxy* fresh = handler.TransparentProxy();
  EXPECT_NE(fresh, nullptr);
  EXPECT_FALSE(fresh->Enabled());
}

TEST(TransparentProxyOwnershipTest, NullReleasesTheCurrentProxy) {
  TIdIOHandlerStack handler;
  TIdComponent owner;
  auto* owned = new TIdSocksInfo(&owner);
  owned->SetVersion(svSocks4);
  handler.SetTransparentProxy(owned);
  handler.SetTransparentProxy(nullptr);
  EXPECT_FALSE(handler.TransparentProxy()->Enabled());
  EXPECT_EQ(owner.ComponentCount(), 1); // released, not destroyed
}

TEST(TransparentProxyOwnershipTest, EnabledProxyIsConnectedToInsteadOfTheTarget) {
  TLoopbackListener proxyListener;
  TIdTCPClient client;
  TIdSocksInfo socks;
  socks.SetHost("127.0.0.1");
  socks.SetPort(proxyListener.Port());
  socks.SetVersion(svSocks5);
  client.CreateIOHandler();
  client.Socket()->SetTransparentProxy(&socks);
  client.SetReadTimeout(100); // the listener never answers the SOCKS greeting
  // The target name is never resolved: only the proxy's address is connected to.
  EXPECT_THROW(client.Connect("target.invalid", 21), EIdSocksServerRespondError);
  EXPECT_TRUE(proxyListener.Accept().Valid());
  EXPECT_FALSE(client.Connected());
}

// ---- Disconnect detection -----------------------------------------------------------------

using TConnectedHandler = test::TConnectedPair<>;

TEST(DisconnectDetectionTest, ConnectedWhileUnreadBytesRemainAfterThePeerClosed) {
  TConnectedHandler c;
  ASSERT_TRUE(c.Peer.Send("abc"));
  c.Peer.Close();
  ASSERT_TRUE(c.Handler().Readable(5000));
  EXPECT_TRUE(c.Handler().Connected());
  EXPECT_EQ(c.Handler().ReadString(3), "abc");
  EXPECT_THROW(c.Handler().ReadByte(), EIdConnClosedGracefully);
  EXPECT_FALSE(c.Handler().Connected());
  EXPECT_FALSE(c.Client.Socket()->BindingAllocated());
}

TEST(DisconnectDetectionTest, LostConnectionReportsDisconnectedOnceAndRaises) {
  TConnectedHandler c;
  std::vector<TIdStatus> statuses;
  c.Handler().SetOnStatus(
      [&](TObject*, TIdStatus AStatus, const std::string&) { statuses.push_back(AStatus); });
  c.Peer.Close();
  EXPECT_THROW(c.Handler().ReadLn(), EIdConnClosedGracefully);
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), hsDisconnected), 1);
  EXPECT_THROW(c.Handler().CheckForDisconnect(true, false), EIdConnClosedGracefully);
  EXPECT_NO_THROW(c.Handler().CheckForDisconnect(false, false));
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), hsDisconnected), 1);
}

TEST(DisconnectDetectionTest, HandlerThatWasNeverOpenedIsNotConnected) {
  TIdIOHandlerStack handler;
  EXPECT_FALSE(handler.Connected());
  EXPECT_FALSE(handler.BindingAllocated());
  EXPECT_THROW(handler.CheckForDisconnect(true, false), EIdConnClosedGracefully);
  EXPECT_THROW(handler.Readable(0), EIdConnClosedGracefully);
}

// ---- Streams ------------------------------------------------------------------------------

TBytes Pattern(size_t ASize) {
  TBytes bytes(ASize);
  for (size_t i = 0; i < ASize; ++i) {
    bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
  }
  return bytes;
}

std::string AsString(const TBytes& ABytes) { return std::string(ABytes.begin(), ABytes.end()); }

class StreamSizeTest : public ::testing::TestWithParam<size_t> {};

TEST_P(StreamSizeTest, UploadArrivesWhole) {
  TConnectedHandler c;
  const TBytes data = Pattern(GetParam());
  std::string received;
  std::thread reader([&] { received = c.Peer.ReadAll(std::chrono::seconds(20)); });
  TMemoryStream source;
  source.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  c.Handler().Write(source, 0);
  c.Client.Disconnect();
  reader.join();
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == AsString(data));
}

TEST_P(StreamSizeTest, CountedDownloadArrivesWhole) {
  TConnectedHandler c;
  const TBytes data = Pattern(GetParam());
  std::thread writer([&] { c.Peer.Send(data.data(), data.size()); });
  TMemoryStream sink;
  c.Handler().ReadStream(sink, static_cast<int64_t>(data.size()));
  writer.join();
  EXPECT_EQ(sink.Size(), static_cast<int64_t>(data.size()));
  EXPECT_TRUE(sink.Memory() == data);
}

TEST_P(StreamSizeTest, DownloadUntilCloseArrivesWhole) {
  TConnectedHandler c;
  const TBytes data = Pattern(GetParam());
  std::thread writer([&] {
    c.Peer.Send(data.data(), data.size());
    c.Peer.Close();
  });
  TMemoryStream sink;
  c.Handler().ReadStream(sink, -1, true);
  writer.join();
  EXPECT_EQ(sink.Size(), sink.Position());
  EXPECT_TRUE(sink.Memory() == data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StreamSizeTest,
                         ::testing::Values(1, 100, 32767, 32768, 32769, 65536 * 3 + 17,
                                           (1u << 22) + 5));

// ---- Long streams: memory stays flat ------------------------------------------------------

// Produces AStreamSize pattern bytes without holding them.
class TPatternSource : public TStream {
public:
  explicit TPatternSource(int64_t ASize) : FSize(ASize) {}
  int64_t Read(void* ABuffer, int64_t ACount) override {
    const int64_t count = std::min(ACount, FSize - FPosition);
    auto* out = static_cast<uint8_t*>(ABuffer);
    for (int64_t i = 0; i < count; ++i) {
      out[i] = static_cast<uint8_t>((FPosition + i) % 251);
    }
    FPosition += count;
    return count;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    FPosition = AOrigin == soBeginning ? AOffset : AOrigin == soEnd ? FSize + AOffset
                                                                    : FPosition + AOffset;
    return FPosition;
  }
  void SetSize(int64_t) override {}

private:
  int64_t FSize;
  int64_t FPosition = 0;
};

// Checks that what is written is the pattern, and keeps nothing.
class TPatternSink : public TStream {
public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    const auto* in = static_cast<const uint8_t*>(ABuffer);
    for (int64_t i = 0; i < ACount; ++i) {
      Intact = Intact && in[i] == static_cast<uint8_t>((FPosition + i) % 251);
    }
    FPosition += ACount;
    return ACount;
  }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    if (AOrigin == soBeginning) {
      FPosition = AOffset;
    } else if (AOrigin == soCurrent) {
      FPosition += AOffset;
    }
    return FPosition;
  }
  void SetSize(int64_t) override {}
  int64_t Size() override { return FPosition; }
  bool Intact = true;

private:
  int64_t FPosition = 0;
};

// Resident memory of the process, read without allocating (the probe must not itself grow
// the heap it measures).
int64_t ResidentBytes() {
  char text[128] = {};
  const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return 0;
  }
  const ssize_t n = ::read(fd, text, sizeof(text) - 1);
  ::close(fd);
  long long pages = 0;
  long long resident = 0;
  if (n <= 0 || std::sscanf(text, "%lld %lld", &pages, &resident) != 2) {
    return 0;
  }
  return resident * sysconf(_SC_PAGESIZE);
}

constexpr int64_t kLongStream = int64_t(256) << 20;
constexpr int64_t kAllowedGrowth = int64_t(32) << 20;

TEST(LongStreamTest, MemoryStaysFlatWhileStreamingBothWays) {
  TConnectedHandler c;
  int64_t peak = 0;
  c.Client.SetOnWork([&](TObject*, TWorkMode, int64_t) { peak = std::max(peak, ResidentBytes()); });
  const int64_t start = ResidentBytes();

  int64_t drained = 0;
  std::thread drain([&] { drained = c.Peer.DrainAll(); });
  TPatternSource source(kLongStream);
  c.Handler().Write(source, 0);
  c.Client.Disconnect();
  drain.join();
  EXPECT_EQ(drained, kLongStream);

  TConnectedHandler d;
  d.Client.SetOnWork([&](TObject*, TWorkMode, int64_t) { peak = std::max(peak, ResidentBytes()); });
  std::thread feed([&] {
    TPatternSource pattern(kLongStream);
    std::vector<uint8_t> block(65536);
    int64_t n;
    while ((n = pattern.Read(block.data(), static_cast<int64_t>(block.size()))) > 0) {
      d.Peer.Send(block.data(), static_cast<size_t>(n));
    }
    d.Peer.Close();
  });
  TPatternSink sink;
  d.Handler().ReadStream(sink, -1, true);
  feed.join();

  EXPECT_EQ(sink.Size(), kLongStream);
  EXPECT_TRUE(sink.Intact);
  EXPECT_LT(peak - start, kAllowedGrowth);
}

} // namespace
} // namespace ftpc
