#include "support/PatternStreams.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "support/TestPattern.h"

namespace ftpc::test {

namespace {

constexpr int64_t kCheckBlock = 64 * 1024;

int64_t SeekTarget(int64_t APosition, int64_t ASize, int64_t AOffset, TSeekOrigin AOrigin) {
  switch (AOrigin) {
  case soBeginning:
    return AOffset;
  case soCurrent:
    return APosition + AOffset;
  case soEnd:
    return ASize + AOffset;
  }
  return APosition;
}

} // namespace

int64_t TPatternStream::Read(void* ABuffer, int64_t ACount) {
  const int64_t count = std::clamp<int64_t>(FSize - FPosition, 0, std::max<int64_t>(ACount, 0));
  FillPattern(static_cast<uint64_t>(FPosition), static_cast<char*>(ABuffer),
              static_cast<size_t>(count));
  FPosition += count;
  return count;
}

int64_t TPatternStream::Write(const void*, int64_t) {
  throw std::logic_error("TPatternStream is read-only");
}

int64_t TPatternStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  FPosition = std::max<int64_t>(SeekTarget(FPosition, FSize, AOffset, AOrigin), 0);
  return FPosition;
}

void TPatternStream::SetSize(int64_t) { throw std::logic_error("TPatternStream is read-only"); }

int64_t TPatternCheckStream::Read(void*, int64_t) {
  throw std::logic_error("TPatternCheckStream is write-only");
}

int64_t TPatternCheckStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount <= 0) {
    return 0;
  }
  Check(static_cast<const char*>(ABuffer), ACount);
  FPosition += ACount;
  FWritten += ACount;
  FSize = std::max(FSize, FPosition);
  return ACount;
}

// Compares block by block against freshly generated pattern bytes.
void TPatternCheckStream::Check(const char* AData, int64_t ACount) {
  if (!AllMatched()) {
    return;
  }
  std::vector<char> expected(static_cast<size_t>(std::min(ACount, kCheckBlock)));
  for (int64_t done = 0; done < ACount; done += kCheckBlock) {
    const auto length = static_cast<size_t>(std::min(kCheckBlock, ACount - done));
    FillPattern(static_cast<uint64_t>(FPosition + done), expected.data(), length);
    if (std::memcmp(expected.data(), AData + done, length) == 0) {
      continue;
    }
    const char* given = AData + done;
    size_t index = 0;
    while (expected[index] == given[index]) {
      ++index;
    }
    FFirstMismatch = FPosition + done + static_cast<int64_t>(index);
    return;
  }
}

int64_t TPatternCheckStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  FPosition = std::max<int64_t>(SeekTarget(FPosition, FSize, AOffset, AOrigin), 0);
  return FPosition;
}

void TPatternCheckStream::SetSize(int64_t ASize) { FSize = std::max<int64_t>(ASize, 0); }

} // namespace ftpc::test
