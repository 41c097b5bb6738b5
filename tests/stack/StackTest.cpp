#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "StackTestSupport.h"
#include "stack/IdIPAddress.h"
#include "stack/IdStackPosix.h"

namespace ftpc {
namespace {

using testing::StackFixture;

TEST(SocketErrorMessage, PutsTheTableTextOnTheSecondLine) {
  const struct {
    int Code;
    const char* Expected;
  } cases[] = {
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {10054, "Socket Error # 10054\r\nConnection reset by peer."},
      {10058, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11001, "Socket Error # 11001\r\nHost not found."},
      // Codes outside the table leave the second line empty.
      {10093, "Socket Error # 10093\r\n"},
      {11004, "Socket Error # 11004\r\n"},
      {0, "Socket Error # 0\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TIdStack::WSTranslateSocketErrorMsg(c.Code), c.Expected);
  }
}

TEST(RaiseSocketError, ChoosesTheClassByCodeAndKeepsTheCode) {
  try {
    TIdStack::RaiseSocketError(10038);
  } catch (const EIdNotASocket& e) {
    EXPECT_EQ(e.LastError(), 10038);
    EXPECT_STREQ(e.what(), "Socket Error # 10038\r\nSocket operation on non-socket.");
  }
  try {
    TIdStack::RaiseSocketError(10053);
  } catch (const EIdNotASocket&) {
    FAIL() << "10053 is no EIdNotASocket";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10053);
  }
}

TEST(WSAErrorFromPlatform, MapsEachSourceByName) {
  const struct {
    TIdPlatformErrorSource Source;
    int Native;
    int Expected;
  } cases[] = {
      {pesErrno, ECONNREFUSED, 10061},
      {pesErrno, ECONNRESET, 10054},
      {pesErrno, ECONNABORTED, 10053},
      {pesErrno, EPIPE, 10058},
      {pesErrno, ENOTSOCK, 10038},
      {pesErrno, EBADF, 10009},
      {pesErrno, EADDRINUSE, 10048},
      {pesErrno, ETIMEDOUT, 10060},
      {pesErrno, EAGAIN, 10035},
      {pesErrno, EHOSTUNREACH, 10065},
      {pesResolver, EAI_NONAME, 11001},
      {pesResolver, EAI_AGAIN, 11002},
      {pesResolver, EAI_FAIL, 11003},
      {pesResolver, EAI_NODATA, 11004},
      {pesResolver, EAI_FAMILY, 10047},
      {pesResolver, EAI_SERVICE, 10109},
      {pesResolver, EAI_SOCKTYPE, 10044},
      {pesResolver, EAI_BADFLAGS, 10022},
      {pesResolver, EAI_MEMORY, 8},
      {pesResolver, EAI_ADDRFAMILY, 11004},
      {pesNetDb, HOST_NOT_FOUND, 11001},
      {pesNetDb, TRY_AGAIN, 11002},
      {pesNetDb, NO_DATA, 11004},
      // A number without a counterpart passes unchanged.
      {pesErrno, 11001, 11001},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TIdStackPosix::WSAErrorFromPlatform(c.Source, c.Native), c.Expected)
        << int(c.Source) << " " << c.Native;
  }
}

using StackErrors = StackFixture;

TEST_F(StackErrors, LastErrorRoundTripsThroughTheWindowsNumbers) {
  Stack().WSSetLastError(10061);
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_EQ(Stack().WSGetLastError(), 10061);
  Stack().WSSetLastError(10035);
  EXPECT_TRUE(Stack().WouldBlock(Id_SOCKET_ERROR));
  EXPECT_FALSE(Stack().WouldBlock(0));
  Stack().WSSetLastError(10054);
  EXPECT_EQ(Stack().CheckForSocketError(Id_SOCKET_ERROR, {10053, 10054}), 10054);
  EXPECT_THROW(Stack().CheckForSocketError(Id_SOCKET_ERROR, {10053}), EIdSocketError);
  EXPECT_THROW(Stack().WouldBlock(Id_SOCKET_ERROR), EIdSocketError);
  EXPECT_EQ(Stack().CheckForSocketError(5), 5);
}

using StackNames = StackFixture;

TEST_F(StackNames, IsIPAcceptsOnlyFourDecimalParts) {
  const struct {
    const char* Text;
    bool Expected;
  } cases[] = {
      {"1.2.3.4", true},     {"255.255.255.255", true}, {"010.0.0.1", true},  {"1.2.3.4.", true},
      {" 1. 2 .3.4 ", true}, {"1.2.3", false},          {"1.2.3.4.5", false}, {"1..3.4", false},
      {"1.2.3.256", false},  {"a.b.c.d", false},        {"", false},          {"1.2.3.4..", false},
      {"-1.2.3.4", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Stack().IsIP(c.Text), c.Expected) << c.Text;
  }
}

TEST_F(StackNames, ResolveHostAnswersLiteralsWithoutALookup) {
  const struct {
    const char* Host;
    TIdIPVersion Version;
    const char* Expected;
  } cases[] = {
      {"LocalHost", Id_IPv4, "127.0.0.1"},           {"10.0.0.1", Id_IPv4, "10.0.0.1"},
      {"10.0.0.1.", Id_IPv4, "10.0.0.1."},           {"::1", Id_IPv6, "0:0:0:0:0:0:0:1"},
      {"fe80::A:0b", Id_IPv6, "FE80:0:0:0:0:0:A:B"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Stack().ResolveHost(c.Host, c.Version), c.Expected) << c.Host;
  }
}

// The machine's own name is registered locally (/etc/hosts), so looking it up stays here.
TEST_F(StackNames, ResolveHostLooksNamesUp) {
  EXPECT_TRUE(Stack().IsIP(Stack().ResolveHost(Stack().HostName(), Id_IPv4)));
}

TEST_F(StackNames, UnknownHostRaisesHostNotFound) {
  for (const TIdIPVersion version : {Id_IPv4, Id_IPv6}) {
    try {
      Stack().ResolveHost("no-such-host.invalid", version);
      FAIL() << "no exception";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 11001);
      EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
    }
  }
}

