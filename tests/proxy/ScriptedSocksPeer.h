// A stand-in SOCKS proxy on 127.0.0.1 for tests of the negotiation: raw POSIX sockets, not the
// library under test. It accepts one connection, sends its canned bytes at once (every reply of
// the exchange, perhaps followed by the tunnel's first bytes), optionally half-closes, and
// records what the client sends. Because all replies are waiting before the client reads, a
// client that reads one byte too many swallows the next reply or the tunnel's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "support/LoopbackSocket.h"

namespace ftpc::test {

class ScriptedSocksPeer {
public:
  // AExpectedBytes: how much the client should send; the peer stops recording there.
  ScriptedSocksPeer(std::string AReplies, size_t AExpectedBytes, bool AHalfClose = false);
  ~ScriptedSocksPeer();
  ScriptedSocksPeer(const ScriptedSocksPeer&) = delete;
  ScriptedSocksPeer& operator=(const ScriptedSocksPeer&) = delete;

  uint16_t Port() const { return FPort; }
  // What the client sent: waits (bounded) for the expected count, the client's close, or the
  // time-out. Problems of the peer itself go to Error().
  const std::string& Received();
  const std::string& Error() const { return FError; }

private:
  void Run();

  FileDescriptor FListener;
  FileDescriptor FConnection; // kept open until destruction: no reset discards the replies
  uint16_t FPort = 0;
  std::string FReplies;
  size_t FExpected;
  bool FHalfClose;
  std::string FReceived;
  std::string FError;
  std::thread FThread;
};

// Bytes from a list of values, for writing wire data in tests.
std::string Bytes(std::initializer_list<int> AValues);

} // namespace ftpc::test
