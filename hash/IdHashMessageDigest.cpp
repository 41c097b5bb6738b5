#include "hash/IdHashMessageDigest.h"

#include <bit>

namespace ftpc {

namespace {

using detail::LoadLE32;
using std::rotl;

constexpr T4x4LongWordRecord kInitialState = {0x67452301U, 0xEFCDAB89U, 0x98BADCFEU, 0x10325476U};

// The four working words rotate their roles every step: step I works on A = V[(4-I)%4],
// B = V[(5-I)%4], C = V[(6-I)%4], D = V[(7-I)%4], which saves the shuffling of names.
// TRound::Step<I> computes the new A from the four.
template <class TRound> struct TRotatingStep {
  template <size_t I> static void Run(uint32_t (&V)[4], const uint8_t*& ABlock) {
    constexpr size_t a = (4 - I % 4) % 4;
    V[a] = TRound::template Step<I>(V[a], V[(a + 1) % 4], V[(a + 2) % 4], V[(a + 3) % 4], ABlock);
  }
};

// ---- MD4 (RFC 1320) ----------------------------------------------------------------------

struct TMD4Round {
  static constexpr int kShift[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};
  static constexpr size_t kWord[3][16] = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                          {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15},
                                          {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15}};
  static constexpr uint32_t kAdd[3] = {0, 0x5A827999U, 0x6ED9EBA1U};

  template <size_t I>
  static uint32_t Step(uint32_t a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* ABlock) {
    constexpr size_t round = I / 16;
    uint32_t mixed = 0;
    if constexpr (round == 0) {
      mixed = d ^ (b & (c ^ d));
    } else if constexpr (round == 1) {
      mixed = (b & c) | (d & (b | c));
    } else {
      mixed = b ^ c ^ d;
    }
    const uint32_t word = LoadLE32(ABlock + 4 * kWord[round][I % 16]);
    return rotl(a + kAdd[round] + word + mixed, kShift[round][I % 4]);
  }
};

// ---- MD5 (RFC 1321) ----------------------------------------------------------------------

// The step functions are arranged for a short dependency chain: everything that does not
// depend on B (the word computed by the previous step) is added first, and G's two disjoint
// halves are added separately so that only B & D waits for B.
struct TMD5Round {
  static constexpr uint32_t kSine[64] = {
      0xD76AA478U, 0xE8C7B756U, 0x242070DBU, 0xC1BDCEEEU, 0xF57C0FAFU, 0x4787C62AU, 0xA8304613U,
      0xFD469501U, 0x698098D8U, 0x8B44F7AFU, 0xFFFF5BB1U, 0x895CD7BEU, 0x6B901122U, 0xFD987193U,
      0xA679438EU, 0x49B40821U, 0xF61E2562U, 0xC040B340U, 0x265E5A51U, 0xE9B6C7AAU, 0xD62F105DU,
      0x02441453U, 0xD8A1E681U, 0xE7D3FBC8U, 0x21E1CDE6U, 0xC33707D6U, 0xF4D50D87U, 0x455A14EDU,
      0xA9E3E905U, 0xFCEFA3F8U, 0x676F02D9U, 0x8D2A4C8AU, 0xFFFA3942U, 0x8771F681U, 0x6D9D6122U,
      0xFDE5380CU, 0xA4BEEA44U, 0x4BDECFA9U, 0xF6BB4B60U, 0xBEBFBC70U, 0x289B7EC6U, 0xEAA127FAU,
      0xD4EF3085U, 0x04881D05U, 0xD9D4D039U, 0xE6DB99E5U, 0x1FA27CF8U, 0xC4AC5665U, 0xF4292244U,
      0x432AFF97U, 0xAB9423A7U, 0xFC93A039U, 0x655B59C3U, 0x8F0CCC92U, 0xFFEFF47DU, 0x85845DD1U,
      0x6FA87E4FU, 0xFE2CE6E0U, 0xA3014314U, 0x4E0811A1U, 0xF7537E82U, 0xBD3AF235U, 0x2AD7D2BBU,
      0xEB86D391U};
  static constexpr int kShift[4][4] = {
      {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

  static constexpr size_t WordIndex(size_t AStep) {
    switch (AStep / 16) {
    case 0:
      return AStep % 16;
    case 1:
      return (5 * AStep + 1) % 16;
    case 2:
      return (3 * AStep + 5) % 16;
    default:
      return (7 * AStep) % 16;
    }
  }

  template <size_t I>
  static uint32_t Step(uint32_t a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* ABlock) {
    constexpr size_t round = I / 16;
    uint32_t sum = a + kSine[I] + LoadLE32(ABlock + 4 * WordIndex(I));
    if constexpr (round == 0) {
      sum += d ^ (b & (c ^ d));
    } else if constexpr (round == 1) {
      sum += c & ~d;
      sum += b & d;
    } else if constexpr (round == 2) {
      sum += b ^ (c ^ d);
    } else {
      sum += c ^ (b | ~d);
    }
    return b + rotl(sum, kShift[round][I % 4]);
  }
};

template <class TRound, size_t NSteps>
void RunBlocks(T4x4LongWordRecord& VState, const uint8_t* ABlocks, size_t ABlockCount) {
  uint32_t v[4] = {VState[0], VState[1], VState[2], VState[3]};
  for (; ABlockCount > 0; --ABlockCount, ABlocks += 64) {
    const uint32_t saved[4] = {v[0], v[1], v[2], v[3]};
    detail::UnrollSteps<TRotatingStep<TRound>>(std::make_index_sequence<NSteps>(), v, ABlocks);
    for (size_t i = 0; i < 4; ++i) {
      v[i] += saved[i];
    }
  }
  VState = {v[0], v[1], v[2], v[3]};
}

} // namespace

std::string TIdHashMessageDigest::HashToHex(const TBytes& AHash) {
  return BytesToHex(AHash);
}

TBytes TIdHashMessageDigest4::GetHashBytes(TStream& AStream, int64_t ACount) {
  FState = kInitialState;
  HashPaddedBlocks(AStream, ACount, FCBuffer, false, [this](const uint8_t* AData, size_t ALength) {
    MDCoder(AData, ALength / sizeof(TMessageBlock));
  });
  TBytes digest;
  digest.reserve(16);
  detail::AppendWords(digest, FState, false);
  return digest;
}

void TIdHashMessageDigest4::MDCoder(const uint8_t* ABlocks, size_t ABlockCount) {
  RunBlocks<TMD4Round, 48>(FState, ABlocks, ABlockCount);
}

void TIdHashMessageDigest5::MDCoder(const uint8_t* ABlocks, size_t ABlockCount) {
  RunBlocks<TMD5Round, 64>(FState, ABlocks, ABlockCount);
}

} // namespace ftpc
