// Loopback peers for connection tests, written on raw POSIX sockets so that they share no
// code with the library under test. Every wait is bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace ftpc::test {

using namespace std::chrono_literals;

// One accepted (or connected) TCP connection. Owns its descriptor.
class TPeerConnection {
public:
  TPeerConnection() = default;
  explicit TPeerConnection(int AFd) : FFd(AFd) {}
  TPeerConnection(TPeerConnection&& AOther) noexcept;
  TPeerConnection& operator=(TPeerConnection&& AOther) noexcept;
  TPeerConnection(const TPeerConnection&) = delete;
  TPeerConnection& operator=(const TPeerConnection&) = delete;
  ~TPeerConnection();

  bool Valid() const { return FFd >= 0; }
  int Fd() const { return FFd; }

  // Sends every byte; returns false when the connection failed.
  bool Send(const std::string& AData);
  bool Send(const uint8_t* AData, size_t ALength);
  // Reads one line up to LF (the LF and one CR before it are dropped). Returns false on
  // close or time-out.
  bool ReadLine(std::string& VLine, std::chrono::milliseconds ATimeout = 5s);
  // Reads until the peer closes or the time runs out; returns what arrived.
  std::string ReadAll(std::chrono::milliseconds ATimeout = 5s);
  // Reads whatever arrives within ATimeout (stops at the first quiet gap).
  std::string ReadAvailable(std::chrono::milliseconds ATimeout);
  // Reads and drops everything until the peer closes; returns the count.
  int64_t DrainAll();
  // Whether the peer closed its side within ATimeout (any unread data is discarded).
  bool WaitForClose(std::chrono::milliseconds ATimeout = 5s);
  void ShutdownWrite();
  void Close();

private:
  bool WaitReadable(std::chrono::milliseconds ATimeout);
  ssize_t ReceiveSome(std::string& VInto, std::chrono::milliseconds ATimeout);
  int FFd = -1;
  std::string FPending; // bytes read past the last line
};

// A listening socket on 127.0.0.1 (or ::1) with a kernel-chosen port.
class TLoopbackListener {
public:
  explicit TLoopbackListener(int ABacklog = 8, bool AIPv6 = false);
  TLoopbackListener(const TLoopbackListener&) = delete;
  TLoopbackListener& operator=(const TLoopbackListener&) = delete;
  ~TLoopbackListener();

  uint16_t Port() const { return FPort; }
  // Accepts one connection; an invalid connection when none came within ATimeout.
  TPeerConnection Accept(std::chrono::milliseconds ATimeout = 5s);
  void Close();

private:
  int FFd = -1;
  uint16_t FPort = 0;
};

// A listener whose accept queue is full: further connection attempts get no answer at all,
// so a connect to Port() stays pending until the caller gives up.
class TBlackHoleListener {
public:
  TBlackHoleListener();
  TBlackHoleListener(const TBlackHoleListener&) = delete;
  TBlackHoleListener& operator=(const TBlackHoleListener&) = delete;
  ~TBlackHoleListener();

  uint16_t Port() const { return FListener.Port(); }

private:
  TLoopbackListener FListener{0};
  std::vector<int> FFillers; // connections that fill the accept queue
};

// A port on 127.0.0.1 that nothing listens on (bound, then closed again).
uint16_t UnusedLoopbackPort();

// Number of open descriptors of this process.
int OpenDescriptorCount();

// Connects a raw client socket to 127.0.0.1:APort; an invalid connection on failure.
TPeerConnection ConnectRaw(uint16_t APort);

} // namespace ftpc::test
