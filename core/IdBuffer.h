// TIdBuffer: the growable FIFO of bytes between a socket and the protocol code. Bytes are
// appended at the tail and consumed from the head; text goes through a TEncoding and
// multi-byte integers through network byte order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/IdException.h"
#include "global/IdGlobal.h"

namespace ftpc {

class TStream;

FTPC_DECLARE_EXCEPTION(EIdTooMuchDataInBuffer, EIdException);
FTPC_DECLARE_EXCEPTION(EIdNotEnoughDataInBuffer, EIdException);

// Fired after every removal from the head, with the count that was asked for.
using TIdBufferBytesRemoved = std::function<void(TObject* ASender, int32_t ABytes)>;

// Positions: every index and start position counts from the head (the first stored byte).
// An index of -1 (the default) on an extraction means "take from the head and remove";
// a non-negative index reads at that position and removes nothing. A destination index of
// -1 on a write means "append"; a non-negative one overwrites from that position and may
// extend the content, but never beyond Size (a gap would expose unset bytes).
//
// Capacity follows fixed growth rules that callers can observe: appending to an empty buffer
// leaves no slack, a non-empty buffer that runs out of room grows to Size + n + GrowthFactor,
// and consumed head bytes are compacted away once more than GrowthFactor of them pile up.
// The memory behind it is managed separately, so that consuming lines never moves bytes and
// the steady state of "append a socket read, consume it" allocates nothing.
class TIdBuffer : public TObject {
public:
  static constexpr int32_t DefaultGrowthFactor = 2048;
  static constexpr int32_t MaxSize = 2147483647;

  TIdBuffer();
  explicit TIdBuffer(TIdBufferBytesRemoved AOnBytesRemoved);
  explicit TIdBuffer(int32_t AGrowthFactor);
  // A negative ALength takes all of ABytes as the content; otherwise the storage is made
  // ALength long and holds the first ALength bytes of ABytes (as many as it has).
  TIdBuffer(const TBytes& ABytes, int32_t ALength);
  ~TIdBuffer() override;
  TIdBuffer(const TIdBuffer&) = delete;
  TIdBuffer& operator=(const TIdBuffer&) = delete;

  std::string ClassName() const override { return "TIdBuffer"; }

  // ---- Properties -----------------------------------------------------------------------
  int32_t Capacity() const { return FCapacity; }
  // Raises "Capacity cannot be smaller than Size" for a value below Size.
  void SetCapacity(int32_t AValue);
  TEncoding* Encoding() const { return FEncoding; }
  void SetEncoding(TEncoding* AValue) { FEncoding = AValue; }
  int32_t GrowthFactor() const { return FGrowthFactor; }
  // A negative factor is stored as 0: it would make growth smaller than the data.
  void SetGrowthFactor(int32_t AValue);
  int32_t Size() const { return FSize; }
  // The stored bytes decoded with Encoding (US-ASCII when unset); nothing is removed.
  std::string AsString() const;
  const TIdBufferBytesRemoved& OnBytesRemoved() const { return FOnBytesRemoved; }
  void SetOnBytesRemoved(TIdBufferBytesRemoved AValue) { FOnBytesRemoved = std::move(AValue); }

  // ---- Adding bytes -----------------------------------------------------------------------
  // Adds ALength bytes of ABytes from AOffset (a negative ALength: up to the end; the count is
  // clipped to what ABytes holds). Raises EIdTooMuchDataInBuffer when the content would pass
  // MaxSize; nothing changes then.
  void Write(const TBytes& ABytes, int32_t ALength, int32_t AOffset, int32_t ADestIndex = -1);
  void Write(const TBytes& ABytes, int32_t ADestIndex = -1);
  // The same for any contiguous run of bytes (no copy into a TBytes first).
  void Write(std::span<const uint8_t> ABytes, int32_t ADestIndex = -1);
  // Text converted with AEncoding, else Encoding, else US-ASCII.
  void Write(std::string_view AString, TEncoding* AEncoding = nullptr, int32_t ADestIndex = -1);
  // Bytes from a stream: a negative count takes the rest of the stream, a positive one at
  // most that many, and 0 rewinds the stream and takes all of it.
  void Write(TStream& AStream, int64_t AByteCount = 0);
  // Typed values in network byte order. Appends size the storage to exactly the new end.
  void Write(uint8_t AValue, int32_t ADestIndex = -1);
  void Write(uint16_t AValue, int32_t ADestIndex = -1);
  void Write(uint32_t AValue, int32_t ADestIndex = -1);
  void Write(int64_t AValue, int32_t ADestIndex = -1);
  void Write(const TIdIPv6Address& AValue, int32_t ADestIndex = -1);

  // Receiving straight into the buffer: Reserve returns room for up to AMaxCount bytes behind
  // the stored ones (raising EIdTooMuchDataInBuffer like a write would); Commit then adds the
  // first ACount bytes written there, exactly as a Write of those bytes would. The room is
  // valid until the next call that adds, clears or resizes.
  std::span<uint8_t> Reserve(int32_t AMaxCount);
  void Commit(int32_t ACount);

