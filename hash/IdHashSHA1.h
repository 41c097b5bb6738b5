// SHA-1 (FIPS 180-1): 20-byte digests over 64-byte blocks, with the digest command XSHA1.
#pragma once

#include <array>

#include "hash/IdHash.h"

namespace ftpc {

using T5x4LongWordRecord = std::array<uint32_t, 5>;

class TIdHashSHA1 : public TIdHash {
public:
  std::string ClassName() const override { return "TIdHashSHA1"; }

protected:
  TBytes GetHashBytes(TStream& AStream, int64_t ACount) override;
  std::string HashToHex(const TBytes& AHash) override;
  // Runs the block transformation over ABlockCount consecutive 64-byte blocks, with the
  // processor's SHA instructions where it has them.
  void Coder(const uint8_t* ABlocks, size_t ABlockCount);

  T5x4LongWordRecord FCheckSum{};
  TMessageBlock FCBuffer{};
};

} // namespace ftpc
