// The optimised block code against plain textbook forms of the algorithms, with hardware
// acceleration on and off, over random lengths, alignments and split points.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>

#include "hash/IdHashCRC.h"
#include "hash/IdHashMessageDigest.h"
#include "hash/IdHashSHA1.h"

namespace ftpc {
namespace {

using std::rotl;

// ---- Textbook forms, one byte and one step at a time ----------------------------------------

uint32_t ReferenceCrc32(const uint8_t* AData, size_t ALength) {
  uint32_t crc = 0xFFFFFFFFU;
  for (size_t i = 0; i < ALength; ++i) {
    crc ^= AData[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xEDB88320U : crc >> 1;
    }
  }
  return ~crc;
}

// The message with 0x80, zeros and the 64-bit bit length appended, byte by byte.
TBytes Padded(const TBytes& AMessage, bool ABigEndianLength) {
  TBytes padded = AMessage;
  padded.push_back(0x80);
  while (padded.size() % 64 != 56) {
    padded.push_back(0);
  }
  const uint64_t bits = static_cast<uint64_t>(AMessage.size()) * 8;
  for (int i = 0; i < 8; ++i) {
    padded.push_back(static_cast<uint8_t>(bits >> (ABigEndianLength ? 56 - 8 * i : 8 * i)));
  }
  return padded;
}

uint32_t Word(const TBytes& ABytes, size_t AAt, bool ABigEndian) {
  uint32_t word = 0;
  for (size_t i = 0; i < 4; ++i) {
    const size_t shift = ABigEndian ? 24 - 8 * i : 8 * i;
    word |= static_cast<uint32_t>(ABytes[AAt + i]) << shift;
  }
  return word;
}

TBytes WordsOut(const uint32_t* AWords, size_t ACount, bool ABigEndian) {
  TBytes out;
  for (size_t w = 0; w < ACount; ++w) {
    for (int i = 0; i < 4; ++i) {
      out.push_back(static_cast<uint8_t>(AWords[w] >> (ABigEndian ? 24 - 8 * i : 8 * i)));
    }
  }
  return out;
}

// RFC 1321 section 3.4 as written, with the sine table computed rather than copied.
TBytes ReferenceMD5(const TBytes& AMessage) {
  static const int kShifts[4][4] = {
      {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
  const TBytes message = Padded(AMessage, false);
  uint32_t h[4] = {0x67452301U, 0xEFCDAB89U, 0x98BADCFEU, 0x10325476U};
  for (size_t block = 0; block < message.size(); block += 64) {
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (unsigned i = 0; i < 64; ++i) {
      uint32_t f = 0;
      size_t g = 0;
      if (i < 16) {
        f = (b & c) | (~b & d), g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d, g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d), g = (7 * i) % 16;
      }
      const auto sine =
          static_cast<uint32_t>(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
      const uint32_t rotated =
          rotl(a + f + sine + Word(message, block + 4 * g, false), kShifts[i / 16][i % 4]);
      a = d, d = c, c = b, b = b + rotated;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
  }
  return WordsOut(h, 4, false);
}

// FIPS 180-1 section 7, method 1 (the full 80-word schedule).
TBytes ReferenceSHA1(const TBytes& AMessage) {
  const TBytes message = Padded(AMessage, true);
  uint32_t h[5] = {0x67452301U, 0xEFCDAB89U, 0x98BADCFEU, 0x10325476U, 0xC3D2E1F0U};
  for (size_t block = 0; block < message.size(); block += 64) {
    uint32_t w[80];
    for (size_t t = 0; t < 80; ++t) {
      w[t] = t < 16 ? Word(message, block + 4 * t, true)
                    : rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (size_t t = 0; t < 80; ++t) {
      uint32_t f = 0, k = 0;
      if (t < 20) {
        f = (b & c) | (~b & d), k = 0x5A827999U;
      } else if (t < 40) {
        f = b ^ c ^ d, k = 0x6ED9EBA1U;
      } else if (t < 60) {
        f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCU;
      } else {
        f = b ^ c ^ d, k = 0xCA62C1D6U;
      }
      const uint32_t temp = rotl(a, 5) + f + e + w[t] + k;
      e = d, d = c, c = rotl(b, 30), b = a, a = temp;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
  }
  return WordsOut(h, 5, true);
}

// ---- Comparisons ---------------------------------------------------------------------------

class HashFastPath : public ::testing::Test {
protected:
  void TearDown() override { SetHashAccelerationEnabled(true); }

  TBytes RandomBytes(size_t ACount) {
    TBytes bytes(ACount);
    for (uint8_t& byte : bytes) {
      byte = static_cast<uint8_t>(FRandom());
    }
    return bytes;
  }
  size_t RandomUpTo(size_t AMax) { return std::uniform_int_distribution<size_t>(0, AMax)(FRandom); }

  std::mt19937 FRandom{20240611};
};

TEST_F(HashFastPath, Crc32MatchesBitwiseFormAtAnyLengthAlignmentAndSplit) {
  const TBytes pool = RandomBytes(9000);
  for (const bool accelerated : {true, false}) {
    SetHashAccelerationEnabled(accelerated);
    TIdHashCRC32 crc;
    for (int round = 0; round < 400; ++round) {
      const size_t offset = RandomUpTo(15);
      const size_t length = round < 200 ? RandomUpTo(200) : RandomUpTo(8000);
      const size_t split = RandomUpTo(length);
      const uint8_t* data = pool.data() + offset;
      SCOPED_TRACE("offset " + std::to_string(offset) + " length " + std::to_string(length) +
                   " split " + std::to_string(split) + " accelerated " +
                   std::to_string(accelerated));
      uint32_t value = 0;
      crc.HashStart(value);
      crc.HashBuffer(value, data, split);
      crc.HashBuffer(value, data + split, length - split);
      crc.HashEnd(value);
      ASSERT_EQ(value, ReferenceCrc32(data, length));
    }
  }
}

TEST_F(HashFastPath, Crc32HashBufferAgreesWithHashByte) {
  const TBytes data = RandomBytes(777);
  TIdHashCRC32 crc;
  uint32_t byByte = 0x12345678U;
  uint32_t byBuffer = byByte;
  for (const uint8_t byte : data) {
    crc.HashByte(byByte, byte);
  }
  crc.HashBuffer(byBuffer, data.data(), data.size());
  EXPECT_EQ(byBuffer, byByte);
}

TEST_F(HashFastPath, BlockDigestsMatchTextbookFormsAtAnyLength) {
  for (const bool accelerated : {true, false}) {
    SetHashAccelerationEnabled(accelerated);
    TIdHashMessageDigest5 md5;
    TIdHashSHA1 sha1;
    for (int round = 0; round < 150; ++round) {
      const TBytes message =
          RandomBytes(round < 130 ? static_cast<size_t>(round) : RandomUpTo(20000));
      SCOPED_TRACE("length " + std::to_string(message.size()) + " accelerated " +
                   std::to_string(accelerated));
      ASSERT_EQ(md5.HashBytes(message), ReferenceMD5(message));
      ASSERT_EQ(sha1.HashBytes(message), ReferenceSHA1(message));
    }
  }
}

TEST_F(HashFastPath, AcceleratedSha1MatchesPortableOnLargeInput) {
  if (!detail::UseShaExtensions()) {
    GTEST_SKIP() << "the processor has no SHA instructions: only the portable path exists here";
  }
  const TBytes message = RandomBytes(3 * 1024 * 1024 + 17);
  TIdHashSHA1 sha1;
  const TBytes accelerated = sha1.HashBytes(message);
  SetHashAccelerationEnabled(false);
  EXPECT_FALSE(detail::UseShaExtensions());
  EXPECT_EQ(sha1.HashBytes(message), accelerated);
}

TEST_F(HashFastPath, CarrylessCrc32MatchesTablesOnLargeInput) {
  if (!detail::UseCarrylessMultiply()) {
    GTEST_SKIP() << "the processor has no carry-less multiply: only the table path exists here";
  }
  const TBytes message = RandomBytes(3 * 1024 * 1024 + 5);
  TIdHashCRC32 crc;
  const uint32_t accelerated = crc.HashValue(message);
  SetHashAccelerationEnabled(false);
  EXPECT_FALSE(detail::UseCarrylessMultiply());
  EXPECT_EQ(crc.HashValue(message), accelerated);
  EXPECT_EQ(accelerated, ReferenceCrc32(message.data(), message.size()));
}

} // namespace
} // namespace ftpc
