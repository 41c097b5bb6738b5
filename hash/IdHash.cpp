#include "hash/IdHash.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "global/IdStream.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <cpuid.h>
#define FTPC_HASH_X86 1
#endif

namespace ftpc {

namespace {

// A read-only stream over bytes owned by the caller, so that hashing a byte array needs no
// copy of it.
class TIdBytesReadStream final : public TStream {
public:
  TIdBytesReadStream(const uint8_t* AData, int64_t ASize) : FData(AData), FSize(ASize) {}

  int64_t Read(void* ABuffer, int64_t ACount) override {
    const int64_t count = std::min(ACount, FSize - FPosition);
    if (count <= 0) {
      return 0;
    }
    std::memcpy(ABuffer, FData + FPosition, static_cast<size_t>(count));
    FPosition += count;
    return count;
  }
  int64_t Write(const void* /*ABuffer*/, int64_t /*ACount*/) override { return 0; }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    const int64_t base = AOrigin == soBeginning ? 0 : AOrigin == soCurrent ? FPosition : FSize;
    FPosition = std::clamp<int64_t>(base + AOffset, 0, FSize);
    return FPosition;
  }
  void SetSize(int64_t /*ASize*/) override {}
  int64_t Size() override { return FSize; }

private:
  const uint8_t* FData;
  int64_t FSize;
  int64_t FPosition = 0;
};

void StoreLength(uint8_t* ADest, uint64_t ABits, bool ABigEndian) {
  for (int i = 0; i < 8; ++i) {
    const int shift = ABigEndian ? 56 - 8 * i : 8 * i;
    ADest[i] = static_cast<uint8_t>(ABits >> shift);
  }
}

std::atomic<bool>& AccelerationFlag() {
  static std::atomic<bool> enabled{true};
  return enabled;
}

struct TCpuFeatures {
  bool Sha = false;    // SHA-1 rounds, with the SSSE3 and SSE4.1 the code also uses
  bool Pclmul = false; // carry-less multiply
};

TCpuFeatures DetectCpuFeatures() {
  TCpuFeatures features;
#ifdef FTPC_HASH_X86
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
    return features;
  }
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  features.Pclmul = (ecx & bit_PCLMUL) != 0 && (edx & bit_SSE2) != 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0) {
    features.Sha = ssse3 && sse41 && (ebx & bit_SHA) != 0;
  }
#endif
  return features;
}

const TCpuFeatures& CpuFeatures() {
  static const TCpuFeatures features = DetectCpuFeatures();
  return features;
}

} // namespace

// ---- TIdHash -----------------------------------------------------------------------------

TBytes TIdHash::HashString(std::string_view ASrc, TEncoding* AEncoding) {
  return HashBytes(ResolveEncoding(AEncoding)->GetBytes(ASrc));
}

std::string TIdHash::HashStringAsHex(std::string_view AStr, TEncoding* AEncoding) {
  return HashToHex(HashString(AStr, AEncoding));
}

TBytes TIdHash::HashBytes(const TBytes& ASrc) {
  TIdBytesReadStream stream(ASrc.data(), static_cast<int64_t>(ASrc.size()));
  return GetHashBytes(stream, stream.Size());
}

std::string TIdHash::HashBytesAsHex(const TBytes& ASrc) {
  return HashToHex(HashBytes(ASrc));
}

TBytes TIdHash::HashStream(TStream& AStream) {
  return HashStream(AStream, -1, -1);
}

std::string TIdHash::HashStreamAsHex(TStream& AStream) {
  return HashToHex(HashStream(AStream));
}

TBytes TIdHash::HashStream(TStream& AStream, int64_t AStartPos, int64_t ASize) {
  return GetHashBytes(AStream, PrepareRange(AStream, AStartPos, ASize));
}

std::string TIdHash::HashStreamAsHex(TStream& AStream, int64_t AStartPos, int64_t ASize) {
  return HashToHex(HashStream(AStream, AStartPos, ASize));
}

int64_t TIdHash::PrepareRange(TStream& AStream, int64_t AStartPos, int64_t ASize) {
  if (AStartPos >= 0) {
    AStream.Seek(AStartPos, soBeginning);
  }
  // A position past the end leaves nothing to hash rather than a negative count.
  const int64_t remainder = std::max<int64_t>(0, AStream.Size() - AStream.Position());
  return ASize < 0 ? remainder : std::min(ASize, remainder);
}

