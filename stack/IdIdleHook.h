// The seam through which the socket waits hand control to a host's idle processing: the
// anti-freeze component above installs its operations here, so the socket layer never needs
// to know it.
#pragma once

#include <cstdint>

namespace ftpc {

struct TIdIdleHook {
  // True when waits should run in slices with idle processing between them.
  bool (*ShouldUse)() = nullptr;
  // The length of one slice in ms; only asked when ShouldUse is true.
  int32_t (*IdleTimeOut)() = nullptr;
  // Runs the host's processing (AIdle: nothing arrived during the last wait).
  void (*DoProcess)(bool AIdle, bool AOverride) = nullptr;
};

// Installs the process-wide hook; AHook must outlive every wait (a static object).
void SetIdleHook(const TIdIdleHook* AHook);

// The installed hook's operations, or neutral answers when none is installed.
bool IdleHookShouldUse();
int32_t IdleHookTimeOut();
void IdleHookProcess(bool AIdle, bool AOverride);

} // namespace ftpc
