#include "core/IdBuffer.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "base/IdResourceStrings.h"
#include "global/IdStream.h"
#include "stack/IdStack.h"

namespace ftpc {

namespace {

// The smallest block worth allocating, so that a run of tiny writes does not reallocate.
constexpr size_t kMinAllocation = 256;
// Clear keeps a block up to this size for the next fill; larger ones are given back.
constexpr size_t kMaxRetainedAllocation = size_t{256} * 1024;

// Network byte order (big-endian) by shifts, independent of the host's order.
template <typename T> void StoreBigEndian(T AValue, uint8_t* VOut) {
  for (size_t i = 0; i < sizeof(T); ++i) {
    VOut[sizeof(T) - 1 - i] = static_cast<uint8_t>(AValue >> (8 * i));
  }
}

template <typename T> T LoadBigEndian(const uint8_t* AIn) {
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) {
    value = static_cast<T>((value << 8) | AIn[i]);
  }
  return value;
}

int32_t ClampToMaxSize(int64_t AValue) {
  return static_cast<int32_t>(std::min<int64_t>(AValue, TIdBuffer::MaxSize));
}

[[noreturn]] void RaiseOutOfBounds() {
  throw EIdException(std::string(RSBufferIndexOutOfBounds));
}

[[noreturn]] void RaiseNotEnoughData(int64_t ARequested, int32_t ASize) {
  throw EIdNotEnoughDataInBuffer(FormatInvariant(RSNotEnoughDataInBuffer, {ARequested, ASize}));
}

} // namespace

// ---- Construction ----------------------------------------------------------------------

// Every buffer keeps the socket stack alive, as every component does.
TIdBuffer::TIdBuffer() {
  TIdStack::IncUsage();
}

TIdBuffer::TIdBuffer(TIdBufferBytesRemoved AOnBytesRemoved) : TIdBuffer() {
  FOnBytesRemoved = std::move(AOnBytesRemoved);
}

TIdBuffer::TIdBuffer(int32_t AGrowthFactor) : TIdBuffer() {
  SetGrowthFactor(AGrowthFactor);
}

TIdBuffer::TIdBuffer(const TBytes& ABytes, int32_t ALength) : TIdBuffer() {
  // A storage length longer than ABytes keeps only the bytes that really exist as content.
  const size_t available =
      ALength < 0 ? ABytes.size() : std::min(ABytes.size(), static_cast<size_t>(ALength));
  CheckRoomFor(static_cast<int64_t>(available), -1);
  const auto count = static_cast<int32_t>(available);
  if (count > 0) {
    EnsureTailRoom(available);
    std::memcpy(Tail(), ABytes.data(), available);
  }
  FSize = count;
  FCapacity = ALength < 0 ? count : ALength;
}

TIdBuffer::~TIdBuffer() {
  Clear();
  TIdStack::DecUsage();
}

// ---- Properties -------------------------------------------------------------------------

void TIdBuffer::SetCapacity(int32_t AValue) {
  if (AValue < FSize) {
    throw EIdException(std::string(RSBufferCapacityTooSmall));
  }
  CompactHead(true);
  FCapacity = AValue;
  if (AValue > FSize) {
    EnsureTailRoom(static_cast<size_t>(AValue - FSize));
  } else {
    ReleaseSlack();
  }
}

void TIdBuffer::SetGrowthFactor(int32_t AValue) {
  FGrowthFactor = std::max(AValue, 0);
}

std::string TIdBuffer::AsString() const {
  return FSize == 0 ? std::string() : ResolveEncoding(FEncoding)->GetString(Head(), FSize);
}

// ---- Memory -----------------------------------------------------------------------------

void TIdBuffer::CheckRoomFor(int64_t ACount, int32_t ADestIndex) const {
  const int64_t dest = std::max(ADestIndex, 0);
  if (int64_t{MaxSize} - ACount < dest + FSize) {
    throw EIdTooMuchDataInBuffer(std::string(RSTooMuchDataInBuffer));
  }
}

