#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/IdBuffer.h"
#include "core/IdComponent.h"
#include "stack/IdStack.h"

namespace ftpc {
namespace {

// A component that keeps one non-owning reference and logs what it is told.
class TWatcher : public TIdBaseComponent {
public:
  using TIdBaseComponent::TIdBaseComponent;
  TIdInitializerComponent* Ref = nullptr;
  std::vector<std::pair<TIdInitializerComponent*, TOperation>> Told;

  void Watch(TIdInitializerComponent* AValue) { SetWatchedReference(Ref, AValue); }

protected:
  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override {
    Told.emplace_back(AComponent, AOperation);
    if (AOperation == opRemove && AComponent == Ref) {
      Ref = nullptr;
    }
    TIdBaseComponent::Notification(AComponent, AOperation);
  }
};

// Records every work event of the attached components as text.
class TWorkLog {
public:
  void Attach(TIdComponent& AComponent, const std::string& AName) {
    AComponent.SetOnWorkBegin([this, AName](TObject*, TWorkMode AMode, int64_t AMax) {
      Lines.push_back(AName + " begin " + Mode(AMode) + " " + std::to_string(AMax));
    });
    AComponent.SetOnWork([this, AName](TObject*, TWorkMode AMode, int64_t ACount) {
      Lines.push_back(AName + " work " + Mode(AMode) + " " + std::to_string(ACount));
    });
    AComponent.SetOnWorkEnd([this, AName](TObject*, TWorkMode AMode) {
      Lines.push_back(AName + " end " + Mode(AMode));
    });
  }
  std::vector<std::string> Lines;

private:
  static std::string Mode(TWorkMode AMode) { return AMode == wmRead ? "r" : "w"; }
};

// ---- Work events --------------------------------------------------------------------------

TEST(TIdComponent, WorkEventsNestAndAccumulate) {
  struct TCase {
    const char* Name;
    std::function<void(TIdComponent&)> Act;
    std::vector<std::string> Expected;
  };
  const std::vector<TCase> cases = {
      {"nested pairs fire once, counts accumulate",
       [](TIdComponent& c) {
         c.BeginWork(wmRead, 1000);
         c.BeginWork(wmRead, 100);
         c.DoWork(wmRead, 10);
         c.EndWork(wmRead);
         c.DoWork(wmRead, 20);
         c.EndWork(wmRead);
       },
       {"c begin r 1000", "c work r 10", "c work r 30", "c end r"}},
      {"progress outside a pair is silent",
       [](TIdComponent& c) {
         c.DoWork(wmWrite, 5);
         c.BeginWork(wmWrite);
         c.EndWork(wmWrite);
         c.DoWork(wmWrite, 5);
       },
       {"c begin w 0", "c end w"}},
      {"modes are independent",
       [](TIdComponent& c) {
         c.BeginWork(wmRead, 1);
         c.BeginWork(wmWrite, 2);
         c.DoWork(wmWrite, 3);
         c.EndWork(wmRead);
         c.DoWork(wmWrite, 4);
         c.EndWork(wmWrite);
       },
       {"c begin r 1", "c begin w 2", "c work w 3", "c end r", "c work w 7", "c end w"}},
      {"a new outer pair restarts the count",
       [](TIdComponent& c) {
         c.BeginWork(wmRead, 9);
         c.DoWork(wmRead, 4);
         c.EndWork(wmRead);
         c.BeginWork(wmRead, 8);
         c.DoWork(wmRead, 1);
         c.EndWork(wmRead);
       },
       {"c begin r 9", "c work r 4", "c end r", "c begin r 8", "c work r 1", "c end r"}},
      {"an unmatched end does not swallow the next begin",
       [](TIdComponent& c) {
         c.EndWork(wmRead);
         c.BeginWork(wmRead, 3);
         c.EndWork(wmRead);
       },
       {"c begin r 3", "c end r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TIdComponent component;
    TWorkLog log;
    log.Attach(component, "c");
    c.Act(component);
    EXPECT_EQ(log.Lines, c.Expected);
  }
}

TEST(TIdComponent, WorkIsForwardedToTheTargetUntilTheTargetGoes) {
  TIdComponent source;
  auto target = std::make_unique<TIdComponent>();
  TWorkLog log;
  log.Attach(source, "source");
  log.Attach(*target, "target");
  source.SetWorkTarget(target.get());

  source.BeginWork(wmWrite, 50);
  source.DoWork(wmWrite, 20);
  target->DoWork(wmWrite, 5); // the target's own work shares the count
  source.EndWork(wmWrite);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"target begin w 50", "target work w 20",
                                                 "target work w 25", "target end w"}));

  target.reset();
  EXPECT_EQ(source.WorkTarget(), nullptr);
  log.Lines.clear();
  source.BeginWork(wmRead, 1);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"source begin r 1"}));
}

TEST(TIdComponent, WorkForwardingFollowsAChain) {
  TIdComponent first;
  TIdComponent middle;
  TIdComponent last;
  TWorkLog log;
  log.Attach(last, "last");
  first.SetWorkTarget(&middle);
  middle.SetWorkTarget(&last);
  first.BeginWork(wmRead, 2);
  first.EndWork(wmRead);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"last begin r 2", "last end r"}));
}

TEST(TIdComponent, CircularWorkTargetsAreRejected) {
  TIdComponent a;
  TIdComponent b;
  TIdComponent c;
  a.SetWorkTarget(&b);
  b.SetWorkTarget(&c);
  EXPECT_THROW(c.SetWorkTarget(&a), EIdException);
  EXPECT_THROW(a.SetWorkTarget(&a), EIdException);
  EXPECT_EQ(c.WorkTarget(), nullptr);
  EXPECT_EQ(a.WorkTarget(), &b);
}

