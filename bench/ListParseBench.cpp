// Listing parse throughput in lines per second ("items_per_second"): MLSD output through the
// registry's MLST parser and "ls -l" output through the Unix LIST parser, 10 000 lines a run,
// with names, sizes and dates that vary from line to line as in a real directory.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "ftp/IdFTPList.h"
#include "ftp/IdFTPListParseCommon.h"

namespace {

using namespace ftpc;

constexpr int kLines = 10000;

std::string Pad2(int AValue) { return (AValue < 10 ? "0" : "") + std::to_string(AValue); }

std::vector<std::string> MlsdLines() {
  std::vector<std::string> lines;
  for (int i = 0; i < kLines; ++i) {
    lines.push_back("type=" + std::string(i % 10 == 0 ? "dir" : "file") +
                    ";size=" + std::to_string(i * 7919 % 10000000) + ";modify=2024" +
                    Pad2(i % 12 + 1) + Pad2(i % 28 + 1) + Pad2(i % 24) + Pad2(i % 60) + "07" +
                    ";perm=adfrw;unique=801U" + std::to_string(i) +
                    ";UNIX.mode=0644; file number " + std::to_string(i) + ".txt");
  }
  return lines;
}

std::vector<std::string> UnixLines() {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<std::string> lines{"total 12345"};
  for (int i = 0; i < kLines; ++i) {
    const std::string when = i % 2 == 0 ? " 2023" : Pad2(i % 24) + ":" + Pad2(i % 60);
    lines.push_back(std::string(i % 10 == 0 ? "drwxr-xr-x" : "-rw-r--r--") + "    1 ftp      ftp  " +
                    std::to_string(i * 7919 % 10000000) + " " + kMonths[i % 12] + " " +
                    std::to_string(i % 28 + 1) + " " + when + " file number " +
                    std::to_string(i) + ".txt");
  }
  return lines;
}

void Run(benchmark::State& AState, const std::vector<std::string>& ALines,
         const TIdFTPListBase& AParser) {
  for (auto _ : AState) {
    TIdFTPListItems items;
    AParser.ParseListing(ALines, items);
    benchmark::DoNotOptimize(items.Count());
  }
  AState.SetItemsProcessed(AState.iterations() * static_cast<int64_t>(ALines.size()));
}

void BM_ParseMlsd(benchmark::State& AState) {
  static const std::vector<std::string> lines = MlsdLines();
  Run(AState, lines, *GFTPListParsers().FindParserByIdent("MLST"));
}
BENCHMARK(BM_ParseMlsd)->Unit(benchmark::kMillisecond);

void BM_ParseUnixList(benchmark::State& AState) {
  static const std::vector<std::string> lines = UnixLines();
  Run(AState, lines, TIdFTPLPUnix::Instance());
}
BENCHMARK(BM_ParseUnixList)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