// Makes room for ACount bytes behind the content. Content is moved to the front only when it
// fills at most half the block, and a block grows at least twofold, so both costs stay
// proportional to the bytes appended.
void TIdBuffer::EnsureTailRoom(size_t ACount) {
  FReserved = 0;
  const size_t size = static_cast<size_t>(FSize);
  if (FAllocated - FStart - size >= ACount) {
    return;
  }
  if (size == 0 && FAllocated >= ACount) {
    FStart = 0;
    return;
  }
  if (size + ACount <= FAllocated && size <= FAllocated / 2) {
    std::memmove(FMemory.get(), Head(), size);
    FStart = 0;
    return;
  }
  const size_t doubled = std::min(FAllocated * 2, static_cast<size_t>(MaxSize));
  const size_t length = std::max({size + ACount, doubled, kMinAllocation});
  auto block = std::make_unique_for_overwrite<uint8_t[]>(length);
  if (size > 0) {
    std::memcpy(block.get(), Head(), size);
  }
  FMemory = std::move(block);
  FAllocated = length;
  FStart = 0;
}

// Gives a large block back once the content no longer needs most of it.
void TIdBuffer::ReleaseSlack() {
  const size_t keep = static_cast<size_t>(std::max(FCapacity, FSize));
  if (FAllocated <= kMaxRetainedAllocation || FAllocated / 2 <= keep) {
    return;
  }
  FReserved = 0;
  if (FSize == 0) {
    FMemory.reset();
    FAllocated = 0;
    FStart = 0;
    return;
  }
  auto block = std::make_unique_for_overwrite<uint8_t[]>(keep);
  std::memcpy(block.get(), Head(), static_cast<size_t>(FSize));
  FMemory = std::move(block);
  FAllocated = keep;
  FStart = 0;
}

// ---- Adding bytes -------------------------------------------------------------------------

// The capacity rules of an append of ACount bytes whose bytes already sit behind the content.
void TIdBuffer::CommitAppend(int32_t ACount) {
  FReserved = 0;
  if (FSize == 0) {
    FHeadIndex = 0;
    FCapacity = ACount; // a fresh storage holds exactly the new bytes
  } else {
    FHeadIndex = 0; // CompactHead without shrinking
    if (FCapacity - FSize < ACount) {
      FCapacity = ClampToMaxSize(int64_t{FSize} + ACount + FGrowthFactor);
    }
  }
  FSize += ACount;
}

void TIdBuffer::AppendBytes(const uint8_t* AData, int32_t ACount) {
  const auto count = static_cast<size_t>(ACount);
  const std::less<const uint8_t*> before;
  if (FMemory && !before(AData, FMemory.get()) && before(AData, FMemory.get() + FAllocated)) {
    // The source lies in our own block, which making room may move: copy it out first.
    const TBytes copy(AData, AData + count);
    EnsureTailRoom(count);
    std::memcpy(Tail(), copy.data(), count);
  } else {
    EnsureTailRoom(count);
    std::memcpy(Tail(), AData, count);
  }
  CommitAppend(ACount);
}

// Typed values size the storage to exactly the new end, without growth slack.
void TIdBuffer::AppendExact(const uint8_t* AData, int32_t ACount) {
  EnsureTailRoom(static_cast<size_t>(ACount));
  std::memcpy(Tail(), AData, static_cast<size_t>(ACount));
  if (FSize == 0) {
    FHeadIndex = 0;
  }
  FSize += ACount;
  FCapacity = FHeadIndex + FSize;
}

void TIdBuffer::OverwriteAt(const uint8_t* AData, int32_t ACount, int32_t ADestIndex) {
  if (ADestIndex > FSize) {
    RaiseOutOfBounds();
  }
  const int32_t inside = std::min(ACount, FSize - ADestIndex);
  if (inside > 0) {
    std::memmove(Head() + ADestIndex, AData, static_cast<size_t>(inside));
  }
  if (ACount > inside) {
    AppendBytes(AData + inside, ACount - inside);
  }
}

void TIdBuffer::WriteValue(const uint8_t* AData, int32_t ACount, int32_t ADestIndex) {
  CheckRoomFor(ACount, ADestIndex);
  if (ADestIndex < 0) {
    AppendExact(AData, ACount);
  } else {
    OverwriteAt(AData, ACount, ADestIndex);
  }
}

void TIdBuffer::Write(const TBytes& ABytes, int32_t ALength, int32_t AOffset, int32_t ADestIndex) {
  if (AOffset < 0) {
    RaiseOutOfBounds();
  }
  const size_t offset = std::min(ABytes.size(), static_cast<size_t>(AOffset));
  size_t count = ABytes.size() - offset;
  if (ALength >= 0) {
    count = std::min(count, static_cast<size_t>(ALength));
  }
  Write(std::span<const uint8_t>(ABytes.data() + offset, count), ADestIndex);
}

