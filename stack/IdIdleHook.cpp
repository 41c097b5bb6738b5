#include "stack/IdIdleHook.h"

#include <atomic>

namespace ftpc {

namespace {

std::atomic<const TIdIdleHook*> GIdleHook{nullptr};

} // namespace

void SetIdleHook(const TIdIdleHook* AHook) { GIdleHook.store(AHook); }

bool IdleHookShouldUse() {
  const TIdIdleHook* hook = GIdleHook.load();
  return hook != nullptr && hook->ShouldUse();
}

int32_t IdleHookTimeOut() { return GIdleHook.load()->IdleTimeOut(); }

void IdleHookProcess(bool AIdle, bool AOverride) {
  const TIdIdleHook* hook = GIdleHook.load();
  if (hook != nullptr) {
    hook->DoProcess(AIdle, AOverride);
  }
}

} // namespace ftpc
