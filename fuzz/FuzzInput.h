// Taking typed values off the front of a fuzzer's input, so one input can choose options and
// still carry the bytes under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ftpc::fuzz {

class TFuzzInput {
public:
  TFuzzInput(const uint8_t* AData, size_t ASize) : FData(AData), FSize(ASize) {}

  // The next byte, or 0 once the input is used up.
  uint8_t TakeByte() {
    if (FSize == 0) {
      return 0;
    }
    --FSize;
    return *FData++;
  }

  // The next eight bytes as one value (missing bytes count as 0).
  uint64_t TakeUInt64() {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
      value = value << 8 | TakeByte();
    }
    return value;
  }

  // Everything up to the next zero byte (dropped), or the rest.
  std::string_view TakeText() {
    size_t length = 0;
    while (length < FSize && FData[length] != 0) {
      ++length;
    }
    const std::string_view text(reinterpret_cast<const char*>(FData), length);
    const size_t used = length < FSize ? length + 1 : length;
    FData += used;
    FSize -= used;
    return text;
  }

  std::string_view Rest() const { return {reinterpret_cast<const char*>(FData), FSize}; }

private:
  const uint8_t* FData;
  size_t FSize;
};

// Stops the run with a report when a property the code promises does not hold.
inline void Require(bool ACondition) {
  if (!ACondition) {
    __builtin_trap();
  }
}

} // namespace ftpc::fuzz
