// --ascii: text travels with CR LF line ends (RFC 959 3.1.1.1), while local files here end
// their lines with LF alone. Downloads drop the CR of each CR LF; uploads put a CR before each
// LF that lacks one. Both work block by block with a fixed staging buffer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "global/IdStream.h"

namespace ftpc::cli {

inline constexpr size_t kLineEndBlockSize = 64 * 1024;

// Writes to ADest (not owned) what is written to it, CR LF turned into LF. Call Finish after
// the last block: a CR at the very end is held back until then.
class CrlfToLfWriter : public TStream {
public:
  explicit CrlfToLfWriter(TStream& ADest) : FDest(ADest) {}

  int64_t Write(const void* ABuffer, int64_t ACount) override;
  void Finish();
  // Position and size are the bytes taken so far; a seek may only land there.
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  int64_t Size() override { return FTaken; }
  int64_t Read(void* ABuffer, int64_t ACount) override;
  void SetSize(int64_t ASize) override;

private:
  void Put(char AByte);
  void Flush();

  TStream& FDest;
  std::array<char, kLineEndBlockSize> FStage{};
  size_t FStaged = 0;
  bool FPendingCR = false;
  int64_t FTaken = 0;
};

// Reads ASource (owned) from its start with every lone LF turned into CR LF. Its size is known
// in advance (one counting pass), as an upload announces it; it can restart from the start.
class LfToCrlfReader : public TStream {
public:
  explicit LfToCrlfReader(std::unique_ptr<TStream> ASource);

  int64_t Read(void* ABuffer, int64_t ACount) override;
  int64_t Size() override { return FSize; }
  // Only the start, the current position and the end can be reached.
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
  int64_t Write(const void* ABuffer, int64_t ACount) override;
  void SetSize(int64_t ASize) override;

private:
  int64_t CountConvertedSize();
  bool Refill();

  std::unique_ptr<TStream> FSource;
  std::array<char, kLineEndBlockSize> FStage{};
  size_t FStaged = 0;
  size_t FNext = 0;
  bool FLastWasCR = false;
  bool FPendingLF = false; // the CR of a CR LF went out, its LF has not
  int64_t FPosition = 0;
  int64_t FSize = 0;
};

} // namespace ftpc::cli