  // ---- Taking bytes out -------------------------------------------------------------------
  // A negative AByteCount means everything stored (from AIndex on). Asking for more than is
  // stored raises EIdNotEnoughDataInBuffer and leaves the buffer untouched.
  //
  // AAppend true: VBytes grows by the count and the bytes follow its old content. false: the
  // bytes go to position 0; VBytes only grows when shorter than the count.
  void ExtractToBytes(TBytes& VBytes, int32_t AByteCount = -1, bool AAppend = true,
                      int32_t AIndex = -1);
  // The head bytes decoded with AEncoding, else Encoding, else US-ASCII.
  std::string Extract(int32_t AByteCount = -1, TEncoding* AEncoding = nullptr);
  void ExtractToStream(TStream& AStream, int32_t AByteCount = -1, int32_t AIndex = -1);
  void ExtractToIdBuffer(TIdBuffer& ABuffer, int32_t AByteCount = -1, int32_t AIndex = -1);
  // Typed values from network byte order; too few stored bytes raise
  // EIdNotEnoughDataInBuffer (at the head) or "Index out of bounds." (at an index).
  uint8_t ExtractToByte(int32_t AIndex = -1);
  uint16_t ExtractToWord(int32_t AIndex = -1);
  uint32_t ExtractToLongWord(int32_t AIndex = -1);
  int64_t ExtractToInt64(int32_t AIndex = -1);
  void ExtractToIPv6(int32_t AIndex, TIdIPv6Address& VAddress);

  // Discards AByteCount bytes from the head (all of them, releasing the storage, when it is
  // Size or more), then fires OnBytesRemoved with AByteCount. A negative count does nothing.
  void Remove(int32_t AByteCount);
  // Discards everything and releases the storage.
  void Clear();
  // Writes all stored bytes to AStream without removing them.
  void SaveToStream(TStream& AStream) const;

  // ---- Inspection -------------------------------------------------------------------------
  // Position of the first occurrence of ABytes at or after AStartPos, or -1. On an empty
  // buffer -1 at once; otherwise an empty ABytes or a start outside 0..Size-1 raises.
  int32_t IndexOf(std::span<const uint8_t> ABytes, int32_t AStartPos = 0) const;
  int32_t IndexOf(std::string_view AString, int32_t AStartPos = 0,
                  TEncoding* AEncoding = nullptr) const;
  uint8_t PeekByte(int32_t AIndex) const;
  // A read-only view of ACount stored bytes from AIndex (a negative count: to the end), valid
  // until the buffer next changes. Lets a reader decode a line in place before removing it.
  std::span<const uint8_t> View(int32_t AIndex = 0, int32_t ACount = -1) const;
  // Moves the content to the front of the storage; with ACanShrink, slack beyond
  // GrowthFactor is given back.
  void CompactHead(bool ACanShrink = true);

private:
  // Logical storage: the rules above work on these.
  TEncoding* FEncoding = nullptr;
  int32_t FGrowthFactor = DefaultGrowthFactor;
  int32_t FHeadIndex = 0; // position of the first stored byte within the storage
  TIdBufferBytesRemoved FOnBytesRemoved;
  int32_t FSize = 0;
  int32_t FCapacity = 0; // length of the storage

  // Memory: the stored bytes are FMemory[FStart, FStart + FSize). The block only grows
  // geometrically and is kept across Clear up to a limit, so appends rarely allocate.
  std::unique_ptr<uint8_t[]> FMemory;
  size_t FAllocated = 0;
  size_t FStart = 0;
  size_t FReserved = 0; // room handed out by Reserve and not yet committed

  const uint8_t* Head() const { return FMemory.get() + FStart; }
  uint8_t* Head() { return FMemory.get() + FStart; }
  uint8_t* Tail() { return Head() + FSize; }

  void CheckRoomFor(int64_t ACount, int32_t ADestIndex) const;
  void EnsureTailRoom(size_t ACount);
  void ReleaseSlack();
  void AppendBytes(const uint8_t* AData, int32_t ACount);
  void AppendExact(const uint8_t* AData, int32_t ACount);
  void CommitAppend(int32_t ACount);
  void OverwriteAt(const uint8_t* AData, int32_t ACount, int32_t ADestIndex);
  void WriteValue(const uint8_t* AData, int32_t ACount, int32_t ADestIndex);
  int32_t CheckedExtractCount(int32_t AByteCount, int32_t AIndex) const;
  const uint8_t* ValueAt(int32_t AWidth, int32_t AIndex) const;
  void TakeValue(int32_t AWidth, int32_t AIndex);
  void CheckIndexRange(int32_t AIndex, int64_t ACount) const;
};

} // namespace ftpc
