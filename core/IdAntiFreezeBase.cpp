#include "core/IdAntiFreezeBase.h"

#include <algorithm>
#include <atomic>

#include "base/IdResourceStrings.h"
#include "global/IdGlobal.h"
#include "stack/IdIdleHook.h"

namespace ftpc {

namespace {

std::atomic<TIdAntiFreezeBase*> GAntiFreeze{nullptr};

void SleepFor(int32_t AMilliseconds) {
  SleepMs(static_cast<uint32_t>(std::max(AMilliseconds, 0)));
}

// Start-up: the socket layer's waits reach the anti-freeze instance through the idle hook.
const TIdIdleHook kAntiFreezeHook{
    &TIdAntiFreezeBase::ShouldUse, [] { return TIdAntiFreezeBase::Instance()->IdleTimeOut(); },
    [](bool AIdle, bool AOverride) { TIdAntiFreezeBase::DoProcess(AIdle, AOverride); }};
[[maybe_unused]] const bool GAntiFreezeHookInstalled = [] {
  SetIdleHook(&kAntiFreezeHook);
  return true;
}();

} // namespace

TIdAntiFreezeBase::TIdAntiFreezeBase(TIdInitializerComponent* AOwner) : TIdBaseComponent(AOwner) {
  TIdAntiFreezeBase* expected = nullptr;
  if (!GAntiFreeze.compare_exchange_strong(expected, this)) {
    throw EIdException(std::string(RSOnlyOneAntiFreeze));
  }
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
  TIdAntiFreezeBase* expected = this;
  GAntiFreeze.compare_exchange_strong(expected, nullptr);
}

TIdAntiFreezeBase* TIdAntiFreezeBase::Instance() {
  return GAntiFreeze.load();
}

bool TIdAntiFreezeBase::ShouldUse() {
  // Only the main thread may look at the instance: it is created and destroyed there.
  if (!InMainThread()) {
    return false;
  }
  const TIdAntiFreezeBase* instance = Instance();
  return instance != nullptr && instance->Active();
}

void TIdAntiFreezeBase::DoProcess(bool AIdle, bool AOverride) {
  if (!ShouldUse()) {
    return;
  }
  TIdAntiFreezeBase* instance = Instance();
  if (AIdle || !instance->OnlyWhenIdle() || AOverride) {
    instance->Process();
  }
}

void TIdAntiFreezeBase::Sleep(int32_t ATimeout) {
  if (!ShouldUse()) {
    SleepFor(ATimeout);
    return;
  }
  // A non-positive idle time-out counts as 1 ms, so that every step makes progress.
  const int32_t step = std::max(Instance()->IdleTimeOut(), 1);
  int32_t remaining = ATimeout;
  while (remaining > 0) {
    const int32_t slice = std::min(step, remaining);
    SleepFor(slice);
    remaining -= slice;
    DoProcess(true);
  }
}

} // namespace ftpc