void TIdBuffer::Write(const TBytes& ABytes, int32_t ADestIndex) {
  Write(std::span<const uint8_t>(ABytes), ADestIndex);
}

void TIdBuffer::Write(std::span<const uint8_t> ABytes, int32_t ADestIndex) {
  if (ABytes.empty()) {
    return;
  }
  CheckRoomFor(static_cast<int64_t>(std::min<size_t>(ABytes.size(), INT64_MAX)), ADestIndex);
  const auto count = static_cast<int32_t>(ABytes.size());
  if (ADestIndex < 0) {
    AppendBytes(ABytes.data(), count);
  } else {
    OverwriteAt(ABytes.data(), count, ADestIndex);
  }
}

void TIdBuffer::Write(std::string_view AString, TEncoding* AEncoding, int32_t ADestIndex) {
  if (AString.empty()) {
    return;
  }
  const TBytes bytes =
      ResolveEncoding(AEncoding != nullptr ? AEncoding : FEncoding)->GetBytes(AString);
  Write(std::span<const uint8_t>(bytes), ADestIndex);
}

void TIdBuffer::Write(TStream& AStream, int64_t AByteCount) {
  int64_t count = 0;
  if (AByteCount == 0) {
    AStream.SetPosition(0);
    count = AStream.Size();
  } else {
    count = AStream.Size() - AStream.Position();
    if (AByteCount > 0) {
      count = std::min(count, AByteCount);
    }
  }
  if (count <= 0) {
    return;
  }
  CheckRoomFor(count, -1);
  CompactHead(true);
  // The bytes land in the free tail and count only once all have arrived, so a failing
  // stream leaves the content as it was.
  EnsureTailRoom(static_cast<size_t>(count));
  AStream.ReadBuffer(Tail(), count);
  FCapacity = FSize + static_cast<int32_t>(count);
  FSize = FCapacity;
}

void TIdBuffer::Write(uint8_t AValue, int32_t ADestIndex) {
  WriteValue(&AValue, 1, ADestIndex);
}

void TIdBuffer::Write(uint16_t AValue, int32_t ADestIndex) {
  uint8_t bytes[sizeof(AValue)];
  StoreBigEndian(AValue, bytes);
  WriteValue(bytes, sizeof(bytes), ADestIndex);
}

void TIdBuffer::Write(uint32_t AValue, int32_t ADestIndex) {
  uint8_t bytes[sizeof(AValue)];
  StoreBigEndian(AValue, bytes);
  WriteValue(bytes, sizeof(bytes), ADestIndex);
}

void TIdBuffer::Write(int64_t AValue, int32_t ADestIndex) {
  uint8_t bytes[sizeof(AValue)];
  StoreBigEndian(static_cast<uint64_t>(AValue), bytes);
  WriteValue(bytes, sizeof(bytes), ADestIndex);
}

void TIdBuffer::Write(const TIdIPv6Address& AValue, int32_t ADestIndex) {
  uint8_t bytes[sizeof(uint16_t) * 8];
  for (size_t i = 0; i < AValue.size(); ++i) {
    StoreBigEndian(AValue[i], bytes + 2 * i);
  }
  WriteValue(bytes, sizeof(bytes), ADestIndex);
}

std::span<uint8_t> TIdBuffer::Reserve(int32_t AMaxCount) {
  const int32_t count = std::max(AMaxCount, 0);
  CheckRoomFor(count, -1);
  EnsureTailRoom(static_cast<size_t>(count));
  FReserved = static_cast<size_t>(count);
  return {Tail(), FReserved};
}

void TIdBuffer::Commit(int32_t ACount) {
  if (ACount < 0 || static_cast<size_t>(ACount) > FReserved) {
    RaiseOutOfBounds();
  }
  if (ACount > 0) {
    CommitAppend(ACount);
  }
  FReserved = 0;
}

// ---- Taking bytes out ---------------------------------------------------------------------

void TIdBuffer::CheckIndexRange(int32_t AIndex, int64_t ACount) const {
  if (AIndex < 0 || AIndex > FSize || ACount < 0 || ACount > FSize - AIndex) {
    RaiseOutOfBounds();
  }
}

