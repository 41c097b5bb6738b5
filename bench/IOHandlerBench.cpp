// Streams 1 GiB over loopback from one TIdIOHandlerStack to another (a stream upload on one
// side, ReadStream into a discard stream on the other) and, in the same run, with a plain
// send/recv loop of the same block size; prints both rates and their ratio.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "core/IdIOHandlerStack.h"
#include "core/IdTCPClient.h"
#include "global/IdStream.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {
namespace {

constexpr int64_t kTotal = int64_t(1) << 30;
constexpr size_t kBlock = 32768; // the handlers' SendBufferSize and RecvBufferSize
constexpr int kRounds = 3;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point AStart) {
  return std::chrono::duration<double>(Clock::now() - AStart).count();
}

// A source of ASize bytes that costs nothing to read: the content is whatever the reader's
// buffer held.
class TFreeSource : public TStream {
public:
  explicit TFreeSource(int64_t ASize) : FSize(ASize) {}
  int64_t Read(void* /*ABuffer*/, int64_t ACount) override {
    const int64_t count = std::min(ACount, FSize - FPosition);
    FPosition += count;
    return count;
  }
  int64_t Write(const void* /*ABuffer*/, int64_t /*ACount*/) override { return 0; }
  int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override {
    FPosition = AOrigin == soBeginning ? AOffset
                : AOrigin == soEnd     ? FSize + AOffset
                                       : FPosition + AOffset;
    return FPosition;
  }
  void SetSize(int64_t /*ASize*/) override {}

private:
  int64_t FSize;
  int64_t FPosition = 0;
};

// ---- Plain send/recv ----------------------------------------------------------------------

int PlainListener(uint16_t& VPort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::listen(fd, 1);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  VPort = ntohs(address.sin_port);
  return fd;
}

double PlainLoopSeconds() {
  uint16_t port = 0;
  const int listener = PlainListener(port);
  const int sender = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  const int receiver = ::accept(listener, nullptr, nullptr);
  ::close(listener);

  const auto start = Clock::now();
  std::thread reading([receiver] {
    std::vector<uint8_t> block(kBlock);
    int64_t got = 0;
    while (got < kTotal) {
      const ssize_t n = ::recv(receiver, block.data(), block.size(), 0);
      if (n <= 0) {
        break;
      }
      got += n;
    }
  });
  std::vector<uint8_t> block(kBlock);
  for (int64_t sent = 0; sent < kTotal;) {
    const ssize_t n = ::send(sender, block.data(), block.size(), MSG_NOSIGNAL);
    if (n <= 0) {
      break;
    }
    sent += n;
  }
  reading.join();
  const double seconds = SecondsSince(start);
  ::close(sender);
  ::close(receiver);
  return seconds;
}

// ---- Through the I/O handlers ---------------------------------------------------------------

double HandlerSeconds() {
  TIdSocketHandle listener;
  listener.AllocateSocket();
  listener.SetIP("127.0.0.1");
  listener.Bind();
  listener.Listen(1);

  TIdTCPClient client;
  client.Connect("127.0.0.1", listener.Port());
  TIdIOHandlerStack receiver;
  receiver.Open();
  receiver.Binding()->Accept(listener.Handle());

  const auto start = Clock::now();
  std::thread reading([&receiver] {
    TIdDiscardStream discard;
    receiver.ReadStream(discard, kTotal);
  });
  TFreeSource source(kTotal);
  client.IOHandler()->Write(source, 0);
  reading.join();
  const double seconds = SecondsSince(start);
  client.Disconnect();
  receiver.Close();
  return seconds;
}

double Rate(double ASeconds) { return double(kTotal) / ASeconds / double(1 << 20); }

} // namespace
} // namespace ftpc

int main() {
  using namespace ftpc;
  double plain = 1e9;
  double handler = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    plain = std::min(plain, PlainLoopSeconds());
    handler = std::min(handler, HandlerSeconds());
  }
  std::printf("plain send/recv loop : %8.1f MiB/s\n", Rate(plain));
  std::printf("TIdIOHandlerStack    : %8.1f MiB/s\n", Rate(handler));
  std::printf("ratio handler/plain  : %8.3f\n", plain / handler);
  return EXIT_SUCCESS;
}
