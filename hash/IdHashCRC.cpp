#include "hash/IdHashCRC.h"

#include <array>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define FTPC_CRC_PCLMUL 1
#endif

namespace ftpc {

namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320U;

using TCrcTable = std::array<uint32_t, 256>;

// Table k gives the effect of a byte followed by k zero bytes, so that eight bytes can be
// folded in with eight independent look-ups; table 0 is the classic byte table.
constexpr std::array<TCrcTable, 8> MakeSlicingTables() {
  std::array<TCrcTable, 8> tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t value = n;
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 1U) != 0 ? (value >> 1) ^ kReflectedPolynomial : value >> 1;
    }
    tables[0][n] = value;
  }
  for (size_t k = 1; k < tables.size(); ++k) {
    for (size_t n = 0; n < 256; ++n) {
      const uint32_t previous = tables[k - 1][n];
      tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFFU];
    }
  }
  return tables;
}

constexpr std::array<TCrcTable, 8> kTables = MakeSlicingTables();
static_assert(kTables[0][1] == 0x77073096U);

inline uint32_t UpdateByte(uint32_t ACrc, uint8_t AByte) {
  return kTables[0][(ACrc ^ AByte) & 0xFFU] ^ (ACrc >> 8);
}

uint32_t UpdateSlicing8(uint32_t ACrc, const uint8_t* AData, size_t ALength) {
  while (ALength >= 8) {
    const uint32_t low = detail::LoadLE32(AData) ^ ACrc;
    const uint32_t high = detail::LoadLE32(AData + 4);
    ACrc = kTables[7][low & 0xFFU] ^ kTables[6][(low >> 8) & 0xFFU] ^
           kTables[5][(low >> 16) & 0xFFU] ^ kTables[4][low >> 24] ^ kTables[3][high & 0xFFU] ^
           kTables[2][(high >> 8) & 0xFFU] ^ kTables[1][(high >> 16) & 0xFFU] ^
           kTables[0][high >> 24];
    AData += 8;
    ALength -= 8;
  }
  while (ALength-- > 0) {
    ACrc = UpdateByte(ACrc, *AData++);
  }
  return ACrc;
}

#ifdef FTPC_CRC_PCLMUL

// Folding by carry-less multiplication. A 16-byte chunk loaded little-endian holds the
// reflected polynomial L(x)*x^64 + H(x) (low half L holds the higher powers). Moving it D bits
// further along the message multiplies it by x^D, which modulo P is
// L * (x^(D+32) mod P) + H * (x^(D-32) mod P), shifted into place by the reflected multiply.
// Each constant is x^n mod P in the normal form (04C11DB7), bit-reflected and shifted left by
// one, which is what a carry-less multiply of reflected operands needs.
constexpr uint32_t Reflect32(uint32_t AValue) {
  uint32_t result = 0;
  for (int bit = 0; bit < 32; ++bit) {
    result |= ((AValue >> bit) & 1U) << (31 - bit);
  }
  return result;
}

constexpr uint64_t FoldConstant(unsigned AExponent) {
  uint32_t remainder = 1;
  for (unsigned i = 0; i < AExponent; ++i) {
    remainder = (remainder & 0x80000000U) != 0 ? (remainder << 1) ^ 0x04C11DB7U : remainder << 1;
  }
  return static_cast<uint64_t>(Reflect32(remainder)) << 1;
}

constexpr int64_t kFold512Low = static_cast<int64_t>(FoldConstant(512 + 32));
constexpr int64_t kFold512High = static_cast<int64_t>(FoldConstant(512 - 32));
constexpr int64_t kFold128Low = static_cast<int64_t>(FoldConstant(128 + 32));
constexpr int64_t kFold128High = static_cast<int64_t>(FoldConstant(128 - 32));

constexpr size_t kFoldWidth = 16;
constexpr size_t kFoldLanes = 4;
constexpr size_t kMinFoldLength = kFoldWidth * kFoldLanes;

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i AChunk, __m128i AConstants,
                                                           __m128i ANext) {
  const __m128i low = _mm_clmulepi64_si128(AChunk, AConstants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(AChunk, AConstants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), ANext);
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load128(const uint8_t* AData) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(AData));
}

// Needs at least kMinFoldLength bytes. The running value is xored into the first four bytes,
// the data is folded down to one 16-byte remainder, and that remainder and the tail go through
// the tables, starting from zero: the same value as folding in every byte one by one.
__attribute__((target("pclmul,sse2"))) uint32_t UpdateFolding(uint32_t ACrc, const uint8_t* AData,
                                                              size_t ALength) {
  const __m128i fold512 = _mm_set_epi64x(kFold512High, kFold512Low);
  const __m128i fold128 = _mm_set_epi64x(kFold128High, kFold128Low);
  __m128i lanes[kFoldLanes];
  for (size_t i = 0; i < kFoldLanes; ++i) {
    lanes[i] = Load128(AData + i * kFoldWidth);
  }
  lanes[0] = _mm_xor_si128(lanes[0], _mm_cvtsi32_si128(static_cast<int>(ACrc)));
  AData += kMinFoldLength;
  ALength -= kMinFoldLength;
  while (ALength >= kMinFoldLength) {
    for (size_t i = 0; i < kFoldLanes; ++i) {
      lanes[i] = Fold(lanes[i], fold512, Load128(AData + i * kFoldWidth));
    }
    AData += kMinFoldLength;
    ALength -= kMinFoldLength;
  }
  __m128i remainder = lanes[0];
  for (size_t i = 1; i < kFoldLanes; ++i) {
    remainder = Fold(remainder, fold128, lanes[i]);
  }
  while (ALength >= kFoldWidth) {
    remainder = Fold(remainder, fold128, Load128(AData));
    AData += kFoldWidth;
    ALength -= kFoldWidth;
  }
  uint8_t bytes[kFoldWidth];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), remainder);
  return UpdateSlicing8(UpdateSlicing8(0, bytes, kFoldWidth), AData, ALength);
}

#endif // FTPC_CRC_PCLMUL

uint32_t Update(uint32_t ACrc, const uint8_t* AData, size_t ALength) {
#ifdef FTPC_CRC_PCLMUL
  if (ALength >= kMinFoldLength && detail::UseCarrylessMultiply()) {
    return UpdateFolding(ACrc, AData, ALength);
  }
#endif
  return UpdateSlicing8(ACrc, AData, ALength);
}

} // namespace

void TIdHashCRC32::HashStart(uint32_t& VRunningHash) {
  VRunningHash = 0xFFFFFFFFU;
}

void TIdHashCRC32::HashByte(uint32_t& VRunningHash, uint8_t AByte) {
  VRunningHash = UpdateByte(VRunningHash, AByte);
}

void TIdHashCRC32::HashEnd(uint32_t& VRunningHash) {
  VRunningHash = ~VRunningHash;
}

void TIdHashCRC32::HashBuffer(uint32_t& VRunningHash, const void* AData, size_t ALength) {
  VRunningHash = Update(VRunningHash, static_cast<const uint8_t*>(AData), ALength);
}

} // namespace ftpc