// The number of bytes an extraction takes, after checking that they are there.
int32_t TIdBuffer::CheckedExtractCount(int32_t AByteCount, int32_t AIndex) const {
  if (AIndex < 0) {
    const int32_t count = AByteCount < 0 ? FSize : AByteCount;
    if (count > FSize) {
      RaiseNotEnoughData(count, FSize);
    }
    return count;
  }
  if (AIndex > FSize) {
    RaiseOutOfBounds();
  }
  const int32_t count = AByteCount < 0 ? FSize - AIndex : AByteCount;
  CheckIndexRange(AIndex, count);
  return count;
}

void TIdBuffer::ExtractToBytes(TBytes& VBytes, int32_t AByteCount, bool AAppend, int32_t AIndex) {
  const int32_t count = CheckedExtractCount(AByteCount, AIndex);
  if (count == 0) {
    return;
  }
  const uint8_t* from = Head() + std::max(AIndex, 0);
  const auto length = static_cast<size_t>(count);
  if (AAppend) {
    VBytes.insert(VBytes.end(), from, from + length);
  } else if (VBytes.size() < length) {
    VBytes.assign(from, from + length);
  } else {
    std::memcpy(VBytes.data(), from, length); // a longer array keeps its trailing bytes
  }
  if (AIndex < 0) {
    Remove(count);
  }
}

std::string TIdBuffer::Extract(int32_t AByteCount, TEncoding* AEncoding) {
  const int32_t count = CheckedExtractCount(AByteCount, -1);
  if (count == 0) {
    return {};
  }
  std::string text =
      ResolveEncoding(AEncoding != nullptr ? AEncoding : FEncoding)->GetString(Head(), count);
  Remove(count);
  return text;
}

void TIdBuffer::ExtractToStream(TStream& AStream, int32_t AByteCount, int32_t AIndex) {
  const int32_t count = CheckedExtractCount(AByteCount, AIndex);
  if (count > 0) {
    AStream.WriteBuffer(Head() + std::max(AIndex, 0), count);
  }
  if (AIndex < 0) {
    // Written first so that a failing stream removes nothing; the compaction that precedes
    // the removal only changes the storage's bookkeeping.
    if (count > 0) {
      CompactHead(true);
    }
    Remove(count); // fires OnBytesRemoved even for 0 bytes
  }
}

void TIdBuffer::ExtractToIdBuffer(TIdBuffer& ABuffer, int32_t AByteCount, int32_t AIndex) {
  const int32_t count = CheckedExtractCount(AByteCount, AIndex);
  if (count == 0) {
    return;
  }
  ABuffer.Write(std::span<const uint8_t>(Head() + std::max(AIndex, 0), count));
  if (AIndex < 0) {
    Remove(count);
  }
}

const uint8_t* TIdBuffer::ValueAt(int32_t AWidth, int32_t AIndex) const {
  if (AIndex < 0) {
    if (FSize < AWidth) {
      RaiseNotEnoughData(AWidth, FSize);
    }
    return Head();
  }
  CheckIndexRange(AIndex, AWidth);
  return Head() + AIndex;
}

void TIdBuffer::TakeValue(int32_t AWidth, int32_t AIndex) {
  if (AIndex < 0) {
    Remove(AWidth);
  }
}

uint8_t TIdBuffer::ExtractToByte(int32_t AIndex) {
  const uint8_t value = *ValueAt(1, AIndex);
  TakeValue(1, AIndex);
  return value;
}

uint16_t TIdBuffer::ExtractToWord(int32_t AIndex) {
  const auto value = LoadBigEndian<uint16_t>(ValueAt(sizeof(uint16_t), AIndex));
  TakeValue(sizeof(uint16_t), AIndex);
  return value;
}

uint32_t TIdBuffer::ExtractToLongWord(int32_t AIndex) {
  const auto value = LoadBigEndian<uint32_t>(ValueAt(sizeof(uint32_t), AIndex));
  TakeValue(sizeof(uint32_t), AIndex);
  return value;
}

int64_t TIdBuffer::ExtractToInt64(int32_t AIndex) {
  const auto value = LoadBigEndian<uint64_t>(ValueAt(sizeof(uint64_t), AIndex));
  TakeValue(sizeof(uint64_t), AIndex);
  return static_cast<int64_t>(value);
}

