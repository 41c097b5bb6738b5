#include <gtest/gtest.h>

#include <thread>

#include "core/IdAntiFreezeBase.h"

namespace ftpc {
namespace {

class CountingAntiFreeze : public TIdAntiFreezeBase {
public:
  explicit CountingAntiFreeze(TIdInitializerComponent* AOwner = nullptr)
      : TIdAntiFreezeBase(AOwner) {}
  void Process() override { ++Calls; }
  int Calls = 0;
};

TEST(TIdAntiFreezeBase, OnlyOneInstanceExistsPerProcess) {
  EXPECT_EQ(TIdAntiFreezeBase::Instance(), nullptr);
  {
    CountingAntiFreeze first;
    EXPECT_EQ(TIdAntiFreezeBase::Instance(), &first);
    try {
      CountingAntiFreeze second;
      FAIL() << "no exception";
    } catch (const EIdException& e) {
      EXPECT_STREQ(e.what(), "Only one TIdAntiFreeze can exist per application.");
    }
    // The refused second instance must not have cleared the first one's registration.
    EXPECT_EQ(TIdAntiFreezeBase::Instance(), &first);
  }
  EXPECT_EQ(TIdAntiFreezeBase::Instance(), nullptr);
}

TEST(TIdAntiFreezeBase, AnOwnedInstanceGoesWithItsOwner) {
  {
    TIdBaseComponent owner;
    new CountingAntiFreeze(&owner); // owned: the owner frees it
    EXPECT_NE(TIdAntiFreezeBase::Instance(), nullptr);
  }
  EXPECT_EQ(TIdAntiFreezeBase::Instance(), nullptr);
}

TEST(TIdAntiFreezeBase, ProcessesOnTheMainThreadWhenActive) {
  CountingAntiFreeze antiFreeze;
  EXPECT_TRUE(TIdAntiFreezeBase::ShouldUse());
  TIdAntiFreezeBase::DoProcess(false, false); // not idle, OnlyWhenIdle: skipped
  EXPECT_EQ(antiFreeze.Calls, 0);
  TIdAntiFreezeBase::DoProcess(true, false);
  TIdAntiFreezeBase::DoProcess(false, true);
  EXPECT_EQ(antiFreeze.Calls, 2);
  antiFreeze.SetOnlyWhenIdle(false);
  TIdAntiFreezeBase::DoProcess(false, false);
  EXPECT_EQ(antiFreeze.Calls, 3);

  antiFreeze.SetActive(false);
  EXPECT_FALSE(TIdAntiFreezeBase::ShouldUse());
  TIdAntiFreezeBase::DoProcess(true, true);
  EXPECT_EQ(antiFreeze.Calls, 3);
}

TEST(TIdAntiFreezeBase, OtherThreadsNeverProcess) {
  CountingAntiFreeze antiFreeze;
  bool shouldUse = true;
  std::thread worker([&shouldUse] {
    shouldUse = TIdAntiFreezeBase::ShouldUse();
    TIdAntiFreezeBase::DoProcess(true, true);
  });
  worker.join();
  EXPECT_FALSE(shouldUse);
  EXPECT_EQ(antiFreeze.Calls, 0);
}

TEST(TIdAntiFreezeBase, SleepProcessesAfterEachIdleStep) {
  CountingAntiFreeze antiFreeze;
  antiFreeze.SetIdleTimeOut(2);
  TIdAntiFreezeBase::Sleep(5); // steps of 2, 2 and 1 ms
  EXPECT_EQ(antiFreeze.Calls, 3);
}

} // namespace
} // namespace ftpc