void TIdHash::ReadInBlocks(TStream& AStream, int64_t ACount, bool AExact, const TBlockSink& ASink) {
  if (ACount <= 0) {
    return;
  }
  const auto bufferSize = static_cast<size_t>(std::min<int64_t>(ACount, kReadBlockSize));
  const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(bufferSize);
  while (ACount > 0) {
    const int64_t wanted = std::min<int64_t>(ACount, static_cast<int64_t>(bufferSize));
    int64_t got = wanted;
    if (AExact) {
      AStream.ReadBuffer(buffer.get(), wanted);
    } else {
      got = AStream.Read(buffer.get(), wanted);
      if (got <= 0) {
        return;
      }
    }
    ASink(buffer.get(), static_cast<size_t>(got));
    ACount -= got;
  }
}

void TIdHash::HashPaddedBlocks(TStream& AStream, int64_t ACount, TMessageBlock& VBlock,
                               bool ABigEndianLength, const TBlockSink& ACoder) {
  constexpr size_t kBlock = sizeof(TMessageBlock);
  constexpr size_t kLengthAt = kBlock - 8;
  size_t pending = 0;
  ReadInBlocks(AStream, ACount, true, [&](const uint8_t* AData, size_t ALength) {
    if (pending > 0) {
      const size_t take = std::min(kBlock - pending, ALength);
      std::memcpy(VBlock.data() + pending, AData, take);
      pending += take;
      AData += take;
      ALength -= take;
      if (pending < kBlock) {
        return;
      }
      ACoder(VBlock.data(), kBlock);
      pending = 0;
    }
    const size_t whole = ALength - ALength % kBlock;
    if (whole > 0) {
      ACoder(AData, whole);
    }
    pending = ALength - whole;
    std::memcpy(VBlock.data(), AData + whole, pending);
  });
  VBlock[pending++] = 0x80;
  if (pending > kLengthAt) {
    std::fill(VBlock.begin() + static_cast<std::ptrdiff_t>(pending), VBlock.end(), 0);
    ACoder(VBlock.data(), kBlock);
    pending = 0;
  }
  std::fill(VBlock.begin() + static_cast<std::ptrdiff_t>(pending),
            VBlock.begin() + static_cast<std::ptrdiff_t>(kLengthAt), 0);
  // The standards count the length in bits modulo 2^64.
  StoreLength(VBlock.data() + kLengthAt, static_cast<uint64_t>(ACount) * 8U, ABigEndianLength);
  ACoder(VBlock.data(), kBlock);
}

// ---- TIdHash32 ---------------------------------------------------------------------------

uint32_t TIdHash32::HashValue(std::string_view ASrc, TEncoding* AEncoding) {
  return HashValue(ResolveEncoding(AEncoding)->GetBytes(ASrc));
}

uint32_t TIdHash32::HashValue(const TBytes& ASrc) {
  uint32_t value = 0;
  HashStart(value);
  HashBuffer(value, ASrc.data(), ASrc.size());
  HashEnd(value);
  return value;
}

uint32_t TIdHash32::HashValue(TStream& AStream) {
  return HashValue(AStream, -1, -1);
}

uint32_t TIdHash32::HashValue(TStream& AStream, int64_t AStartPos, int64_t ASize) {
  return RunningValue(AStream, PrepareRange(AStream, AStartPos, ASize));
}

void TIdHash32::HashBuffer(uint32_t& VRunningHash, const void* AData, size_t ALength) {
  const auto* bytes = static_cast<const uint8_t*>(AData);
  for (size_t i = 0; i < ALength; ++i) {
    HashByte(VRunningHash, bytes[i]);
  }
}

TBytes TIdHash32::GetHashBytes(TStream& AStream, int64_t ACount) {
  const uint32_t value = RunningValue(AStream, ACount);
  return TBytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

std::string TIdHash32::HashToHex(const TBytes& AHash) {
  uint32_t value = 0;
  for (size_t i = 0; i < AHash.size() && i < 4; ++i) {
    value |= static_cast<uint32_t>(AHash[i]) << (8 * i);
  }
  return LongWordToHex(value);
}

uint32_t TIdHash32::RunningValue(TStream& AStream, int64_t ACount) {
  uint32_t value = 0;
  HashStart(value);
  ReadInBlocks(AStream, ACount, false,
               [&](const uint8_t* AData, size_t ALength) { HashBuffer(value, AData, ALength); });
  HashEnd(value);
  return value;
}

// ---- Acceleration switch -------------------------------------------------------------------

void SetHashAccelerationEnabled(bool AEnabled) {
  AccelerationFlag().store(AEnabled);
}

bool HashAccelerationEnabled() {
  return AccelerationFlag().load();
}

namespace detail {

bool UseShaExtensions() {
  return HashAccelerationEnabled() && CpuFeatures().Sha;
}

bool UseCarrylessMultiply() {
  return HashAccelerationEnabled() && CpuFeatures().Pclmul;
}

} // namespace detail

} // namespace ftpc