// Switches the resolver flag off for one test.
class WithoutResolver {
public:
  WithoutResolver() { SetIPv6FuncsAvailable(false); }
  ~WithoutResolver() { SetIPv6FuncsAvailable(true); }
};

TEST_F(StackNames, WithoutTheResolverIPv6NamesAreUnavailable) {
  const WithoutResolver classicLookups;
  EXPECT_EQ(Stack().ResolveHost("::1", Id_IPv6), "0:0:0:0:0:0:0:1");
  EXPECT_THROW(Stack().ResolveHost("localhost", Id_IPv6), EIdIPv6Unavailable);
  EXPECT_THROW(Stack().HostByAddress("::1", Id_IPv6), EIdIPv6Unavailable);
  EXPECT_TRUE(Stack().IsIP(Stack().ResolveHost(Stack().HostName(), Id_IPv4)));
  EXPECT_FALSE(Stack().LocalAddresses().empty());
  EXPECT_EQ(Stack().HostByAddress("127.0.0.1"), "localhost");
  try {
    Stack().ResolveHost("no-such-host.invalid", Id_IPv4);
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11001);
  }
}

TEST_F(StackNames, HostByAddressFindsTheRegisteredName) {
  EXPECT_EQ(Stack().HostByAddress("127.0.0.1"), "localhost");
}

TEST_F(StackNames, LocalAddressesListIPv4Addresses) {
  const auto& addresses = Stack().LocalAddresses();
  ASSERT_FALSE(addresses.empty());
  EXPECT_TRUE(Stack().IsIP(addresses.front()));
  EXPECT_EQ(Stack().LocalAddress(), addresses.front());
}

