// Micro-benchmarks of TIdBuffer in the patterns the I/O handler uses: 32 KiB socket reads
// appended at the tail, then lines or blocks taken from the head.
#include <benchmark/benchmark.h>

#include <cstring>

#include "core/IdBuffer.h"
#include "global/IdStream.h"

namespace ftpc {
namespace {

constexpr int32_t kReadSize = 32768;
constexpr int32_t kLineLength = 80; // including CR LF

// 32 KiB of CR LF terminated text lines, as a listing or a reply stream would bring.
TBytes MakeLines(size_t ASize) {
  TBytes bytes(ASize);
  for (size_t i = 0; i < ASize; ++i) {
    const size_t column = i % kLineLength;
    bytes[i] = column == kLineLength - 2   ? '\r'
               : column == kLineLength - 1 ? '\n'
                                           : static_cast<uint8_t>('a' + column % 26);
  }
  return bytes;
}

const uint8_t kLF[] = {'\n'};

// Takes every complete line from the head, resuming each search where the last one ended,
// and decodes it as the line reader does.
int64_t DrainLines(TIdBuffer& ABuffer) {
  int64_t lines = 0;
  while (ABuffer.Size() > 0) {
    const int32_t end = ABuffer.IndexOf(kLF, 0);
    if (end < 0) {
      break;
    }
    std::string line = ABuffer.Extract(end + 1);
    benchmark::DoNotOptimize(line);
    ++lines;
  }
  return lines;
}

void BM_AppendBlockExtractBlock(benchmark::State& AState) {
  const TBytes block(kReadSize, 0x5A);
  TIdBuffer buffer;
  TBytes out;
  for (auto _ : AState) {
    buffer.Write(block);
    buffer.ExtractToBytes(out, -1, false);
    benchmark::DoNotOptimize(out.data());
  }
  AState.SetBytesProcessed(AState.iterations() * kReadSize);
}
BENCHMARK(BM_AppendBlockExtractBlock);

// A receive straight into the tail, then the whole buffer into a stream (a download).
void BM_ReserveCommitToStream(benchmark::State& AState) {
  const TBytes block(kReadSize, 0x5A);
  TIdBuffer buffer;
  TMemoryStream stream;
  stream.SetSize(kReadSize);
  for (auto _ : AState) {
    auto room = buffer.Reserve(kReadSize);
    std::memcpy(room.data(), block.data(), block.size());
    buffer.Commit(kReadSize);
    stream.SetPosition(0);
    buffer.ExtractToStream(stream);
  }
  AState.SetBytesProcessed(AState.iterations() * kReadSize);
}
BENCHMARK(BM_ReserveCommitToStream);

// Blocks smaller than a read, as a counted ReadBytes takes them.
void BM_AppendBlockExtractPieces(benchmark::State& AState) {
  const auto piece = static_cast<int32_t>(AState.range(0));
  const TBytes block(kReadSize, 0x5A);
  TIdBuffer buffer;
  TBytes out;
  for (auto _ : AState) {
    buffer.Write(block);
    while (buffer.Size() >= piece) {
      buffer.ExtractToBytes(out, piece, false);
    }
    benchmark::DoNotOptimize(out.data());
  }
  AState.SetBytesProcessed(AState.iterations() * kReadSize);
}
BENCHMARK(BM_AppendBlockExtractPieces)->Arg(512)->Arg(4096);

void BM_AppendBlockExtractLines(benchmark::State& AState) {
  // An odd read size leaves a partial line behind each time, as real reads do.
  const TBytes block = MakeLines(kReadSize - 7);
  TIdBuffer buffer;
  int64_t lines = 0;
  for (auto _ : AState) {
    buffer.Write(block);
    lines += DrainLines(buffer);
  }
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(block.size()));
  AState.counters["lines/s"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AppendBlockExtractLines);

// The buffer's own share of line reading: each line is looked at in place, not decoded.
void BM_AppendBlockViewLines(benchmark::State& AState) {
  const TBytes block = MakeLines(kReadSize - 7);
  TIdBuffer buffer;
  for (auto _ : AState) {
    buffer.Write(block);
    for (int32_t end = buffer.IndexOf(kLF, 0); end >= 0;
         end = buffer.Size() > 0 ? buffer.IndexOf(kLF, 0) : -1) {
      benchmark::DoNotOptimize(buffer.View(0, end).data());
      buffer.Remove(end + 1);
    }
  }
  AState.SetBytesProcessed(AState.iterations() * static_cast<int64_t>(block.size()));
}
BENCHMARK(BM_AppendBlockViewLines);

// A whole transfer gathered before it is read (as AllData does), then drained in blocks.
void BM_AccumulateThenDrain(benchmark::State& AState) {
  const auto total = static_cast<int32_t>(AState.range(0));
  const TBytes block(kReadSize, 0x5A);
  TIdBuffer buffer;
  TBytes out;
  for (auto _ : AState) {
    for (int32_t size = 0; size < total; size += kReadSize) {
      buffer.Write(block);
    }
    while (buffer.Size() > 0) {
      buffer.ExtractToBytes(out, std::min(buffer.Size(), kReadSize), false);
    }
  }
  AState.SetBytesProcessed(AState.iterations() * total);
}
BENCHMARK(BM_AccumulateThenDrain)->Arg(1 << 20)->Arg(16 << 20);

} // namespace
} // namespace ftpc

BENCHMARK_MAIN();
