// Locks and values guarded by their own lock.
#pragma once

#include <mutex>

#include "core/IdException.h"

namespace ftpc {

// A critical section: a mutex the holder may enter again on the same thread.
class TIdCriticalSection : public TObject {
public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }
  bool TryEnter() { return FMutex.try_lock(); }
  // BasicLockable, so std::lock_guard / std::unique_lock work on it.
  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }
  std::string ClassName() const override { return "TIdCriticalSection"; }

private:
  std::recursive_mutex FMutex;
};

} // namespace ftpc
