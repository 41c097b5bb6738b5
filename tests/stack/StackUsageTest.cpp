#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "stack/IdStackPosix.h"

namespace ftpc {
namespace {

std::atomic<int> GCreated{0};

std::unique_ptr<TIdStack> CreateCountedStack() {
  ++GCreated;
  return std::make_unique<TIdStackPosix>();
}

const TIdStackClass kCountedStackClass{"TIdStackPosix", &CreateCountedStack};

// Installs a stack class that counts its instances, and restores the start-up class.
class StackUsage : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(GStack(), nullptr) << "another test left a stack user registered";
    FSaved = StackClass();
    SetStackClass(&kCountedStackClass);
    GCreated = 0;
  }
  void TearDown() override { SetStackClass(FSaved); }

  const TIdStackClass* FSaved = nullptr;
};

TEST_F(StackUsage, InstanceLivesFromFirstIncToLastDec) {
  TIdStack::IncUsage();
  TIdStack* first = GStack();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->ClassName(), "TIdStackPosix");
  TIdStack::IncUsage();
  TIdStack::DecUsage();
  EXPECT_EQ(GStack(), first);
  EXPECT_EQ(GCreated, 1);
  TIdStack::DecUsage();
  EXPECT_EQ(GStack(), nullptr);
  TIdStack::DecUsage(); // nobody registered: nothing happens
  EXPECT_EQ(GStack(), nullptr);
  TIdStack::IncUsage();
  EXPECT_EQ(GCreated, 2);
  TIdStack::DecUsage();
}

TEST_F(StackUsage, MissingStackClassIsReported) {
  SetStackClass(nullptr);
  try {
    TIdStack::IncUsage();
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Stack Class is undefined.");
  }
  EXPECT_EQ(GStack(), nullptr);
}

TEST_F(StackUsage, ConcurrentUsersAlwaysSeeAStack) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 300;
  std::atomic<int> missing{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&missing] {
      for (int i = 0; i < kRounds; ++i) {
        TIdStack::IncUsage();
        // While this thread is registered the instance must exist and be usable.
        TIdStack* stack = GStack();
        if (stack == nullptr || stack->HostToNetwork(uint16_t{1}) != 0x0100) {
          ++missing;
        }
        TIdStack::DecUsage();
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(GStack(), nullptr);
  EXPECT_GE(GCreated, 1);
}

} // namespace
} // namespace ftpc
