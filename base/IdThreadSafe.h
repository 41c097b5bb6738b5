// Locks and values guarded by their own lock: the only objects meant to be shared between
// threads (an abort flag read by a transfer while another thread sets it, for example).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/IdException.h"

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

// Base of the guarded values: one critical section, made and freed with the object.
class TIdThreadSafe : public TObject {
public:
  TIdThreadSafe() = default;
  TIdThreadSafe(const TIdThreadSafe&) = delete;
  TIdThreadSafe& operator=(const TIdThreadSafe&) = delete;

  void Lock() const { FCriticalSection.Enter(); }
  void Unlock() const { FCriticalSection.Leave(); }
  std::string ClassName() const override { return "TIdThreadSafe"; }

protected:
  mutable TIdCriticalSection FCriticalSection;
};

class TIdThreadSafeInteger : public TIdThreadSafe {
public:
  int32_t Value() const;
  void SetValue(int32_t AValue);
  // Each returns the value before the change.
  int32_t Increment();
  int32_t Increment(int32_t AValue);
  int32_t Decrement();
  int32_t Decrement(int32_t AValue);
  std::string ClassName() const override { return "TIdThreadSafeInteger"; }

private:
  int32_t FValue = 0;
};

class TIdThreadSafeBoolean : public TIdThreadSafe {
public:
  bool Value() const;
  void SetValue(bool AValue);
  // Inverts the value and returns the new one.
  bool Toggle();
  std::string ClassName() const override { return "TIdThreadSafeBoolean"; }

private:
  bool FValue = false;
};

namespace detail {
template <typename T> struct TIsUniquePtr : std::false_type {};
template <typename T, typename D> struct TIsUniquePtr<std::unique_ptr<T, D>> : std::true_type {};
} // namespace detail

// A locked list. The list owns its items when TItem is a std::unique_ptr (ClearAndFree and
// destruction free them); with raw pointers or plain values it only holds them.
template <typename TItem> class TIdThreadSafeList : public TIdThreadSafe {
public:
  static constexpr bool OwnsObjects() { return detail::TIsUniquePtr<TItem>::value; }

  void Add(TItem AItem) {
    const std::lock_guard guard(FCriticalSection);
    FItems.push_back(std::move(AItem));
  }
  int Count() const {
    const std::lock_guard guard(FCriticalSection);
    return static_cast<int>(FItems.size());
  }
  bool IsCountLessThan(int AValue) const { return Count() < AValue; }
  bool IsEmpty() const { return Count() == 0; }
  // Takes the last item; an empty TItem when the list is empty.
  TItem Pop() {
    const std::lock_guard guard(FCriticalSection);
    if (FItems.empty()) {
      return TItem{};
    }
    TItem item = std::move(FItems.back());
    FItems.pop_back();
    return item;
  }
  // Takes the first item; an empty TItem when the list is empty.
  TItem Pull() {
    const std::lock_guard guard(FCriticalSection);
    if (FItems.empty()) {
      return TItem{};
    }
    TItem item = std::move(FItems.front());
    FItems.erase(FItems.begin());
    return item;
  }
  // Replaces the items with AItems.
  void Assign(std::vector<TItem> AItems) {
    const std::lock_guard guard(FCriticalSection);
    FItems = std::move(AItems);
  }
  void ClearAndFree() {
    const std::lock_guard guard(FCriticalSection);
    FItems.clear();
  }
  // Runs AAction on the items with the list locked.
  template <typename TAction> auto WithList(TAction&& AAction) {
    const std::lock_guard guard(FCriticalSection);
    return std::forward<TAction>(AAction)(FItems);
  }
  std::string ClassName() const override { return "TIdThreadSafeList"; }

private:
  std::vector<TItem> FItems;
};

} // namespace ftpc
