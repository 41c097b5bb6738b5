// The part of a socket list that every platform shares: up to kCapacity handles under the
// list's lock. A platform list adds only the readiness wait.
#pragma once

#include <vector>

#include "stack/IdStack.h"

namespace ftpc {

class TIdSocketListHandles : public TIdSocketList {
public:
  void Add(TIdStackSocketHandle AHandle) override;
  void Remove(TIdStackSocketHandle AHandle) override;
  int Count() const override;
  TIdStackSocketHandle Item(int AIndex) const override;
  void Clear() override;
  bool ContainsSocket(TIdStackSocketHandle AHandle) const override;
  bool SelectRead(int32_t ATimeout = IdTimeoutInfinite) override;
  bool SelectReadList(std::unique_ptr<TIdSocketList>& VSocketList,
                      int32_t ATimeout = IdTimeoutInfinite) override;

  // Copies of the handle set, taken and stored under the list's lock.
  std::vector<TIdStackSocketHandle> GetFDSet() const;
  void SetFDSet(const std::vector<TIdStackSocketHandle>& AHandles);

protected:
  // The handles ready for reading within ATimeout; works on a copy, so the list stays usable
  // (and unlocked) meanwhile.
  virtual std::vector<TIdStackSocketHandle> WaitReadable(int32_t ATimeout) const = 0;

private:
  std::vector<TIdStackSocketHandle> FHandles;
};

} // namespace ftpc
