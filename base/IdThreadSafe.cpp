#include "base/IdThreadSafe.h"

namespace ftpc {

namespace {
// Counters wrap around instead of overflowing.
int32_t WrappingAdd(int32_t A, int32_t B) {
  return static_cast<int32_t>(static_cast<uint32_t>(A) + static_cast<uint32_t>(B));
}
} // namespace

int32_t TIdThreadSafeInteger::Value() const {
  const std::lock_guard guard(FCriticalSection);
  return FValue;
}

void TIdThreadSafeInteger::SetValue(int32_t AValue) {
  const std::lock_guard guard(FCriticalSection);
  FValue = AValue;
}

int32_t TIdThreadSafeInteger::Increment() {
  return Increment(1);
}

int32_t TIdThreadSafeInteger::Increment(int32_t AValue) {
  const std::lock_guard guard(FCriticalSection);
  const int32_t before = FValue;
  FValue = WrappingAdd(FValue, AValue);
  return before;
}

int32_t TIdThreadSafeInteger::Decrement() {
  return Decrement(1);
}

int32_t TIdThreadSafeInteger::Decrement(int32_t AValue) {
  const std::lock_guard guard(FCriticalSection);
  const int32_t before = FValue;
  FValue = WrappingAdd(FValue, static_cast<int32_t>(0u - static_cast<uint32_t>(AValue)));
  return before;
}

bool TIdThreadSafeBoolean::Value() const {
  const std::lock_guard guard(FCriticalSection);
  return FValue;
}

void TIdThreadSafeBoolean::SetValue(bool AValue) {
  const std::lock_guard guard(FCriticalSection);
  FValue = AValue;
}

bool TIdThreadSafeBoolean::Toggle() {
  const std::lock_guard guard(FCriticalSection);
  FValue = !FValue;
  return FValue;
}

} // namespace ftpc
