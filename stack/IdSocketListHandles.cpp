#include "stack/IdSocketListHandles.h"

#include <algorithm>
#include <mutex>

#include "base/IdResourceStrings.h"

namespace ftpc {

namespace {

[[noreturn]] void RaiseSetSizeExceeded() {
  throw EIdStackSetSizeExceeded(std::string(RSSetSizeExceeded));
}

} // namespace

void TIdSocketListHandles::Add(TIdStackSocketHandle AHandle) {
  const std::lock_guard guard(FLock);
  if (FHandles.size() >= static_cast<size_t>(kCapacity)) {
    RaiseSetSizeExceeded();
  }
  FHandles.push_back(AHandle);
}

void TIdSocketListHandles::Remove(TIdStackSocketHandle AHandle) {
  const std::lock_guard guard(FLock);
  for (auto& handle : FHandles) {
    if (handle == AHandle) {
      // The last entry takes the place of the removed one.
      handle = FHandles.back();
      FHandles.pop_back();
      return;
    }
  }
}

int TIdSocketListHandles::Count() const {
  const std::lock_guard guard(FLock);
  return static_cast<int>(FHandles.size());
}

TIdStackSocketHandle TIdSocketListHandles::Item(int AIndex) const {
  const std::lock_guard guard(FLock);
  if (AIndex < 0 || static_cast<size_t>(AIndex) >= FHandles.size()) {
    RaiseSetSizeExceeded();
  }
  return FHandles[static_cast<size_t>(AIndex)];
}

void TIdSocketListHandles::Clear() {
  const std::lock_guard guard(FLock);
  FHandles.clear();
}

bool TIdSocketListHandles::ContainsSocket(TIdStackSocketHandle AHandle) const {
  const std::lock_guard guard(FLock);
  return std::find(FHandles.begin(), FHandles.end(), AHandle) != FHandles.end();
}

std::vector<TIdStackSocketHandle> TIdSocketListHandles::GetFDSet() const {
  const std::lock_guard guard(FLock);
  return FHandles;
}

void TIdSocketListHandles::SetFDSet(const std::vector<TIdStackSocketHandle>& AHandles) {
  if (AHandles.size() > static_cast<size_t>(kCapacity)) {
    RaiseSetSizeExceeded();
  }
  const std::lock_guard guard(FLock);
  FHandles = AHandles;
}

bool TIdSocketListHandles::SelectRead(int32_t ATimeout) {
  return !WaitReadable(ATimeout).empty();
}

bool TIdSocketListHandles::SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList,
                                        int32_t ATimeout) {
  const std::vector<TIdStackSocketHandle> ready = WaitReadable(ATimeout);
  if (ready.empty()) {
    return false;
  }
  if (!VSocketList) {
    VSocketList = CreateSocketList();
  }
  VSocketList->Clear();
  for (const TIdStackSocketHandle handle : ready) {
    VSocketList->Add(handle);
  }
  return true;
}

} // namespace ftpc
