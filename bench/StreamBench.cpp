// Micro-benchmarks of the stream layer on the transfer path: 32 KiB blocks through a
// TIdBaseStream (staged through its array, or taken directly by a subclass), and the cost of
// opening a local file with its share mode.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "global/IdStream.h"

namespace ftpc {
namespace {

constexpr int64_t kBlockSize = 32768;

// Drops what it is given, through the array operations only.
class TStagedSink : public TIdBaseStream {
protected:
  int32_t ReadIntoBytes(TBytes&, int32_t, int32_t) override { return 0; }
  int32_t WriteFromBytes(const TBytes& ABuffer, int32_t AOffset, int32_t ACount) override {
    benchmark::DoNotOptimize(ABuffer.data() + AOffset);
    return ACount;
  }
  int64_t SeekPosition(int64_t, TSeekOrigin) override { return 0; }
  void ChangeSize(int64_t) override {}
};

// Drops what it is given without the copy into the staging array.
class TDirectSink : public TStagedSink {
protected:
  int64_t WriteFromSpan(std::span<const uint8_t> ABuffer) override {
    benchmark::DoNotOptimize(ABuffer.data());
    return static_cast<int64_t>(ABuffer.size());
  }
};

template <typename TSink> void BM_BaseStreamWrite(benchmark::State& AState) {
  TSink sink;
  const TBytes block(kBlockSize, 0x5A);
  for (auto _ : AState) {
    benchmark::DoNotOptimize(sink.Write(block.data(), kBlockSize));
  }
  AState.SetBytesProcessed(AState.iterations() * kBlockSize);
}
BENCHMARK(BM_BaseStreamWrite<TStagedSink>);
BENCHMARK(BM_BaseStreamWrite<TDirectSink>);

template <typename TOpened> void BM_OpenWithShareMode(benchmark::State& AState) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("ftpc-stream-bench-" + std::to_string(::getpid()) + ".bin"))
                               .string();
  { TIdFileCreateStream create(path); }
  for (auto _ : AState) {
    TOpened stream(path);
    benchmark::DoNotOptimize(stream.Handle());
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_OpenWithShareMode<TIdReadFileNonExclusiveStream>);
BENCHMARK(BM_OpenWithShareMode<TIdFileCreateStream>);

} // namespace
} // namespace ftpc

BENCHMARK_MAIN();
