#include "ScriptedSocksPeer.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ftpc::test {

namespace {

constexpr Millis kStepTimeout(5000);

} // namespace

std::string Bytes(std::initializer_list<int> AValues) {
  std::string result;
  for (const int value : AValues) {
    result.push_back(static_cast<char>(value));
  }
  return result;
}

ScriptedSocksPeer::ScriptedSocksPeer(std::string AReplies, size_t AExpectedBytes, bool AHalfClose)
    : FReplies(std::move(AReplies)), FExpected(AExpectedBytes), FHalfClose(AHalfClose) {
  FListener = ListenOn("127.0.0.1", 0, FError);
  FPort = LocalPort(FListener.Get());
  FThread = std::thread([this] { Run(); });
}

ScriptedSocksPeer::~ScriptedSocksPeer() {
  if (FThread.joinable()) {
    FThread.join();
  }
}

const std::string& ScriptedSocksPeer::Received() {
  if (FThread.joinable()) {
    FThread.join();
  }
  return FReceived;
}

void ScriptedSocksPeer::Run() {
  const auto deadline = Clock::now() + kStepTimeout;
  if (!FListener.Valid() || WaitForEvents(FListener.Get(), POLLIN, deadline) == 0) {
    FError = "no client connected";
    return;
  }
  FConnection.Reset(::accept4(FListener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (!FConnection.Valid() ||
      !SendAll(FConnection.Get(), FReplies.data(), FReplies.size(), kStepTimeout, FError)) {
    FError = "cannot send the replies: " + FError;
    return;
  }
  if (FHalfClose) {
    ::shutdown(FConnection.Get(), SHUT_WR);
  }
  char block[512];
  while (FReceived.size() < FExpected) {
    if (WaitForEvents(FConnection.Get(), POLLIN, deadline) == 0) {
      return;
    }
    const ssize_t got = ::recv(FConnection.Get(), block, sizeof(block), 0);
    if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR))) {
      return;
    }
    FReceived.append(block, static_cast<size_t>(std::max<ssize_t>(got, 0)));
  }
}

} // namespace ftpc::test
