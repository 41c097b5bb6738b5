// Hashing streams and ranges of streams: positions, sizes, short reads and early ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>

#include "global/IdStream.h"
#include "hash/IdHashCRC.h"
#include "hash/IdHashMessageDigest.h"
#include "hash/IdHashSHA1.h"

namespace ftpc {
namespace {

using THashFactory = std::function<std::unique_ptr<TIdHash>()>;

const std::vector<std::pair<const char*, THashFactory>>& AllHashes() {
  static const std::vector<std::pair<const char*, THashFactory>> hashes = {
      {"CRC32", [] { return std::make_unique<TIdHashCRC32>(); }},
      {"MD4", [] { return std::make_unique<TIdHashMessageDigest4>(); }},
      {"MD5", [] { return std::make_unique<TIdHashMessageDigest5>(); }},
      {"SHA1", [] { return std::make_unique<TIdHashSHA1>(); }},
  };
  return hashes;
}

TBytes Counting(size_t ASize) {
  TBytes bytes(ASize);
  for (size_t i = 0; i < ASize; ++i) {
    bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  }
  return bytes;
}

TBytes Slice(const TBytes& ABytes, size_t AFrom, size_t ACount) {
  return TBytes(ABytes.begin() + static_cast<std::ptrdiff_t>(AFrom),
                ABytes.begin() + static_cast<std::ptrdiff_t>(AFrom + ACount));
}

// A memory stream that hands out at most a few bytes per Read (sizes from a fixed sequence),
// counts what it delivered, and can pretend to be longer than it is.
class TTrickleStream : public TStream {
public:
  explicit TTrickleStream(TBytes AData, int64_t AClaimedExtra = 0)
      : FData(std::move(AData)), FClaimedExtra(AClaimedExtra) {}
  int64_t Read(void* ABuffer, int64_t ACount) override {
    const int64_t available = static_cast<int64_t>(FData.size()) - FPosition;
    const int64_t got = std::min({ACount, FPieces(FRandom), std::max<int64_t>(available, 0)});
    std::copy_n(FData.begin() + FPosition, got, static_cast<uint8_t*>(ABuffer));
    FPosition += got;
    FDelivered += got;
    return got;
  }
  int64_t Write(const void* /*ABuffer*/, int64_t /*ACount*/) override { return 0; }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    FPosition = (AOrigin == soBeginning ? 0 : AOrigin == soCurrent ? FPosition : Size()) + AOffset;
    return FPosition;
  }
  void SetSize(int64_t /*ASize*/) override {}
  int64_t Size() override { return static_cast<int64_t>(FData.size()) + FClaimedExtra; }
  int64_t Delivered() const { return FDelivered; }

private:
  TBytes FData;
  int64_t FClaimedExtra;
  int64_t FPosition = 0;
  int64_t FDelivered = 0;
  std::mt19937 FRandom{7};
  std::uniform_int_distribution<int64_t> FPieces{1, 150};
};

struct TRangeCase {
  int64_t StartPos;
  int64_t Size;
  int64_t PositionBefore; // where the stream stands when hashing starts
  size_t ExpectedFrom;
  size_t ExpectedCount;
};

TEST(HashStream, RangesHashExactlyTheirBytes) {
  const TBytes data = Counting(100);
  const TRangeCase cases[] = {
      {10, 5, 0, 10, 5},                      // a range inside the stream
      {10, 500, 0, 10, 90},                   // a size past the end stops at the end
      {10, -1, 0, 10, 90},                    // a negative size means up to the end
      {-1, 5, 30, 30, 5},                     // a negative start keeps the current position
      {-1, -1, 30, 30, 70}, {0, 0, 50, 0, 0}, // nothing: the digest of no bytes
      {100, 5, 0, 100, 0},                    // starting at the end
      {250, 5, 0, 100, 0},                    // starting past the end hashes nothing
  };
  for (const auto& [name, factory] : AllHashes()) {
    auto hash = factory();
    for (const TRangeCase& item : cases) {
      SCOPED_TRACE(std::string(name) + " start " + std::to_string(item.StartPos) + " size " +
                   std::to_string(item.Size));
      TMemoryStream stream;
      stream.WriteBuffer(data.data(), 100);
      stream.SetPosition(item.PositionBefore);
      const std::string digest = hash->HashStreamAsHex(stream, item.StartPos, item.Size);
      EXPECT_EQ(digest, hash->HashBytesAsHex(Slice(data, std::min<size_t>(item.ExpectedFrom, 100),
                                                   item.ExpectedCount)));
      if (item.StartPos <= 100) {
        EXPECT_EQ(stream.Position(), static_cast<int64_t>(item.ExpectedFrom + item.ExpectedCount));
      }
    }
  }
}

TEST(HashStream, WholeStreamFormStartsAtTheCurrentPosition) {
  const TBytes data = Counting(300);
  for (const auto& [name, factory] : AllHashes()) {
    SCOPED_TRACE(name);
    auto hash = factory();
    TMemoryStream stream;
    stream.WriteBuffer(data.data(), 300);
    stream.SetPosition(120);
    EXPECT_EQ(hash->HashStream(stream), hash->HashBytes(Slice(data, 120, 180)));
  }
}

TEST(HashStream, ShortReadsGiveTheSameDigestAsWholeBuffers) {
  // Sizes around the 64-byte block and the 56-byte length field, and several blocks.
  for (const size_t size : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 1000, 5003}) {
    const TBytes data = Counting(size);
    for (const auto& [name, factory] : AllHashes()) {
      SCOPED_TRACE(std::string(name) + " size " + std::to_string(size));
      auto hash = factory();
      TTrickleStream stream(data);
      EXPECT_EQ(hash->HashStream(stream), hash->HashBytes(data));
      EXPECT_EQ(stream.Delivered(), static_cast<int64_t>(size));
    }
  }
}

