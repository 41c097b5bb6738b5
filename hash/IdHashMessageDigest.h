// The MD4 (RFC 1320) and MD5 (RFC 1321) message digests: 16-byte digests over 64-byte blocks.
#pragma once

#include <array>

#include "hash/IdHash.h"

namespace ftpc {

using T4x4LongWordRecord = std::array<uint32_t, 4>;

// Base of the 64-byte-block message digests; holds the partial last block.
class TIdHashMessageDigest : public TIdHash {
public:
  std::string ClassName() const override { return "TIdHashMessageDigest"; }

protected:
  std::string HashToHex(const TBytes& AHash) override;

  TMessageBlock FCBuffer{};
};

class TIdHashMessageDigest4 : public TIdHashMessageDigest {
public:
  std::string ClassName() const override { return "TIdHashMessageDigest4"; }

protected:
  TBytes GetHashBytes(TStream& AStream, int64_t ACount) override;
  // Runs the block transformation over ABlockCount consecutive 64-byte blocks.
  virtual void MDCoder(const uint8_t* ABlocks, size_t ABlockCount);

  T4x4LongWordRecord FState{};
};

// MD5 keeps MD4's state, padding and output; only the block transformation differs.
class TIdHashMessageDigest5 : public TIdHashMessageDigest4 {
public:
  std::string ClassName() const override { return "TIdHashMessageDigest5"; }

protected:
  void MDCoder(const uint8_t* ABlocks, size_t ABlockCount) override;
};

} // namespace ftpc