// ---- Status events ------------------------------------------------------------------------

TEST(TIdComponent, StatusTextsAreFormattedOnlyForAHandler) {
  struct TCase {
    TIdStatus Status;
    std::vector<std::string> Args;
    std::string Expected;
  };
  const std::vector<TCase> cases = {
      {hsResolving, {"ftp.example"}, "Resolving hostname ftp.example."},
      {hsConnecting, {"127.0.0.1"}, "Connecting to 127.0.0.1."},
      {hsConnected, {}, "Connected."},
      {hsDisconnecting, {}, "Disconnecting."},
      {hsDisconnected, {}, "Disconnected."},
      {hsStatusText, {"free text"}, "free text"},
      {hsStatusText, {}, ""},
      {ftpTransfer, {"Transfer"}, "Transfer"},
      {ftpReady, {"Ready"}, "Ready"},
      {ftpAborted, {"Aborted"}, "Aborted"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Expected);
    TIdComponent component;
    component.ReportStatus(c.Status); // no handler: nothing happens
    std::vector<std::string> seen;
    component.SetOnStatus([&](TObject* ASender, TIdStatus AStatus, const std::string& AText) {
      EXPECT_EQ(ASender, &component);
      EXPECT_EQ(AStatus, c.Status);
      seen.push_back(AText);
    });
    if (c.Args.empty()) {
      component.ReportStatus(c.Status);
    } else {
      component.ReportStatus(c.Status, {c.Args[0]});
    }
    EXPECT_EQ(seen, std::vector<std::string>{c.Expected});
  }
}

// ---- Ownership and free notification ------------------------------------------------------

TEST(TIdInitializerComponent, DestructionClearsWatchingReferences) {
  TWatcher watcher;
  auto watched = std::make_unique<TIdBaseComponent>();
  TIdBaseComponent* const raw = watched.get();
  watcher.Watch(raw);
  watched.reset();
  EXPECT_EQ(watcher.Ref, nullptr);
  ASSERT_EQ(watcher.Told.size(), 1u);
  EXPECT_EQ(watcher.Told[0].first, raw);
  EXPECT_EQ(watcher.Told[0].second, opRemove);
}

TEST(TIdInitializerComponent, WithdrawnRequestsAreNotTold) {
  TWatcher watcher;
  auto watched = std::make_unique<TIdBaseComponent>();
  watcher.Watch(watched.get());
  watcher.Watch(nullptr);
  watched.reset();
  EXPECT_TRUE(watcher.Told.empty());
}

TEST(TIdInitializerComponent, RequestsAreCounted) {
  TWatcher watcher;
  auto watched = std::make_unique<TIdBaseComponent>();
  watched->FreeNotification(&watcher);
  watched->FreeNotification(&watcher);
  watched->RemoveFreeNotification(&watcher); // one reference released, one still held
  watched.reset();
  EXPECT_EQ(watcher.Told.size(), 1u);
}

TEST(TIdInitializerComponent, AWatcherThatGoesFirstIsForgotten) {
  auto watched = std::make_unique<TWatcher>();
  auto watcher = std::make_unique<TWatcher>();
  watcher->Watch(watched.get());
  watched->Watch(watcher.get()); // mutual references
  watcher.reset();
  EXPECT_EQ(watched->Ref, nullptr);
  watched.reset(); // must not reach the destroyed watcher (ASan would report it)
}

TEST(TIdInitializerComponent, OwnerDestroysWhatItOwns) {
  auto owner = std::make_unique<TWatcher>();
  auto* child = new TWatcher(owner.get());     // NOLINT(cppcoreguidelines-owning-memory)
  auto* other = new TIdComponent(owner.get()); // NOLINT(cppcoreguidelines-owning-memory)
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(child->Owner(), owner.get());
  ASSERT_EQ(owner->Told.size(), 2u);
  EXPECT_EQ(owner->Told[0], std::make_pair(static_cast<TIdInitializerComponent*>(child), opInsert));

  TWatcher outsider;
  outsider.Watch(other);
  child->Watch(owner.get()); // a child that watches its owner is told, then destroyed
  owner.reset();
  EXPECT_EQ(outsider.Ref, nullptr);
}

TEST(TIdInitializerComponent, AChildDestroyedEarlyLeavesItsOwner) {
  TWatcher owner;
  auto* child = new TIdBaseComponent(&owner); // NOLINT(cppcoreguidelines-owning-memory)
  const auto address = reinterpret_cast<uintptr_t>(static_cast<TIdInitializerComponent*>(child));
  delete child; // NOLINT(cppcoreguidelines-owning-memory)
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(owner.Told.back().first), address);
  EXPECT_EQ(owner.Told.back().second, opRemove);
}

// ---- Socket stack lifetime ----------------------------------------------------------------

TEST(TIdComponent, TheSocketStackLivesWhileAnyComponentOrBufferDoes) {
  ASSERT_EQ(GStack(), nullptr) << "another test left a stack user registered";
  auto component = std::make_unique<TIdComponent>();
  auto buffer = std::make_unique<TIdBuffer>();
  TIdStack* const stack = GStack();
  ASSERT_NE(stack, nullptr);
  component.reset();
  EXPECT_EQ(GStack(), stack);
  buffer.reset();
  EXPECT_EQ(GStack(), nullptr);
  {
    TIdComponent owner;
    new TIdComponent(&owner); // NOLINT(cppcoreguidelines-owning-memory): owned by owner
  }
  EXPECT_EQ(GStack(), nullptr);
}

} // namespace
} // namespace ftpc