TEST_F(StackNames, ServicesByNameAndNumber) {
  EXPECT_EQ(Stack().WSGetServByName("ftp"), 21);
  EXPECT_EQ(Stack().WSGetServByName(" 2121 "), 2121);
  try {
    Stack().WSGetServByName("no-such-service");
    FAIL() << "no exception";
  } catch (const EIdInvalidServiceName& e) {
    EXPECT_STREQ(e.what(), "no-such-service is not a valid service.");
  }
  EXPECT_THROW(Stack().WSGetServByName("70000"), EIdRangeError);
  const auto names = Stack().WSGetServByPort(21);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "ftp");
}

TEST(StackByteOrder, ConvertsToBigEndianAndBack) {
  const uint16_t v16 = TIdStack::HostToNetwork(uint16_t{0x1234});
  const uint32_t v32 = TIdStack::HostToNetwork(uint32_t{0x12345678});
  const uint64_t v64 = TIdStack::HostToNetwork(uint64_t{0x0102030405060708});
  const auto* b16 = reinterpret_cast<const uint8_t*>(&v16);
  const auto* b32 = reinterpret_cast<const uint8_t*>(&v32);
  const auto* b64 = reinterpret_cast<const uint8_t*>(&v64);
  EXPECT_EQ(b16[0], 0x12);
  EXPECT_EQ(b32[0], 0x12);
  EXPECT_EQ(b32[3], 0x78);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(b64[i], i + 1);
  }
  EXPECT_EQ(TIdStack::NetworkToHost(v64), 0x0102030405060708u);
  const TIdIPv6Address words{0xFE80, 1, 2, 3, 4, 5, 6, 0xABCD};
  const TIdIPv6Address net = TIdStack::HostToNetwork(words);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(net.data())[0], 0xFE);
  EXPECT_EQ(TIdStack::NetworkToHost(net), words);
}

