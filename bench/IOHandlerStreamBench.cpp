// Stream throughput of the I/O handler over loopback TCP against a plain recv/send loop with
// the same block size: ReadStream until close (a download) and Write of a stream (an upload).
// The handler's transport here is a few raw socket calls, so the numbers show the handler's
// own cost.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "core/IdIOHandler.h"

namespace ftpc {
namespace {

constexpr int64_t kTransferSize = int64_t{256} << 20;
constexpr size_t kBlockSize = 32768;

// A sink that only counts, so the numbers measure the transfer and not a destination.
class TCountingStream : public TStream {
public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t ACount) override {
    FSize += ACount;
    return ACount;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return FSize; }
  void SetSize(int64_t) override {}
  int64_t Size() override { return FSize; }

private:
  int64_t FSize = 0;
};

// A source of kTransferSize bytes without holding them.
class TZeroStream : public TStream {
public:
  int64_t Read(void* ABuffer, int64_t ACount) override {
    const int64_t count = std::min(ACount, kTransferSize - FPosition);
    std::memset(ABuffer, 0, static_cast<size_t>(count));
    FPosition += count;
    return count;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    FPosition = AOrigin == soBeginning ? AOffset
                : AOrigin == soEnd     ? kTransferSize + AOffset
                                       : FPosition + AOffset;
    return FPosition;
  }
  void SetSize(int64_t) override {}
  int64_t Size() override { return kTransferSize; }

private:
  int64_t FPosition = 0;
};

class TSocketHandler : public TIdIOHandler {
public:
  explicit TSocketHandler(int AFd) : FFd(AFd) { Open(); }
  ~TSocketHandler() override { CloseSocket(); }
  bool Readable(int32_t AMSec) override {
    pollfd entry{FFd, POLLIN, 0};
    return ::poll(&entry, 1, AMSec < 0 ? -1 : AMSec) > 0;
  }
  bool HasSource() override { return FFd >= 0; }
  void CheckForDisconnect(bool ARaise, bool AIgnoreBuffer) override {
    if (ClosedGracefully()) {
      CloseSocket();
    }
    TIdIOHandler::CheckForDisconnect(ARaise, AIgnoreBuffer);
  }

protected:
  int32_t ReceiveFromSource(std::span<uint8_t> VBuffer) override {
    return static_cast<int32_t>(::recv(FFd, VBuffer.data(), VBuffer.size(), 0));
  }
  int32_t SendToTarget(std::span<const uint8_t> ABuffer) override {
    return static_cast<int32_t>(::send(FFd, ABuffer.data(), ABuffer.size(), MSG_NOSIGNAL));
  }

private:
  int FFd;
  void CloseSocket() {
    if (FFd >= 0) {
      ::close(FFd);
      FFd = -1;
    }
  }
};

std::pair<int, int> LoopbackPair() {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    throw std::runtime_error("loopback pair");
  }
  const int server = ::accept(listener, nullptr, nullptr);
  ::close(listener);
  return {client, server};
}

void PlainSend(int AFd) {
  std::vector<char> block(kBlockSize, 0);
  for (int64_t left = kTransferSize; left > 0;) {
    const ssize_t n = ::send(AFd, block.data(), std::min<int64_t>(left, kBlockSize), MSG_NOSIGNAL);
    if (n <= 0) {
      break;
    }
    left -= n;
  }
  ::close(AFd);
}

void PlainReceive(int AFd, TStream& ASink) {
  std::vector<char> block(kBlockSize);
  for (;;) {
    const ssize_t n = ::recv(AFd, block.data(), block.size(), 0);
    if (n <= 0) {
      break;
    }
    ASink.Write(block.data(), n);
  }
  ::close(AFd);
}

// Runs ABody once per iteration on a fresh connected pair and reports the throughput.
template <typename Body> void MeasureTransfers(benchmark::State& AState, Body ABody) {
  for (auto _ : AState) {
    const auto [first, second] = LoopbackPair();
    ABody(first, second);
  }
  AState.SetBytesProcessed(AState.iterations() * kTransferSize);
}

void BM_DownloadPlainRecvLoop(benchmark::State& AState) {
  MeasureTransfers(AState, [](int AReader, int AWriter) {
    std::thread sender(PlainSend, AWriter);
    TCountingStream sink;
    PlainReceive(AReader, sink);
    sender.join();
  });
}
BENCHMARK(BM_DownloadPlainRecvLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DownloadReadStreamUntilClose(benchmark::State& AState) {
  MeasureTransfers(AState, [](int AReader, int AWriter) {
    std::thread sender(PlainSend, AWriter);
    TSocketHandler handler(AReader);
    TCountingStream sink;
    handler.ReadStream(sink, -1, true);
    sender.join();
  });
}
BENCHMARK(BM_DownloadReadStreamUntilClose)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UploadPlainSendLoop(benchmark::State& AState) {
  MeasureTransfers(AState, [](int AWriter, int AReader) {
    TCountingStream sink;
    std::thread receiver([AReader, &sink] { PlainReceive(AReader, sink); });
    TZeroStream source;
    std::vector<char> block(kBlockSize);
    for (int64_t got; (got = source.Read(block.data(), kBlockSize)) > 0;) {
      for (int64_t sent = 0; sent < got;) {
        sent += ::send(AWriter, block.data() + sent, static_cast<size_t>(got - sent), MSG_NOSIGNAL);
      }
    }
    ::close(AWriter);
    receiver.join();
  });
}
BENCHMARK(BM_UploadPlainSendLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_UploadWriteStream(benchmark::State& AState) {
  MeasureTransfers(AState, [](int AWriter, int AReader) {
    TCountingStream sink;
    std::thread receiver([AReader, &sink] { PlainReceive(AReader, sink); });
    {
      TSocketHandler handler(AWriter);
      TZeroStream source;
      handler.Write(source);
    }
    receiver.join();
  });
}
BENCHMARK(BM_UploadWriteStream)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace ftpc
BENCHMARK_MAIN();
