// SOCKS negotiation against a scripted proxy: the exact bytes of every request form, reading
// every reply exactly, every refusal with its exception, bind/listen, the UDP relay, chains.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <vector>

#include "ScriptedSocksPeer.h"
#include "core/IdIOHandlerStack.h"
#include "proxy/IdSocks.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {
namespace {

using test::Bytes;
using test::ScriptedSocksPeer;

constexpr int32_t kReadTimeout = 5000; // a client waiting for bytes never sent fails, not hangs
const std::string kName11 = "abcdefghijk";
const std::string kTunnelByte = "T"; // what the target sends first, right after the replies

struct Settings {
  TSocksVersion Version;
  std::string User{};
  std::string Password{};
};

// A handler connected to a scripted proxy, with SOCKS settings of its own.
struct ScriptedTunnel {
  ScriptedSocksPeer Peer;
  TIdIOHandlerStack Handler;
  TIdSocksInfo Socks;

  ScriptedTunnel(const std::string& AReplies, size_t AExpected, const Settings& ASettings,
                 bool AHalfClose = false)
      : Peer(AReplies, AExpected, AHalfClose) {
    Socks.SetHost("127.0.0.1");
    Socks.SetPort(Peer.Port());
    Socks.SetVersion(ASettings.Version);
    Socks.SetUsername(ASettings.User);
    Socks.SetPassword(ASettings.Password);
    Socks.SetAuthentication(ASettings.User.empty() ? saNoAuthentication : saUsernamePassword);
    Handler.SetReadTimeout(kReadTimeout);
    Handler.SetHost("127.0.0.1");
    Handler.SetPort(Peer.Port());
    Handler.Open();
  }
};

// "Class: message" of what AAction raises, or "none".
std::string Failure(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const EIdException& E) {
    return E.ClassName() + ": " + E.what();
  }
  return "none";
}

const std::string kSocks4Granted = Bytes({0, 90, 0, 0, 0, 0, 0, 0});
const std::string kSocks5NoAuth = Bytes({5, 0});
const std::string kSocks5Bound = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0x12, 0x34});

// ---- Request forms ------------------------------------------------------------------------

struct RequestCase {
  const char* Name;
  Settings Proxy;
  std::string Host;
  std::string Replies;
  std::string Sent;
};

class SocksRequest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(SocksRequest, SendsExactBytesAndLeavesTheTunnelsBytesUnread) {
  const RequestCase& c = GetParam();
  ScriptedTunnel t(c.Replies + kTunnelByte, c.Sent.size(), c.Proxy);
  t.Socks.Connect(t.Handler, c.Host, 21);
  EXPECT_EQ(t.Peer.Received(), c.Sent);
  EXPECT_EQ(t.Handler.ReadByte(), 'T');
  EXPECT_TRUE(t.Handler.InputBufferIsEmpty());
}

const std::string kSocks5Greeting = Bytes({5, 1, 0});
const std::string kIPv6Loopback = std::string(15, '\0') + "\x01";

INSTANTIATE_TEST_SUITE_P(
    Forms, SocksRequest,
    ::testing::Values(
        RequestCase{"Socks4Address",
                    {svSocks4, "u"},
                    "127.0.0.1",
                    kSocks4Granted,
                    Bytes({4, 1, 0, 21, 127, 0, 0, 1, 'u', 0})},
        RequestCase{"Socks4ResolvesNamesItself",
                    {svSocks4},
                    "localhost",
                    kSocks4Granted,
                    Bytes({4, 1, 0, 21, 127, 0, 0, 1, 0})},
        // 22 bytes: the proxy resolves the eleven-letter name.
        RequestCase{"Socks4AName",
                    {svSocks4A, "u"},
                    kName11,
                    kSocks4Granted,
                    Bytes({4, 1, 0, 21, 0, 0, 0, 1, 'u', 0}) + kName11 + Bytes({0})},
        RequestCase{"Socks5IPv4Is10Bytes",
                    {svSocks5},
                    "127.0.0.1",
                    kSocks5NoAuth + kSocks5Bound,
                    kSocks5Greeting + Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0, 21})},
        // A name reply is read by its length byte, whatever that is.
        RequestCase{"Socks5NameIs18Bytes",
                    {svSocks5},
                    kName11,
                    kSocks5NoAuth + Bytes({5, 0, 0, 3, 11}) + kName11 + Bytes({0, 21}),
                    kSocks5Greeting + Bytes({5, 1, 0, 3, 11}) + kName11 + Bytes({0, 21})},
        RequestCase{"Socks5IPv6Is22Bytes",
                    {svSocks5},
                    "::1",
                    kSocks5NoAuth + Bytes({5, 0, 0, 4}) + kIPv6Loopback + Bytes({0, 21}),
                    kSocks5Greeting + Bytes({5, 1, 0, 4}) + kIPv6Loopback + Bytes({0, 21})},
        RequestCase{"Socks5UserAndPassword",
                    {svSocks5, "user", "secret"},
                    "127.0.0.1",
                    Bytes({5, 2, 1, 0}) + kSocks5Bound,
                    Bytes({5, 1, 2, 1, 4}) + "user" + Bytes({6}) + "secret" +
                        Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0, 21})}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// ---- Refusals and broken replies ------------------------------------------------------------