TEST(StackChecksum, MatchesRfc1071) {
  // RFC 1071 section 3: the words 0001 f203 f4f5 f6f7 sum to ddf2, checksum 220d on the wire.
  const TBytes data{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
  EXPECT_EQ(TIdStack::CalcCheckSum(data), 0x0D22);
  EXPECT_EQ(TIdStack::CalcCheckSum({0x01}), static_cast<uint16_t>(~0x0001));
  EXPECT_EQ(TIdStack::CalcCheckSum({}), 0xFFFF);
  // Sums with many carries: 100000 bytes of 0xFF sum to 0xFFFF, checksum 0.
  EXPECT_EQ(TIdStack::CalcCheckSum(TBytes(100000, 0xFF)), 0);
}

using StackChecksumField = StackFixture;

TEST_F(StackChecksumField, WrittenChecksumMakesTheMessageSumToZero) {
  TBytes echo{8, 0, 0xAA, 0xBB, 0, 1, 0, 1, 'p', 'i', 'n', 'g', '!'};
  Stack().WriteChecksum(Id_INVALID_SOCKET, echo, 2, "127.0.0.1", 0, Id_IPv4);
  EXPECT_EQ(TIdStack::CalcCheckSum(echo), 0);
  EXPECT_THROW(Stack().WriteChecksum(Id_INVALID_SOCKET, echo, 12, "", 0, Id_IPv4), EIdRangeError);
}

TEST_F(StackNames, MulticastGroupsOfBothVersions) {
  const struct {
    const char* Text;
    bool IPv4;
    bool IPv6;
  } cases[] = {
      {"224.0.0.1", true, false},  {"239.255.255.255", true, false},
      {"223.1.1.1", false, false}, {"240.0.0.1", false, false},
      {"ff02::1", false, true},    {"FF05:0:0:0:0:0:1:3", false, true},
      {"fe80::1", false, false},   {"ff::1", false, false}, // ff::1 is 00ff::1, no multicast
      {"fff::1", false, false},    {"garbage", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Stack().IsValidIPv4MulticastGroup(c.Text), c.IPv4) << c.Text;
    EXPECT_EQ(Stack().IsValidIPv6MulticastGroup(c.Text), c.IPv6) << c.Text;
  }
}

TEST(StackAddressConversion, TranslatesRawAddressesBothWays) {
  TIdStackPosix stack;
  uint8_t raw4[4] = {};
  stack.TranslateStringToTInAddr("1.2.3.4.5", raw4, Id_IPv4);
  EXPECT_EQ(stack.TranslateTInAddrToString(raw4, Id_IPv4), "1.2.3.4");
  EXPECT_THROW(stack.TranslateStringToTInAddr("1.2.x.4", raw4, Id_IPv4), EIdConvertError);
  EXPECT_THROW(stack.TranslateStringToTInAddr("1.2.3.256", raw4, Id_IPv4), EIdRangeError);

  uint8_t raw6[16] = {};
  stack.TranslateStringToTInAddr("fe80::a:0", raw6, Id_IPv6);
  EXPECT_EQ(raw6[0], 0xFE);
  EXPECT_EQ(raw6[13], 0x0A);
  EXPECT_EQ(stack.TranslateTInAddrToString(raw6, Id_IPv6), "FE80:0:0:0:0:0:A:0");
  EXPECT_THROW(stack.TranslateStringToTInAddr("1.2.3.4", raw6, Id_IPv6), EIdInvalidIPv6Address);
  // A buffer too small for the version is refused before anything is written.
  EXPECT_THROW(stack.TranslateStringToTInAddr("::1", raw4, Id_IPv6), EIdRangeError);
  EXPECT_THROW(stack.TranslateTInAddrToString(raw4, static_cast<TIdIPVersion>(7)),
               EIdIPVersionUnsupported);
}

TEST(SocketList, HoldsAtMost64HandlesAndRemovesByMovingTheLast) {
  auto list = TIdSocketList::CreateSocketList();
  EXPECT_EQ(list->ClassName(), "TIdSocketListPosix");
  for (int i = 0; i < TIdSocketList::kCapacity; ++i) {
    list->Add(1000 + i);
  }
  try {
    list->Add(5000);
    FAIL() << "no exception";
  } catch (const EIdStackSetSizeExceeded& e) {
    EXPECT_STREQ(e.what(), "Set Size Exceeded.");
  }
  list->Remove(1001);
  EXPECT_EQ(list->Count(), 63);
  EXPECT_EQ(list->Item(1), 1063);
  list->Remove(4242); // absent: ignored
  EXPECT_EQ(list->Count(), 63);
  EXPECT_THROW(list->Item(63), EIdStackSetSizeExceeded);
  EXPECT_THROW(list->Item(-1), EIdStackSetSizeExceeded);
  const auto clone = list->Clone();
  EXPECT_EQ(clone->Count(), 63);
  EXPECT_TRUE(clone->ContainsSocket(1063));
  list->Clear();
  EXPECT_EQ(list->Count(), 0);
  EXPECT_EQ(clone->Count(), 63);
}

} // namespace
} // namespace ftpc

namespace ftpc {
namespace {

TEST(EIdWinsockStubError, MessageIsTheTitleWithTheSystemTextForANonZeroCode) {
  const auto withCode =
      EIdWinsockStubError::Build(ECONNREFUSED, "Error on loading Winsock2 library (%s)", {"libc"});
  EXPECT_EQ(withCode.Title(), "Error on loading Winsock2 library (libc)");
  EXPECT_EQ(withCode.Win32Error(), ECONNREFUSED);
  EXPECT_FALSE(withCode.Win32ErrorMessage().empty());
  EXPECT_EQ(withCode.Message(), withCode.Title() + ": " + withCode.Win32ErrorMessage());

  const auto withoutCode =
      EIdWinsockStubError::Build(0, "Error on call to Winsock2 library function %s", {"bind"});
  EXPECT_EQ(withoutCode.Message(), "Error on call to Winsock2 library function bind");
  EXPECT_EQ(withoutCode.Win32ErrorMessage(), "");
}

TEST(StackStartUp, TheResolverFunctionsAreAvailable) {
  const TIdStackUser user;
  EXPECT_TRUE(IPv6FuncsAvailable());
}

} // namespace
} // namespace ftpc