TEST(HashStream, MessageDigestsNeverReadPastTheRange) {
  const TBytes data = Counting(1000);
  for (const auto& [name, factory] : AllHashes()) {
    SCOPED_TRACE(name);
    auto hash = factory();
    TTrickleStream stream(data);
    hash->HashStream(stream, 3, 700);
    EXPECT_EQ(stream.Delivered(), 700);
    EXPECT_EQ(stream.Position(), 703);
  }
}

TEST(HashStream, StreamEndingBeforeItsSize) {
  // The stream claims 50 bytes more than it can deliver. The running hash stops at the real
  // end; the block digests must read every byte of the range and report the short stream.
  const TBytes data = Counting(200);
  for (const auto& [name, factory] : AllHashes()) {
    SCOPED_TRACE(name);
    auto hash = factory();
    TTrickleStream stream(data, 50);
    if (std::string(name) == "CRC32") {
      EXPECT_EQ(hash->HashStream(stream), hash->HashBytes(data));
    } else {
      EXPECT_THROW(hash->HashStream(stream), EIdStreamError);
    }
  }
}

TEST(HashStream, HashValueFormsAgreeWithTheDigestBytes) {
  const TBytes data = Counting(100);
  TIdHashCRC32 crc;
  TMemoryStream stream;
  stream.WriteBuffer(data.data(), 100);
  stream.SetPosition(40);
  const uint32_t tail = crc.HashValue(stream);
  EXPECT_EQ(tail, crc.HashValue(Slice(data, 40, 60)));
  EXPECT_EQ(crc.HashValue(stream, 10, 5), crc.HashValue(Slice(data, 10, 5)));
  EXPECT_EQ(crc.HashStreamAsHex(stream, 40, -1),
            TIdHashCRC32().HashBytesAsHex(Slice(data, 40, 60)));
  char text[16];
  std::snprintf(text, sizeof(text), "%08X", tail);
  EXPECT_EQ(text, crc.HashBytesAsHex(Slice(data, 40, 60)));
}

} // namespace
} // namespace ftpc