void TIdBuffer::ExtractToIPv6(int32_t AIndex, TIdIPv6Address& VAddress) {
  constexpr int32_t width = sizeof(uint16_t) * 8;
  const uint8_t* from = ValueAt(width, AIndex);
  for (size_t i = 0; i < VAddress.size(); ++i) {
    VAddress[i] = LoadBigEndian<uint16_t>(from + 2 * i);
  }
  TakeValue(width, AIndex);
}

void TIdBuffer::Remove(int32_t AByteCount) {
  if (AByteCount < 0) {
    return;
  }
  if (AByteCount >= FSize) {
    Clear();
  } else {
    FHeadIndex += AByteCount;
    FStart += static_cast<size_t>(AByteCount);
    FSize -= AByteCount;
    if (FHeadIndex > FGrowthFactor) {
      CompactHead(true);
    }
  }
  if (FOnBytesRemoved) {
    FOnBytesRemoved(this, AByteCount);
  }
}

void TIdBuffer::Clear() {
  FSize = 0;
  FHeadIndex = 0;
  FCapacity = 0;
  FStart = 0;
  FReserved = 0;
  ReleaseSlack();
}

void TIdBuffer::SaveToStream(TStream& AStream) const {
  if (FSize > 0) {
    AStream.WriteBuffer(Head(), FSize);
  }
}

// ---- Inspection ---------------------------------------------------------------------------

int32_t TIdBuffer::IndexOf(std::span<const uint8_t> ABytes, int32_t AStartPos) const {
  if (FSize == 0) {
    return -1;
  }
  if (ABytes.empty()) {
    throw EIdException(std::string(RSBufferMissingTerminator));
  }
  if (AStartPos < 0 || AStartPos >= FSize) {
    throw EIdException(std::string(RSBufferInvalidStartPos));
  }
  if (ABytes.size() > static_cast<size_t>(FSize - AStartPos)) {
    return -1;
  }
  // Candidates are found with memchr on the first byte, then confirmed in full.
  const uint8_t* base = Head();
  const uint8_t* candidate = base + AStartPos;
  const uint8_t* const end = base + (static_cast<size_t>(FSize) - ABytes.size()) + 1;
  const size_t rest = ABytes.size() - 1;
  while (candidate < end) {
    candidate = static_cast<const uint8_t*>(
        std::memchr(candidate, ABytes[0], static_cast<size_t>(end - candidate)));
    if (candidate == nullptr) {
      return -1;
    }
    if (rest == 0 || std::memcmp(candidate + 1, ABytes.data() + 1, rest) == 0) {
      return static_cast<int32_t>(candidate - base);
    }
    ++candidate;
  }
  return -1;
}

int32_t TIdBuffer::IndexOf(std::string_view AString, int32_t AStartPos,
                           TEncoding* AEncoding) const {
  if (FSize == 0) {
    return -1;
  }
  const TBytes bytes =
      ResolveEncoding(AEncoding != nullptr ? AEncoding : FEncoding)->GetBytes(AString);
  return IndexOf(std::span<const uint8_t>(bytes), AStartPos);
}

uint8_t TIdBuffer::PeekByte(int32_t AIndex) const {
  if (FSize == 0) {
    throw EIdException(std::string(RSBufferNoBytes));
  }
  if (AIndex < 0 || AIndex >= FSize) {
    RaiseOutOfBounds();
  }
  return Head()[AIndex];
}

std::span<const uint8_t> TIdBuffer::View(int32_t AIndex, int32_t ACount) const {
  if (AIndex < 0 || AIndex > FSize) {
    RaiseOutOfBounds();
  }
  const int32_t count = ACount < 0 ? FSize - AIndex : ACount;
  CheckIndexRange(AIndex, count);
  if (count == 0) {
    return {};
  }
  return {Head() + AIndex, static_cast<size_t>(count)};
}

void TIdBuffer::CompactHead(bool ACanShrink) {
  if (FHeadIndex == 0) {
    return;
  }
  FHeadIndex = 0;
  if (ACanShrink && FCapacity - FSize > FGrowthFactor) {
    FCapacity = FSize + FGrowthFactor;
    ReleaseSlack();
  }
}

} // namespace ftpc
