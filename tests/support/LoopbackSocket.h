// Raw POSIX socket helpers for the test support code: listeners, bounded connects and waits on
// loopback addresses. Independent of the library under test, so they can test it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace ftpc::test {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// Owns one file descriptor; closes it when destroyed or reset.
class FileDescriptor {
public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : FFd(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : FFd(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  int Get() const { return FFd; }
  bool Valid() const { return FFd >= 0; }
  int Release();
  void Reset(int fd = -1);

private:
  int FFd = -1;
};

// True for numeric addresses in 127.0.0.0/8 and for ::1; the only peers tests may talk to.
bool IsLoopbackAddress(const std::string& AAddress);

// A non-blocking, close-on-exec listening socket on a numeric address (v4 or v6); port 0 picks a
// free one. On failure the descriptor is invalid and VError says why.
FileDescriptor ListenOn(const std::string& AAddress, uint16_t APort, std::string& VError);

// Why a listener on AAddress:APort cannot be opened right now (empty when it can).
std::string ListenProblem(const std::string& AAddress, uint16_t APort);

// The first 127.0.0.N (N >= 2, starting at a pid-dependent N) where a listener on APort can be
// opened right now, so that servers needing a fixed port (21) stay apart; "" with VError if none.
std::string FreeLoopbackAddress(uint16_t APort, std::string& VError);

// A port with nothing listening on it at the time of the call (for "connection refused" cases).
uint16_t UnusedLoopbackPort(const std::string& AAddress = "127.0.0.1");

// The local port a socket is bound to (0 on failure).
uint16_t LocalPort(int AFd);

// Connects a non-blocking, close-on-exec socket to a loopback address within ATimeout.
FileDescriptor ConnectTo(const std::string& AAddress, uint16_t APort, Millis ATimeout,
                         std::string& VError);

// Waits until AFd reports one of AEvents (poll flags) or the deadline passes; returns the
// reported revents, 0 on time-out.
short WaitForEvents(int AFd, short AEvents, Clock::time_point ADeadline);

// Makes the next close() send RST instead of FIN.
void SetLingerReset(int AFd);

enum class SendProgress { Done, WouldBlock, Failed };
// Sends from AData + VSent on a non-blocking socket until everything is sent or the socket is
// full; advances VSent. Failed leaves errno set.
SendProgress SendAvailable(int AFd, const char* AData, size_t ALength, size_t& VSent);

// Sends every byte of a buffer on a non-blocking socket, waiting up to ATimeout for progress.
// Returns false (with VError) on a time-out or when the peer has gone.
bool SendAll(int AFd, const char* AData, size_t ALength, Millis ATimeout, std::string& VError);

// Text of errno value AError.
std::string ErrnoText(int AError);

} // namespace ftpc::test
