// The common interface of the digest classes: text, byte arrays and (parts of) streams in,
// digest bytes or their text form out; and the base of the 32-bit running hashes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "global/IdGlobal.h"

namespace ftpc {

class TStream;

// Abstract digest. Each subclass computes the digest of a number of bytes read from a stream
// and writes a digest as text; everything else is shared.
class TIdHash : public TObject {
public:
  // Digest of the text encoded with AEncoding (none: US-ASCII).
  TBytes HashString(std::string_view ASrc, TEncoding* AEncoding = nullptr);
  std::string HashStringAsHex(std::string_view AStr, TEncoding* AEncoding = nullptr);
  TBytes HashBytes(const TBytes& ASrc);
  std::string HashBytesAsHex(const TBytes& ASrc);
  // Digest of the stream from its current position to its end.
  TBytes HashStream(TStream& AStream);
  std::string HashStreamAsHex(TStream& AStream);
  // Digest of ASize bytes from AStartPos. A negative AStartPos keeps the current position; a
  // negative ASize, or one past the end, hashes up to the end.
  TBytes HashStream(TStream& AStream, int64_t AStartPos, int64_t ASize);
  std::string HashStreamAsHex(TStream& AStream, int64_t AStartPos, int64_t ASize);

  std::string ClassName() const override { return "TIdHash"; }

protected:
  // Receives consecutive pieces of the hashed bytes.
  using TBlockSink = std::function<void(const uint8_t* AData, size_t ALength)>;
  using TMessageBlock = std::array<uint8_t, 64>;

  // Streams are read in pieces of this size into one buffer per call: memory stays bounded
  // whatever the stream's size, and large reads keep system-call overhead low.
  static constexpr size_t kReadBlockSize = size_t{256} * 1024;

  // Digest of the next ACount bytes of AStream (ACount is never more than what is left).
  virtual TBytes GetHashBytes(TStream& AStream, int64_t ACount) = 0;
  virtual std::string HashToHex(const TBytes& AHash) = 0;

  // Moves to AStartPos (when not negative) and returns how many bytes the range covers.
  static int64_t PrepareRange(TStream& AStream, int64_t AStartPos, int64_t ASize);
  // Reads ACount bytes from the stream's position and passes them on piece by piece. With
  // AExact a stream that ends early raises EIdStreamError; otherwise reading stops there.
  static void ReadInBlocks(TStream& AStream, int64_t ACount, bool AExact, const TBlockSink& ASink);
  // Runs a 64-byte-block digest over ACount bytes of AStream: ACoder gets whole blocks (a
  // multiple of 64 bytes, straight from the read buffer where possible); the message is padded
  // with 0x80, zeros and its length in bits, big- or little-endian. VBlock holds the partial block.
  static void HashPaddedBlocks(TStream& AStream, int64_t ACount, TMessageBlock& VBlock,
                               bool ABigEndianLength, const TBlockSink& ACoder);
};

// Abstract 32-bit running hash: start, fold in bytes, end. The digest is the final value,
// least significant byte first.
class TIdHash32 : public TIdHash {
public:
  uint32_t HashValue(std::string_view ASrc, TEncoding* AEncoding = nullptr);
  uint32_t HashValue(const TBytes& ASrc);
  uint32_t HashValue(TStream& AStream);
  uint32_t HashValue(TStream& AStream, int64_t AStartPos, int64_t ASize);

  virtual void HashStart(uint32_t& VRunningHash) = 0;
  virtual void HashByte(uint32_t& VRunningHash, uint8_t AByte) = 0;
  virtual void HashEnd(uint32_t& VRunningHash) = 0;
  // Folds ALength bytes into the running value. The default calls HashByte for each byte;
  // subclasses replace it with faster code that gives the same value.
  virtual void HashBuffer(uint32_t& VRunningHash, const void* AData, size_t ALength);

  std::string ClassName() const override { return "TIdHash32"; }

protected:
  TBytes GetHashBytes(TStream& AStream, int64_t ACount) override;
  // Eight upper-case hexadecimal digits of the value, most significant first.
  std::string HashToHex(const TBytes& AHash) override;

private:
  uint32_t RunningValue(TStream& AStream, int64_t ACount);
};

// Hardware acceleration: the processor's SHA and carry-less-multiply instructions are used
// when it has them. Switching acceleration off forces the portable code paths, which give the
// same results; tests and benchmarks compare the two. Process-wide, thread-safe.
void SetHashAccelerationEnabled(bool AEnabled);
bool HashAccelerationEnabled();

namespace detail {
// True when acceleration is enabled and the processor offers the instructions in question.
bool UseShaExtensions();
bool UseCarrylessMultiply();

// Byte-order helpers of the block transformations; compilers turn them into single loads.
inline uint32_t LoadLE32(const uint8_t* AData) {
  return static_cast<uint32_t>(AData[0]) | static_cast<uint32_t>(AData[1]) << 8 |
         static_cast<uint32_t>(AData[2]) << 16 | static_cast<uint32_t>(AData[3]) << 24;
}
inline uint32_t LoadBE32(const uint8_t* AData) {
  return static_cast<uint32_t>(AData[0]) << 24 | static_cast<uint32_t>(AData[1]) << 16 |
         static_cast<uint32_t>(AData[2]) << 8 | static_cast<uint32_t>(AData[3]);
}
// Appends AWords to VBytes, each least or most significant byte first.
template <size_t N>
void AppendWords(TBytes& VBytes, const std::array<uint32_t, N>& AWords, bool ABigEndian) {
  for (const uint32_t word : AWords) {
    for (int i = 0; i < 4; ++i) {
      VBytes.push_back(static_cast<uint8_t>(word >> (ABigEndian ? 24 - 8 * i : 8 * i)));
    }
  }
}

// Calls TStep::Run<I>(AArgs...) for I = 0, 1, ..., unrolled at compile time, so that every
// round's constants, rotations and word indices are immediate values.
template <class TStep, class... TArgs, size_t... I>
inline void UnrollSteps(std::index_sequence<I...> /*steps*/, TArgs&... AArgs) {
  (TStep::template Run<I>(AArgs...), ...);
}
} // namespace detail

} // namespace ftpc
