// The single-connection listener: binding (fixed port, platform choice, port range), the
// accept of one connection, the sliced wait with its time-out and abort, and the handler rule.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "core/IdIOHandler.h"
#include "core/IdIOHandlerStack.h"
#include "base/IdResourceStrings.h"
#include "core/IdTCPClient.h"
#include "server/IdSimpleServer.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {
namespace {

TEST(SimpleServer, PlatformChoosesThePortWithoutARange) {
  TIdSimpleServer listener;
  listener.SetBoundIP("127.0.0.1");
  listener.BeginListen();
  ASSERT_NE(listener.Binding(), nullptr);
  EXPECT_NE(listener.Binding()->Port(), 0);
  EXPECT_EQ(listener.Binding()->IP(), "127.0.0.1");
}

TEST(SimpleServer, RangeIsSearchedFromTheTop) {
  // A first listener takes the top of the range, so the second must take the next one down.
  TIdSimpleServer first;
  first.SetBoundIP("127.0.0.1");
  first.BeginListen();
  const TIdPort top = first.Binding()->Port();
  TIdSimpleServer second;
  second.SetBoundIP("127.0.0.1");
  second.SetBoundPortMin(static_cast<TIdPort>(top - 5));
  second.SetBoundPortMax(top);
  second.BeginListen();
  EXPECT_LT(second.Binding()->Port(), top);
  EXPECT_GE(second.Binding()->Port(), top - 5);
}

TEST(SimpleServer, AcceptsOneConnectionAndCarriesItsBytes) {
  TIdSimpleServer listener;
  listener.SetBoundIP("127.0.0.1");
  listener.BeginListen();
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(listener.Binding()->Port());
  client.Connect();
  listener.Listen(5000);
  client.IOHandler()->WriteLn("hello");
  EXPECT_EQ(listener.IOHandler()->ReadLn("\n", 5000), "hello");
  EXPECT_EQ(listener.Binding()->PeerPort(), client.Socket()->Binding()->Port());
  listener.Disconnect(false);
}

class ListenTimeout : public ::testing::TestWithParam<int32_t> {};

TEST_P(ListenTimeout, EndsWithAcceptTimedOut) {
  TIdSimpleServer listener;
  listener.SetBoundIP("127.0.0.1");
  listener.SetAcceptWait(50);
  try {
    listener.Listen(GetParam());
    FAIL() << "no time-out";
  } catch (const EIdAcceptTimeout& e) {
    EXPECT_EQ(std::string(e.what()), RSAcceptTimeout);
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, ListenTimeout, ::testing::Values(0, 30, 125));

TEST(SimpleServer, AbortEndsAnUnlimitedWaitWithinASlice) {
  TIdSimpleServer listener;
  listener.SetBoundIP("127.0.0.1");
  listener.SetAcceptWait(20);
  listener.BeginListen();
  std::atomic<bool> done{false};
  std::thread aborter([&] {
    while (!done.load()) {
      listener.Abort();
      std::this_thread::yield();
    }
  });
  EXPECT_THROW(listener.Listen(-1), EIdAcceptTimeout);
  done.store(true);
  aborter.join();
}

// An accept wait of 0 or less must not stop the time-out from counting down. Should it, an
// abort after five seconds ends the wait, too late.
TEST(SimpleServer, TimeoutHoldsWithANonPositiveAcceptWait) {
  for (const int32_t wait : {0, -5}) {
    TIdSimpleServer listener;
    listener.SetBoundIP("127.0.0.1");
    listener.SetAcceptWait(wait);
    std::promise<void> listenDone;
    std::thread rescue([&listener, done = listenDone.get_future()] {
      if (done.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        listener.Abort();
      }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(listener.Listen(100), EIdAcceptTimeout);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    listenDone.set_value();
    rescue.join();
    ASSERT_LT(elapsed, std::chrono::seconds(3)) << "accept wait " << wait;
  }
}

// A dummy handler that is no socket handler.
class PlainHandler : public TIdIOHandler {
public:
  bool Readable(int32_t) override { return false; }
  bool HasSource() override { return false; }

protected:
  int32_t ReceiveFromSource(std::span<uint8_t>) override { return 0; }
  int32_t SendToTarget(std::span<const uint8_t>) override { return 0; }
};

TEST(SimpleServer, OnlySocketHandlersAreAccepted) {
  TIdSimpleServer listener;
  PlainHandler plain;
  EXPECT_THROW(listener.SetIOHandler(&plain), EIdCannotUseNonSocketIOHandler);
  EXPECT_NO_THROW(listener.SetIOHandler(nullptr));
  TIdIOHandlerStack stack;
  EXPECT_NO_THROW(listener.SetIOHandler(&stack));
  listener.SetIOHandler(nullptr);
}

} // namespace
} // namespace ftpc
