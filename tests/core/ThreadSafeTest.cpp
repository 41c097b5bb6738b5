#include <gtest/gtest.h>

#include <climits>
#include <thread>
#include <vector>

#include "base/IdThreadSafe.h"

namespace ftpc {
namespace {

TEST(TIdThreadSafeInteger, ChangesReturnTheValueBeforeAndWrapAround) {
  TIdThreadSafeInteger value;
  EXPECT_EQ(value.Increment(), 0);
  EXPECT_EQ(value.Increment(10), 1);
  EXPECT_EQ(value.Decrement(), 11);
  EXPECT_EQ(value.Decrement(4), 10);
  EXPECT_EQ(value.Value(), 6);
  value.SetValue(INT32_MAX);
  value.Increment();
  EXPECT_EQ(value.Value(), INT32_MIN);
  value.Decrement(2);
  EXPECT_EQ(value.Value(), INT32_MAX - 1);
}

TEST(TIdThreadSafeInteger, CountsEveryIncrementFromSeveralThreads) {
  TIdThreadSafeInteger value;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&value] {
      for (int i = 0; i < 5000; ++i) {
        value.Increment();
        value.Increment(2);
        value.Decrement();
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(value.Value(), 4 * 5000 * 2);
}

TEST(TIdThreadSafeBoolean, ToggleReturnsTheNewValue) {
  TIdThreadSafeBoolean flag;
  EXPECT_FALSE(flag.Value());
  EXPECT_TRUE(flag.Toggle());
  EXPECT_FALSE(flag.Toggle());
  flag.SetValue(true);
  EXPECT_TRUE(flag.Value());
}

TEST(TIdThreadSafeList, PopTakesTheLastAndPullTheFirst) {
  TIdThreadSafeList<std::unique_ptr<int>> list;
  static_assert(decltype(list)::OwnsObjects());
  static_assert(!TIdThreadSafeList<int*>::OwnsObjects());
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.Pop(), nullptr);
  EXPECT_EQ(list.Pull(), nullptr);
  for (int i = 1; i <= 3; ++i) {
    list.Add(std::make_unique<int>(i));
  }
  EXPECT_EQ(list.Count(), 3);
  EXPECT_TRUE(list.IsCountLessThan(4));
  EXPECT_FALSE(list.IsCountLessThan(3));
  EXPECT_EQ(*list.Pop(), 3);
  EXPECT_EQ(*list.Pull(), 1);
  EXPECT_EQ(list.WithList([](auto& items) { return *items.front(); }), 2);
  list.ClearAndFree();
  EXPECT_TRUE(list.IsEmpty());
}

TEST(TIdThreadSafeList, AssignReplacesTheItems) {
  TIdThreadSafeList<int> list;
  list.Add(7);
  list.Assign({1, 2});
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Pull(), 1);
}

TEST(TIdThreadSafeList, ConcurrentProducersAndConsumersLoseNothing) {
  TIdThreadSafeList<int> list;
  std::atomic<int> taken{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&list] {
      for (int i = 1; i <= 2000; ++i) {
        list.Add(i);
      }
    });
    threads.emplace_back([&list, &taken] {
      for (int i = 0; i < 2000; ++i) {
        if (list.Pull() != 0) {
          ++taken;
        }
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(taken + list.Count(), 4000);
}

} // namespace
} // namespace ftpc
