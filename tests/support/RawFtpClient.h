// A minimal FTP control-connection client over a raw socket, with bounded waits: the test
// support code uses it to probe servers (greeting, login) and to test the scripted server.
#pragma once

#include <string>
#include <vector>

#include "support/LoopbackSocket.h"

namespace ftpc::test {

struct RawReply {
  int Code = 0;                   // 0: no complete reply (time-out, close, garbage)
  std::vector<std::string> Text;  // every line, CR LF removed
};

class RawFtpClient {
public:
  bool Connect(const std::string& AHost, uint16_t APort, Millis ATimeout = Millis(10000));
  bool SendLine(const std::string& ALine);  // adds CR LF
  bool SendRaw(const std::string& ABytes);
  // One line up to LF (one CR before it removed).
  bool ReadLine(std::string& VLine, Millis ATimeout = Millis(10000));
  // A complete reply: "ddd text", or "ddd-" lines up to the "ddd " line with the same code.
  RawReply ReadReply(Millis ATimeout = Millis(10000));
  RawReply Command(const std::string& ALine, Millis ATimeout = Millis(10000));
  // True when the server closes the connection (EOF or reset) within ATimeout; input is discarded.
  bool WaitForClose(Millis ATimeout = Millis(10000));
  void Close() { FSocket.Reset(); }
  void Reset();
  int Fd() const { return FSocket.Get(); }
  const std::string& LastError() const { return FError; }

private:
  bool Fill(Clock::time_point ADeadline);
  FileDescriptor FSocket;
  std::string FInput;
  std::string FError;
};

// Reads a data connection until the peer closes it; false on time-out or error.
bool ReadUntilClosed(int AFd, std::string& VData, Millis ATimeout = Millis(10000));

// Host and port of a "227 ... (h1,h2,h3,h4,p1,p2)" reply line; false when malformed.
bool ParsePasvReply(const std::string& ALine, std::string& VHost, uint16_t& VPort);

} // namespace ftpc::test
