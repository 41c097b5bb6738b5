#include "hash/IdHashSHA1.h"

#include <bit>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define FTPC_SHA_NI 1
#define FTPC_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))
#endif

namespace ftpc {

namespace {

using std::rotl;

constexpr T5x4LongWordRecord kInitialState = {0x67452301U, 0xEFCDAB89U, 0x98BADCFEU, 0x10325476U,
                                              0xC3D2E1F0U};

// ---- Portable transformation ---------------------------------------------------------------

// The five working words rotate their roles every step (step I works on A = V[(5-I)%5] and so
// on), and the message schedule lives in a ring of sixteen words.
struct TSHA1Step {
  static constexpr uint32_t kAdd[4] = {0x5A827999U, 0x6ED9EBA1U, 0x8F1BBCDCU, 0xCA62C1D6U};

  template <size_t I> static uint32_t Word(uint32_t (&W)[16], const uint8_t* ABlock) {
    if constexpr (I < 16) {
      W[I] = detail::LoadBE32(ABlock + 4 * I);
    } else {
      W[I % 16] = rotl(W[(I + 13) % 16] ^ W[(I + 8) % 16] ^ W[(I + 2) % 16] ^ W[I % 16], 1);
    }
    return W[I % 16];
  }

  template <size_t I> static void Run(uint32_t (&V)[5], uint32_t (&W)[16], const uint8_t*& ABlock) {
    constexpr size_t a = (5 - I % 5) % 5;
    constexpr size_t b = (a + 1) % 5;
    constexpr size_t c = (a + 2) % 5;
    constexpr size_t d = (a + 3) % 5;
    constexpr size_t e = (a + 4) % 5;
    constexpr size_t round = I / 20;
    uint32_t mixed = 0;
    if constexpr (round == 0) {
      mixed = V[d] ^ (V[b] & (V[c] ^ V[d]));
    } else if constexpr (round == 2) {
      mixed = (V[b] & V[c]) | (V[d] & (V[b] | V[c]));
    } else {
      mixed = V[b] ^ V[c] ^ V[d];
    }
    V[e] += rotl(V[a], 5) + mixed + kAdd[round] + Word<I>(W, ABlock);
    V[b] = rotl(V[b], 30);
  }
};

void CoderPortable(T5x4LongWordRecord& VState, const uint8_t* ABlocks, size_t ABlockCount) {
  uint32_t v[5] = {VState[0], VState[1], VState[2], VState[3], VState[4]};
  uint32_t w[16];
  for (; ABlockCount > 0; --ABlockCount, ABlocks += 64) {
    const uint32_t saved[5] = {v[0], v[1], v[2], v[3], v[4]};
    detail::UnrollSteps<TSHA1Step>(std::make_index_sequence<80>(), v, w, ABlocks);
    for (size_t i = 0; i < 5; ++i) {
      v[i] += saved[i];
    }
  }
  VState = {v[0], v[1], v[2], v[3], v[4]};
}

// ---- Transformation with the SHA instructions ------------------------------------------------

#ifdef FTPC_SHA_NI

// Registers hold A..D in one vector (A in the top lane), E in the top lane of another, and
// the schedule as four vectors of four words (the first word in the top lane). Each group of
// four rounds takes the next four schedule words; its E comes from A four rounds back.
struct TShaNiRegisters {
  __m128i Abcd;
  __m128i E;
  __m128i PreviousAbcd;
  __m128i W[4];
};

// W[t] = rotl(W[t-3] ^ W[t-8] ^ W[t-14] ^ W[t-16], 1) for the four words after AW0..AW3.
FTPC_SHA_TARGET inline __m128i NextWords(__m128i AW0, __m128i AW1, __m128i AW2, __m128i AW3) {
  return _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(AW0, AW1), AW2), AW3);
}

template <size_t G> FTPC_SHA_TARGET inline void ShaNiGroup(TShaNiRegisters& R) {
  if constexpr (G >= 4) {
    R.W[G % 4] = NextWords(R.W[G % 4], R.W[(G + 1) % 4], R.W[(G + 2) % 4], R.W[(G + 3) % 4]);
  }
  if constexpr (G == 0) {
    R.E = _mm_add_epi32(R.E, R.W[0]);
  } else {
    R.E = _mm_sha1nexte_epu32(R.PreviousAbcd, R.W[G % 4]);
  }
  R.PreviousAbcd = R.Abcd;
  R.Abcd = _mm_sha1rnds4_epu32(R.Abcd, R.E, G / 5);
}

template <size_t... G>
FTPC_SHA_TARGET inline void ShaNiRounds(TShaNiRegisters& R, std::index_sequence<G...> /*groups*/) {
  (ShaNiGroup<G>(R), ...);
}

FTPC_SHA_TARGET void CoderShaNi(T5x4LongWordRecord& VState, const uint8_t* ABlocks,
                                size_t ABlockCount) {
  // Reverses all sixteen bytes: big-endian words, the first one in the top lane.
  const __m128i byteReverse = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  TShaNiRegisters r{};
  r.Abcd =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(VState.data())), 0x1B);
  r.E = _mm_set_epi32(static_cast<int>(VState[4]), 0, 0, 0);
  for (; ABlockCount > 0; --ABlockCount, ABlocks += 64) {
    const __m128i savedAbcd = r.Abcd;
    const __m128i savedE = r.E;
    for (size_t i = 0; i < 4; ++i) {
      const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ABlocks + 16 * i));
      r.W[i] = _mm_shuffle_epi8(raw, byteReverse);
    }
    ShaNiRounds(r, std::make_index_sequence<20>());
    r.E = _mm_sha1nexte_epu32(r.PreviousAbcd, savedE);
    r.Abcd = _mm_add_epi32(r.Abcd, savedAbcd);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(VState.data()), _mm_shuffle_epi32(r.Abcd, 0x1B));
  VState[4] = static_cast<uint32_t>(_mm_extract_epi32(r.E, 3));
}

#endif // FTPC_SHA_NI

} // namespace

TBytes TIdHashSHA1::GetHashBytes(TStream& AStream, int64_t ACount) {
  FCheckSum = kInitialState;
  HashPaddedBlocks(AStream, ACount, FCBuffer, true, [this](const uint8_t* AData, size_t ALength) {
    Coder(AData, ALength / sizeof(TMessageBlock));
  });
  TBytes digest;
  digest.reserve(20);
  detail::AppendWords(digest, FCheckSum, true);
  return digest;
}

std::string TIdHashSHA1::HashToHex(const TBytes& AHash) {
  return BytesToHex(AHash);
}

void TIdHashSHA1::Coder(const uint8_t* ABlocks, size_t ABlockCount) {
#ifdef FTPC_SHA_NI
  if (detail::UseShaExtensions()) {
    CoderShaNi(FCheckSum, ABlocks, ABlockCount);
    return;
  }
#endif
  CoderPortable(FCheckSum, ABlocks, ABlockCount);
}

} // namespace ftpc
