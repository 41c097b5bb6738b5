#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <numeric>
#include <string>

#include "global/IdStream.h"

// Counts heap allocations while a test asks for it, to pin down that a steady flow of blocks
// through a stream allocates nothing. Every form is replaced so allocation and release stay
// paired under the sanitizers.
namespace {
std::atomic<bool> gCounting{false};
std::atomic<int> gAllocations{0};

void* CountedAlloc(std::size_t ASize) noexcept {
  if (gCounting.load(std::memory_order_relaxed)) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
  }
  return std::malloc(ASize == 0 ? 1 : ASize);
}
void* CountedAllocOrThrow(std::size_t ASize) {
  if (void* p = CountedAlloc(ASize)) {
    return p;
  }
  throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t ASize) {
  return CountedAllocOrThrow(ASize);
}
void* operator new[](std::size_t ASize) {
  return CountedAllocOrThrow(ASize);
}
void* operator new(std::size_t ASize, const std::nothrow_t&) noexcept {
  return CountedAlloc(ASize);
}
void* operator new[](std::size_t ASize, const std::nothrow_t&) noexcept {
  return CountedAlloc(ASize);
}
void operator delete(void* APtr) noexcept {
  std::free(APtr);
}
void operator delete[](void* APtr) noexcept {
  std::free(APtr);
}
void operator delete(void* APtr, std::size_t) noexcept {
  std::free(APtr);
}
void operator delete[](void* APtr, std::size_t) noexcept {
  std::free(APtr);
}
void operator delete(void* APtr, const std::nothrow_t&) noexcept {
  std::free(APtr);
}
void operator delete[](void* APtr, const std::nothrow_t&) noexcept {
  std::free(APtr);
}

namespace ftpc {
namespace {

TBytes Sequence(size_t ACount, uint8_t AFirst = 0) {
  TBytes bytes(ACount);
  std::iota(bytes.begin(), bytes.end(), AFirst);
  return bytes;
}

TMemoryStream StreamOf(const TBytes& AContent, int64_t APosition) {
  TMemoryStream stream;
  stream.WriteBuffer(AContent.data(), static_cast<int64_t>(AContent.size()));
  stream.SetPosition(APosition);
  return stream;
}

struct TReadBytesCase {
  const char* Name;
  int64_t StreamSize;
  int64_t Position;
  size_t ArraySize;
  int64_t Count;
  int64_t Offset;
  int64_t ExpectedRead;
  size_t ExpectedArraySize;
};

constexpr TReadBytesCase kReadBytesCases[] = {
    {"rest of the stream into an empty array", 10, 4, 0, -1, 0, 6, 6},
    {"a long array is never shortened", 50, 0, 100, 10, 0, 10, 100},
    {"zero count touches nothing", 10, 0, 3, 0, 0, 0, 3},
    {"short at the end of the stream", 10, 8, 0, 5, 0, 2, 5},
    {"at an offset lengthens to offset plus count", 10, 0, 2, 4, 3, 4, 7},
    {"rest of a stream positioned past its end", 10, 12, 0, -1, 0, 0, 0},
};

TEST(TIdStreamHelperVCL, ReadBytesLengthensTheArrayAndReadsOnceAtTheOffset) {
  for (const TReadBytesCase& c : kReadBytesCases) {
    SCOPED_TRACE(c.Name);
    const TBytes content = Sequence(static_cast<size_t>(c.StreamSize), 100);
    TMemoryStream stream = StreamOf(content, c.Position);
    TBytes target(c.ArraySize, 0xEE);
    EXPECT_EQ(TIdStreamHelperVCL::ReadBytes(stream, target, c.Count, c.Offset), c.ExpectedRead);
    ASSERT_EQ(target.size(), c.ExpectedArraySize);
    for (int64_t i = 0; i < c.ExpectedRead; ++i) {
      EXPECT_EQ(target[static_cast<size_t>(c.Offset + i)],
                content[static_cast<size_t>(c.Position + i)]);
    }
    for (int64_t i = 0; i < c.Offset && static_cast<size_t>(i) < c.ArraySize; ++i) {
      EXPECT_EQ(target[static_cast<size_t>(i)], 0xEE) << "byte before the offset changed";
    }
  }
}

struct TWriteCase {
  const char* Name;
  size_t ArraySize;
  int64_t Count;
  int64_t Offset;
  int64_t ExpectedWritten;
};

constexpr TWriteCase kWriteCases[] = {
    {"count clipped to what follows the offset", 6, 5, 3, 3},
    {"negative count writes the rest", 6, -1, 2, 4},
    {"empty array", 0, -1, 0, 0},
    {"offset at the end", 6, -1, 6, 0},
    {"offset past the end", 6, 3, 9, 0},
    {"zero count", 6, 0, 1, 0},
};

TEST(TIdStreamHelperVCL, WriteTakesTheUsableBytesAfterTheOffset) {
  for (const TWriteCase& c : kWriteCases) {
    SCOPED_TRACE(c.Name);
    const TBytes source = Sequence(c.ArraySize, 1);
    TMemoryStream stream;
    EXPECT_EQ(TIdStreamHelperVCL::Write(stream, source, c.Count, c.Offset), c.ExpectedWritten);
    const TBytes expected(source.begin() + std::min<int64_t>(c.Offset, c.ArraySize),
                          source.begin() + std::min<int64_t>(c.Offset, c.ArraySize) +
                              c.ExpectedWritten);
    EXPECT_EQ(stream.Memory(), expected);
  }
}

TEST(TIdStreamHelperVCL, NegativeOffsetsAndOversizedCountsAreRefused) {
  TMemoryStream stream;
  TBytes bytes(4);
  EXPECT_THROW(TIdStreamHelperVCL::ReadBytes(stream, bytes, 1, -1), EIdAssertionFailure);
  EXPECT_THROW(TIdStreamHelperVCL::Write(stream, bytes, 1, -1), EIdAssertionFailure);
  EXPECT_THROW(WriteBytesToStream(stream, bytes, 1, -2), EIdAssertionFailure);
  EXPECT_THROW(ReadBytesFromStream(stream, bytes, int64_t{1} << 31), EIdAssertionFailure);
  EXPECT_EQ(bytes.size(), 4u);
}

// A stream that accepts at most a few bytes per write and then nothing, like a full device.
class TShortWriteStream : public TMemoryStream {
public:
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    const int64_t take = std::min<int64_t>(ACount, FRoom);
    FRoom -= take;
    return TMemoryStream::Write(ABuffer, take);
  }
  int64_t FRoom = 3;
};

TEST(WriteBytesToStream, WritesEverythingOrRaises) {
  const TBytes source = Sequence(8);
  TMemoryStream whole;
  WriteBytesToStream(whole, source, -1, 2);
  EXPECT_EQ(whole.Memory(), TBytes(source.begin() + 2, source.end()));

  TShortWriteStream full;
  EXPECT_THROW(WriteBytesToStream(full, source), EIdStreamError);
}

// Records how the base stream maps the platform operations onto the array operations.
class TRecordingStream : public TIdBaseStream {
public:
  int32_t ReadIntoBytes(TBytes& VBuffer, int32_t AOffset, int32_t ACount) override {
    FReadArraySize = VBuffer.size();
    for (int32_t i = 0; i < std::min(ACount, FReadFill); ++i) {
      VBuffer[static_cast<size_t>(AOffset) + static_cast<size_t>(i)] =
          static_cast<uint8_t>('a' + i);
    }
    return FReadResult;
  }
  int32_t WriteFromBytes(const TBytes& ABuffer, int32_t AOffset, int32_t ACount) override {
    FWritten.assign(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ACount);
    ++FWriteCalls;
    return ACount;
  }
  int64_t SeekPosition(int64_t AOffset, TSeekOrigin AOrigin) override {
    FSeekOrigin = AOrigin;
    return AOffset + 1000;
  }
  void ChangeSize(int64_t ASize) override { FNewSize = ASize; }

