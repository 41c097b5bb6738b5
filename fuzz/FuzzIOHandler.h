// An I/O handler over a fuzzer's bytes, for the readers that take their input from a
// connection: the bytes arrive in chunks of a fixed size, then the source ends.
#pragma once

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "core/IdIOHandler.h"

namespace ftpc::fuzz {

// A source that delivers the input in chunks of a fixed size and then ends.
class TFuzzIOHandler final : public TIdIOHandler {
public:
  TFuzzIOHandler(std::string_view ABytes, size_t AChunk) : FBytes(ABytes), FChunk(AChunk) {}
  bool Readable(int32_t) override { return true; }
  bool HasSource() override { return true; }

protected:
  int32_t ReceiveFromSource(std::span<uint8_t> VBuffer) override {
    const size_t count = std::min({FChunk, VBuffer.size(), FBytes.size()});
    std::memcpy(VBuffer.data(), FBytes.data(), count);
    FBytes.remove_prefix(count);
    return static_cast<int32_t>(count);
  }
  int32_t SendToTarget(std::span<const uint8_t> ABuffer) override {
    return static_cast<int32_t>(ABuffer.size());
  }

private:
  std::string_view FBytes;
  size_t FChunk;
};

} // namespace ftpc::fuzz
