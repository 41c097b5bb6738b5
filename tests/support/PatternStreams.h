// Streams over the test pattern that hold none of its bytes, for transfers far larger than the
// memory or the disk a test may use: one produces the pattern on Read, the other checks what is
// written into it against the pattern at the same offsets.
#pragma once

#include <cstdint>

#include "global/IdStream.h"

namespace ftpc::test {

// Read-only: the first ASize pattern bytes, seekable.
class TPatternStream : public TStream {
public:
  explicit TPatternStream(int64_t ASize) : FSize(ASize) {}
  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  void SetSize(int64_t ASize) override;
  int64_t Size() override { return FSize; }

private:
  int64_t FSize;
  int64_t FPosition = 0;
};

// Write-only sink: every byte written must equal the pattern byte at its position. Size() is
// the end of the furthest write; FirstMismatch() the offset of the first wrong byte, or -1.
class TPatternCheckStream : public TStream {
public:
  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  void SetSize(int64_t ASize) override;
  int64_t Size() override { return FSize; }

  int64_t FirstMismatch() const { return FFirstMismatch; }
  // The bytes written, and whether they were all the pattern's.
  int64_t BytesWritten() const { return FWritten; }
  bool AllMatched() const { return FFirstMismatch < 0; }

private:
  void Check(const char* AData, int64_t ACount);

  int64_t FSize = 0;
  int64_t FPosition = 0;
  int64_t FWritten = 0;
  int64_t FFirstMismatch = -1;
};

} // namespace ftpc::test
