// What every platform's units must agree on: the socket errors the layers above test, with
// their numbers and texts, and the start-up choices. Runs on Linux and, under Wine, on Windows.
#include <gtest/gtest.h>

#include <string>

#include "server/IdSimpleServer.h"
#include "core/IdIOHandlerStack.h"
#include "core/IdTCPClient.h"
#include "global/IdGlobal.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStack.h"

namespace ftpc {
namespace {

// A loopback port that nothing listens on: bound by a listener that is gone again.
TIdPort ClosedLoopbackPort() {
  TIdSimpleServer server;
  server.SetBoundIP("127.0.0.1");
  server.BeginListen();
  const TIdPort port = server.Binding()->Port();
  server.EndListen();
  return port;
}

TEST(PlatformTest, RefusedConnectReportsTheWindowsSocketsNumberAndText) {
  TIdIOHandlerStack handler;
  TIdTCPClient client;
  client.SetIOHandler(&handler);
  try {
    client.Connect("127.0.0.1", ClosedLoopbackPort());
    ADD_FAILURE() << "connected to a closed port";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), Id_WSAECONNREFUSED);
    EXPECT_EQ(std::string(e.what()), "Socket Error # 10061\r\nConnection refused.");
  }
  client.SetIOHandler(nullptr);
}

TEST(PlatformTest, TickCountAdvancesWithSleep) {
  const uint32_t before = TickCountMs();
  SleepMs(20);
  EXPECT_GE(TickSpan(before, TickCountMs()), 15u);
}

TEST(PlatformTest, TimeZoneOffsetIsLessThanADay) {
  const TDateTime offset = UtcOffsetOfLocalTime();
  EXPECT_GT(offset, -1.0);
  EXPECT_LT(offset, 1.0);
}

} // namespace
} // namespace ftpc