  int32_t FReadFill = 0;
  int32_t FReadResult = 0;
  size_t FReadArraySize = 0;
  TBytes FWritten;
  int FWriteCalls = 0;
  TSeekOrigin FSeekOrigin = soBeginning;
  int64_t FNewSize = -1;
};

struct TBaseReadCase {
  const char* Name;
  int32_t Fill;
  int32_t Claimed;
  int64_t ExpectedResult;
  std::string ExpectedOut;
};

TEST(TIdBaseStream, ReadCopiesOutOnlyWhatTheSubclassDelivered) {
  const TBaseReadCase cases[] = {
      {"full read", 4, 4, 4, "abcd"},
      {"short read", 2, 2, 2, "ab--"},
      {"nothing", 0, 0, 0, "----"},
      {"error result", 0, -1, 0, "----"},
      {"claims more than was asked", 4, 99, 4, "abcd"},
  };
  for (const TBaseReadCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRecordingStream stream;
    stream.FReadFill = c.Fill;
    stream.FReadResult = c.Claimed;
    std::string out(4, '-');
    EXPECT_EQ(stream.Read(out.data(), 4), c.ExpectedResult);
    EXPECT_EQ(stream.FReadArraySize, 4u) << "the subclass must see an array of exactly Count";
    EXPECT_EQ(out, c.ExpectedOut);
  }
}

TEST(TIdBaseStream, WriteSeekAndSizePassThrough) {
  TRecordingStream stream;
  EXPECT_EQ(stream.Write("xyz", 0), 0);
  EXPECT_EQ(stream.Write("xyz", -5), 0);
  EXPECT_EQ(stream.FWriteCalls, 0);
  EXPECT_EQ(stream.Write("xyz", 3), 3);
  EXPECT_EQ(stream.FWritten, (TBytes{'x', 'y', 'z'}));
  EXPECT_EQ(stream.Seek(5, soEnd), 1005);
  EXPECT_EQ(stream.FSeekOrigin, soEnd);
  stream.SetSize(77);
  EXPECT_EQ(stream.FNewSize, 77);
}

TEST(TIdBaseStream, SteadyBlocksAllocateNothingAfterTheFirst) {
  TRecordingStream stream;
  stream.FReadFill = 8;
  stream.FReadResult = 8;
  TBytes block(4096, 7);
  stream.Write(block.data(), 4096);
  stream.Read(block.data(), 4096);
  stream.FWritten.reserve(4096);

  gAllocations = 0;
  gCounting = true;
  for (int i = 0; i < 100; ++i) {
    stream.Write(block.data(), 4096 - i);
    stream.Read(block.data(), 4096 - i);
  }
  gCounting = false;
  EXPECT_EQ(gAllocations.load(), 0);
}

// A subclass that takes caller memory directly sees the caller's own bytes.
class TZeroCopyStream : public TRecordingStream {
protected:
  int64_t WriteFromSpan(std::span<const uint8_t> ABuffer) override {
    FSeen = ABuffer.data();
    return static_cast<int64_t>(ABuffer.size());
  }

public:
  const uint8_t* FSeen = nullptr;
};

TEST(TIdBaseStream, OverriddenSpanPathSeesTheCallersBuffer) {
  TZeroCopyStream stream;
  const TBytes block(64, 1);
  EXPECT_EQ(stream.Write(block.data(), 64), 64);
  EXPECT_EQ(stream.FSeen, block.data());
  EXPECT_EQ(stream.FWriteCalls, 0);
}

} // namespace
} // namespace ftpc
