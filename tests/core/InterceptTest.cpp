#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/IdIntercept.h"

namespace ftpc {
namespace {

// A chain A -> B -> C whose handlers log their name and tag the data they see.
class InterceptChain : public testing::Test {
protected:
  void SetUp() override {
    const char* names[] = {"A", "B", "C"};
    for (const char* name : names) {
      auto intercept = std::make_unique<TIdConnectionIntercept>();
      const std::string tag(name);
      intercept->SetOnSend([this, tag](TObject*, TBytes& VBuffer) {
        Log.push_back("send " + tag);
        VBuffer.push_back(static_cast<uint8_t>(tag[0]));
      });
      intercept->SetOnReceive([this, tag](TObject*, TBytes& VBuffer) {
        Log.push_back("receive " + tag);
        VBuffer.push_back(static_cast<uint8_t>(tag[0]));
      });
      intercept->SetOnConnect([this, tag](TObject*) { Log.push_back("connect " + tag); });
      intercept->SetOnDisconnect([this, tag](TObject*) { Log.push_back("disconnect " + tag); });
      Chain.push_back(std::move(intercept));
    }
    Chain[0]->SetIntercept(Chain[1].get());
    Chain[1]->SetIntercept(Chain[2].get());
  }

  std::vector<std::unique_ptr<TIdConnectionIntercept>> Chain;
  std::vector<std::string> Log;
};

TEST_F(InterceptChain, SendRunsFromTheHandlerOutwardAndReceiveTheOtherWay) {
  TBytes sent = {'x'};
  Chain[0]->Send(sent);
  EXPECT_EQ(sent, (TBytes{'x', 'A', 'B', 'C'}));
  TBytes received = {'y'};
  Chain[0]->Receive(received);
  EXPECT_EQ(received, (TBytes{'y', 'C', 'B', 'A'}));
  EXPECT_EQ(Log, (std::vector<std::string>{"send A", "send B", "send C", "receive C", "receive B",
                                           "receive A"}));
}

TEST_F(InterceptChain, ConnectRunsOutwardAndDisconnectInward) {
  TIdBaseComponent connection;
  Chain[0]->Connect(&connection);
  EXPECT_EQ(Chain[2]->Connection(), &connection);
  Chain[0]->Disconnect();
  EXPECT_EQ(Log, (std::vector<std::string>{"connect A", "connect B", "connect C", "disconnect C",
                                           "disconnect B", "disconnect A"}));
  for (const auto& intercept : Chain) {
    EXPECT_EQ(intercept->Connection(), nullptr);
  }
}

TEST_F(InterceptChain, CircularLinksAreRejectedAndChangeNothing) {
  struct TCase {
    size_t From;
    size_t To;
  };
  for (const TCase c : {TCase{2, 0}, TCase{1, 0}, TCase{0, 0}, TCase{2, 2}}) {
    SCOPED_TRACE(testing::Message() << c.From << " -> " << c.To);
    TIdConnectionIntercept* const before = Chain[c.From]->Intercept();
    try {
      Chain[c.From]->SetIntercept(Chain[c.To].get());
      ADD_FAILURE() << "no exception";
    } catch (const EIdInterceptCircularLink& e) {
      EXPECT_STREQ(e.what(), "TIdConnectionIntercept: Circular links are not allowed");
    }
    EXPECT_EQ(Chain[c.From]->Intercept(), before);
  }
}

TEST_F(InterceptChain, DestroyedLinksAndConnectionsAreForgotten) {
  auto connection = std::make_unique<TIdBaseComponent>();
  Chain[0]->Connect(connection.get());
  connection.reset();
  EXPECT_EQ(Chain[0]->Connection(), nullptr);
  EXPECT_EQ(Chain[2]->Connection(), nullptr);

  Chain[1].reset();
  EXPECT_EQ(Chain[0]->Intercept(), nullptr);
  TBytes data = {'x'};
  Chain[0]->Send(data);
  EXPECT_EQ(data, (TBytes{'x', 'A'}));
}

TEST_F(InterceptChain, ReplacingALinkStopsWatchingTheOldOne) {
  Chain[0]->SetIntercept(Chain[2].get());
  Chain[1].reset(); // no longer linked: destroying it must not touch A
  EXPECT_EQ(Chain[0]->Intercept(), Chain[2].get());
}

} // namespace
} // namespace ftpc