struct RefusalCase {
  std::string Name;
  Settings Proxy;
  std::string Replies;
  std::string Expected;
  bool HalfClose = false;
  std::string Host = "127.0.0.1";
};

class SocksRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SocksRefusal, RaisesItsException) {
  const RefusalCase& c = GetParam();
  ScriptedTunnel t(c.Replies, SIZE_MAX, c.Proxy, c.HalfClose);
  EXPECT_EQ(Failure([&] { t.Socks.Connect(t.Handler, c.Host, 21); }), c.Expected);
}

std::vector<RefusalCase> RefusalCases() {
  const char* notResponding = "EIdSocksServerRespondError: Socks server did not respond.";
  std::vector<RefusalCase> cases{
      {"Socks4Rejected",
       {svSocks4},
       Bytes({0, 91}),
       "EIdSocksRequestFailed: Request rejected or failed."},
      {"Socks4NoIdentd",
       {svSocks4},
       Bytes({0, 92}),
       "EIdSocksRequestServerFailed: Request rejected because SOCKS server cannot connect."},
      {"Socks4IdentMismatch",
       {svSocks4},
       Bytes({0, 93}),
       "EIdSocksRequestIdentFailed: Request rejected because the client program and identd report "
       "different user-ids."},
      {"Socks4Unknown", {svSocks4}, Bytes({0, 94}), "EIdSocksUnknownError: Unknown socks error."},
      {"Socks4ClosesMidReply", {svSocks4}, Bytes({0}), notResponding, true},
      {"Socks5NoAcceptableMethod",
       {svSocks5},
       Bytes({5, 255}),
       "EIdSocksAuthMethodError: Invalid socks authentication method."},
      {"Socks5OtherMethod",
       {svSocks5},
       Bytes({5, 2}),
       "EIdSocksAuthMethodError: Invalid socks authentication method."},
      {"Socks5PasswordRefused",
       {svSocks5, "u", "p"},
       Bytes({5, 2, 1, 1}),
       "EIdSocksAuthError: Authentication error to socks server."},
      {"Socks5UnknownAddressType",
       {svSocks5},
       kSocks5NoAuth + Bytes({5, 0, 0, 7, 0}),
       "EIdSocksServerAddressError: Address type not supported."},
      {"Socks5ClosesInGreeting", {svSocks5}, Bytes({5}), notResponding, true},
      {"Socks5ClosesInName",
       {svSocks5},
       kSocks5NoAuth + Bytes({5, 0, 0, 3, 11, 'a'}),
       notResponding,
       true},
      {"Socks5UserTooLong",
       {svSocks5, std::string(256, 'u'), "p"},
       Bytes({5, 2}),
       "EIdSocksAuthError: Authentication error to socks server."},
      {"Socks5NameTooLong",
       {svSocks5},
       kSocks5NoAuth,
       "EIdSocksServerAddressError: Address type not supported.",
       false,
       std::string(256, 'h')}};
  const std::vector<std::string> socks5Errors{
      "EIdSocksServerGeneralError: General SOCKS server failure.",
      "EIdSocksServerPermissionError: Connection not allowed by ruleset.",
      "EIdSocksServerNetUnreachableError: Network unreachable.",
      "EIdSocksServerHostUnreachableError: Host unreachable.",
      "EIdSocksServerConnectionRefusedError: Connection refused.",
      "EIdSocksServerTTLExpiredError: TTL expired.",
      "EIdSocksServerCommandError: Command not supported.",
      "EIdSocksServerAddressError: Address type not supported.",
      "EIdSocksUnknownError: Unknown socks error."};
  for (size_t code = 1; code <= socks5Errors.size(); ++code) {
    cases.push_back({"Socks5Reply" + std::to_string(code),
                     {svSocks5},
                     kSocks5NoAuth + Bytes({5, static_cast<int>(code), 0, 1, 0}),
                     socks5Errors[code - 1]});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Replies, SocksRefusal, ::testing::ValuesIn(RefusalCases()),
                         [](const auto& AInfo) { return AInfo.param.Name; });

// ---- Chains -------------------------------------------------------------------------------

TEST(SocksChainTest, FirstProxyTunnelsToTheSecondWhichTunnelsToTheTarget) {
  const std::string toSecond = kSocks5Greeting + Bytes({5, 1, 0, 3, 11}) + kName11 + Bytes({4, 56});
  const std::string toTarget = Bytes({4, 1, 0, 21, 0, 0, 0, 1, 0}) + kName11 + Bytes({0});
  ScriptedTunnel t(kSocks5NoAuth + kSocks5Bound + kSocks4Granted, toSecond.size() + toTarget.size(),
                   {svSocks5});
  TIdSocksInfo second;
  second.SetHost(kName11);
  second.SetPort(1080);
  second.SetVersion(svSocks4A);
  t.Socks.SetChainedProxy(&second);
  t.Socks.Connect(t.Handler, kName11, 21);
  EXPECT_EQ(t.Peer.Received(), toSecond + toTarget);
  t.Socks.SetChainedProxy(nullptr);
}

TEST(SocksChainTest, HandlerKeepsTheChainOfAProxyItCopies) {
  TIdSocksInfo first;
  TIdSocksInfo second;
  first.SetVersion(svSocks5);
  first.SetChainedProxy(&second);
  TIdIOHandlerStack handler;
  handler.SetTransparentProxy(&first); // ownerless: the handler keeps a copy
  ASSERT_NE(handler.TransparentProxy(), &first);
  EXPECT_EQ(handler.TransparentProxy()->ChainedProxy(), &second);
  first.SetChainedProxy(nullptr);
}

// ---- Bind and listen ----------------------------------------------------------------------

struct BindCase {
  const char* Name;
  TSocksVersion Version;
  std::string Replies;
  std::string Sent;
  std::string BoundIP;
  TIdPort BoundPort;
  std::string PeerIP;
};

class SocksBind : public ::testing::TestWithParam<BindCase> {};

// The bound address is what an FTP client announces; the second reply names the peer.
TEST_P(SocksBind, AnnouncesTheProxysAddressThenReportsThePeer) {
  const BindCase& c = GetParam();
  ScriptedSocksPeer peer(c.Replies + "D", c.Sent.size());
  TIdIOHandlerStack handler;
  handler.SetReadTimeout(kReadTimeout);
  auto& socks = dynamic_cast<TIdSocksInfo&>(*handler.TransparentProxy());
  socks.SetHost("127.0.0.1");
  socks.SetPort(peer.Port());
  socks.SetVersion(c.Version);
  socks.Bind(handler, "127.0.0.7", 2121);
  EXPECT_EQ(handler.Binding()->IP(), c.BoundIP);
  EXPECT_EQ(handler.Binding()->Port(), c.BoundPort);
  EXPECT_TRUE(socks.Enabled()); // switched on again after connecting straight to the proxy
  ASSERT_TRUE(socks.Listen(handler, kReadTimeout));
  EXPECT_EQ(handler.Binding()->PeerIP(), c.PeerIP);
  EXPECT_EQ(handler.Binding()->PeerPort(), 20);
  EXPECT_EQ(handler.ReadByte(), 'D');
  EXPECT_EQ(peer.Received(), c.Sent);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, SocksBind,
    ::testing::Values(BindCase{"Socks4", svSocks4,
                               Bytes({0, 90, 0x12, 0x34, 127, 0, 0, 3, 0, 90, 0, 20, 127, 0, 0, 9}),
                               Bytes({4, 2, 8, 0x49, 127, 0, 0, 7, 0}), "127.0.0.3", 0x1234,
                               "127.0.0.9"},
                      // An unspecified bound address stands for the proxy's own.
                      BindCase{"Socks5", svSocks5,
                               kSocks5NoAuth + Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0x12, 0x34}) +
                                   Bytes({5, 0, 0, 1, 127, 0, 0, 9, 0, 20}),
                               kSocks5Greeting + Bytes({5, 2, 0, 1, 127, 0, 0, 7, 8, 0x49}),
                               "127.0.0.1", 0x1234, "127.0.0.9"},
                      BindCase{"Socks5IPv6AndName", svSocks5,
                               kSocks5NoAuth + Bytes({5, 0, 0, 4}) + kIPv6Loopback +
                                   Bytes({0x12, 0x34}) + Bytes({5, 0, 0, 3, 9}) + "localhost" +
                                   Bytes({0, 20}),
                               kSocks5Greeting + Bytes({5, 2, 0, 1, 127, 0, 0, 7, 8, 0x49}), "::1",
                               0x1234, "127.0.0.1"}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(SocksListenTest, ReportsNothingUntilTheProxyDoes) {
  ScriptedSocksPeer peer(kSocks5NoAuth + kSocks5Bound, SIZE_MAX);
  TIdIOHandlerStack handler;
  auto& socks = dynamic_cast<TIdSocksInfo&>(*handler.TransparentProxy());
  socks.SetHost("127.0.0.1");
  socks.SetPort(peer.Port());
  socks.SetVersion(svSocks5);
  socks.Bind(handler, 0);
  EXPECT_FALSE(socks.Listen(handler, 50));
}

// ---- UDP relay ----------------------------------------------------------------------------

// A raw UDP socket on 127.0.0.1 playing the proxy's relay.
struct RawRelay {
  test::FileDescriptor Fd{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
  sockaddr_in Client{};

  RawRelay() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(Fd.Get(), reinterpret_cast<sockaddr*>(&local), sizeof(local));
  }
  uint16_t Port() const { return test::LocalPort(Fd.Get()); }
  std::string Receive() {
    if (test::WaitForEvents(Fd.Get(), POLLIN, test::Clock::now() + test::Millis(kReadTimeout)) ==
        0) {
      return {};
    }
    char block[512];
    socklen_t length = sizeof(Client);
    const ssize_t got = ::recvfrom(Fd.Get(), block, sizeof(block), 0,
                                   reinterpret_cast<sockaddr*>(&Client), &length);
    return std::string(block, static_cast<size_t>(std::max<ssize_t>(got, 0)));
  }
  void SendBack(const std::string& AData) {
    ::sendto(Fd.Get(), AData.data(), AData.size(), 0, reinterpret_cast<sockaddr*>(&Client),
             sizeof(Client));
  }
};

TEST(SocksUDPTest, RelaysDatagramsWithTheirHeaderAndDropsFragments) {
  RawRelay relay;
  const std::string associated =
      Bytes({5, 0, 0, 1, 0, 0, 0, 0, relay.Port() >> 8, relay.Port() & 0xFF});
  ScriptedSocksPeer peer(kSocks5NoAuth + associated, 13);
  TIdSocksInfo socks;
  socks.SetHost("127.0.0.1");
  socks.SetPort(peer.Port());
  socks.SetVersion(svSocks5);
  TIdSocketHandle handle;
  socks.OpenUDP(handle);
  EXPECT_EQ(peer.Received(), kSocks5Greeting + Bytes({5, 3, 0, 1, 0, 0, 0, 0, 0, 0}));

  socks.SendToUDP(handle, "127.0.0.5", 7, Id_IPv4, TBytes{'h', 'i'});
  EXPECT_EQ(relay.Receive(), Bytes({0, 0, 0, 1, 127, 0, 0, 5, 0, 7, 'h', 'i'}));

  relay.SendBack(Bytes({0, 0, 1, 1, 127, 0, 0, 6, 0, 9, 'x'})); // a fragment
  relay.SendBack(Bytes({0, 0, 0, 1, 127, 0, 0, 6, 0, 9, 'y', 'o'}));
  TBytes buffer(16);
  std::string ip;
  TIdPort port = 0;
  EXPECT_EQ(socks.RecvFromUDP(handle, buffer, ip, port, Id_IPv4, kReadTimeout), 0);
  ASSERT_EQ(socks.RecvFromUDP(handle, buffer, ip, port, Id_IPv4, kReadTimeout), 2);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 2), "yo");
  EXPECT_EQ(ip + ":" + std::to_string(port), "127.0.0.6:9");
  socks.CloseUDP(handle);
  EXPECT_FALSE(socks.UDPSocksAssociation().Connected());
}

TEST(SocksUDPTest, Socks4HasNoUDPRelay) {
  TIdSocksInfo socks;
  socks.SetVersion(svSocks4A);
  TIdSocketHandle handle;
  EXPECT_EQ(Failure([&] { socks.OpenUDP(handle); }),
            "EIdSocksUDPNotSupportedBySOCKSVersion: UDP is not support in this SOCKS version.");
}

} // namespace
} // namespace ftpc
