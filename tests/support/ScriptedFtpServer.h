// An in-process loopback FTP server that plays a script, for tests of protocol code. It uses raw
// POSIX sockets only (not the library under test) and runs the script on its own thread.
//
// Usage:
//   ScriptedFtpServer server;                        // listens on 127.0.0.1, a free port
//   server.Reply("220 ready")                        // the greeting
//       .Expect("USER bob").Reply("331 password?")
//       .ExpectPrefix("PASS ").Reply("230 in")
//       .Expect("PASV").ReplyPasv()                  // "227 Entering Passive Mode (127,0,0,1,p1,p2)"
//       .Expect("RETR a.txt").Reply("150 here")
//       .DataSend("hello")                           // accepts the client's data connection, sends, closes
//       .Reply("226 done")
//       .ExpectClose();                              // the client closes the control connection
//   server.Start();
//   ... run the client against server.Address() / server.Port() ...
//   EXPECT_TRUE(server.Finished());                  // script done, no mismatch (bounded wait)
//   EXPECT_EQ(server.Received(), (Lines{"USER bob", "PASS x", "PASV", "RETR a.txt"}));
//
// Script steps (run in order; every wait inside a step is bounded by Options.StepTimeout):
//   Reply(text)        one reply; '\n' separates the lines of a multi-line reply, each line is
//                      sent with Options.LineEnd. Placeholders name the passive listener and
//                      open it: {pasv} (h1,h2,h3,h4,p1,p2), {port} (decimal), {host}, and {p1}
//                      {p2} for a 227 that announces another host ("(10,0,0,7,{p1},{p2})").
//   ReplyRaw(bytes)    bytes exactly as given (no line end added; placeholders expanded).
//   ReplyPasv() / ReplyEpsv()   the usual 227 / 229 reply for the passive listener.
//   Expect(line) / ExpectPrefix(p) / ExpectMatch(what, predicate) / ExpectAny()
//                      the next command line (CR LF removed). A PORT or EPRT line that matches
//                      makes the next data step connect back to the address it names.
//   ExpectClose()      the client closes the control connection (no further line).
//   Stall()            wait for Release() (or the client closing); StallFor(ms) waits ms.
//   Close() / Reset()  close the control connection with FIN / RST. Accept() (or any later
//                      control step) takes the next control connection.
//   Mark(name)         lets the test wait for this point with WaitForMark.
//   DataAccept() / DataConnect()  open the data connection explicitly; data steps otherwise
//                      open it the way it was last announced (passive placeholder or PORT/EPRT).
//   DataSend(bytes, end) / DataSendPattern(size, end)  send bytes / the first `size` bytes of
//                      the test pattern (streamed, constant memory), then Close, Reset or Keep.
//   DataSendUntilClosed()  stream the pattern until the client closes the data connection.
//   DataReceive(max)   read an upload until the client closes it (or max bytes) -> Uploads().
//   DataStall()        hold the data connection idle until Release() or the client closes it.
//   DataClose() / DataReset()  end the data connection with FIN / RST.
// A step that fails (wrong line, closed connection, time-out) is recorded in Failures(), the
// connections are closed and the script stops. Lines that arrive after the script has ended are
// answered with "500 Unscripted command." and count as failures; end a script with
// ExpectClose() (or Close()) to pin down that nothing more was sent.
//
// Options: Address ("127.0.0.1", "::1", or "127.0.0.*" for a free 127.0.0.N, with Port 21 for
// the command-line tool), Port, StepTimeout, LineEnd ("\n" for an LF-only server), ReplyChunk
// and ChunkGap (ReplyChunk = 1: replies trickle out byte by byte).
// While running: Release() ends a Stall/DataStall (a Release before the stall is kept),
// WaitForMark(name) / WaitForLine(line) wait (bounded) for the script or the client.
// Results: Finished(), Received(), Failures(), Uploads() (Bytes up to 8 MiB, Size, Checksum as
// in support/TestPattern.h), DataSent(), PassivePort(), ControlConnections(), DataConnections().
// The destructor stops the thread at once and closes every socket.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/LoopbackSocket.h"

namespace ftpc::test {

using Lines = std::vector<std::string>;

// How a data step leaves the data connection.
enum class DataEnd { Close, Reset, Keep };

// One upload as the server received it.
struct ReceivedData {
  std::string Bytes;      // the first kKeptDataBytes bytes
  uint64_t Size = 0;      // every byte received
  uint64_t Checksum = 0;  // FNV-1a 64 of every byte (support/TestPattern.h)
  bool Ended = false;     // the client closed the connection (rather than a byte limit)
};

struct ScriptedFtpServerOptions {
  // Numeric v4 or v6 loopback address. "127.0.0.*" takes the first free 127.0.0.N (N >= 2) for
  // Port, so tests that need a fixed port (21) stay apart.
  std::string Address = "127.0.0.1";
  uint16_t Port = 0;                        // 0: a free port
  Millis StepTimeout{10000};                // bound of every wait inside a step
  std::string LineEnd = "\r\n";             // ends each line of Reply ("\n": LF-only server)
  size_t ReplyChunk = 0;                    // > 0: control bytes go out in pieces of this size
  std::chrono::microseconds ChunkGap{500};  // pause between pieces, so the client reads them apart
};

struct ScriptStep;

class ScriptedFtpServer {
public:
  using Options = ScriptedFtpServerOptions;
  static constexpr size_t kKeptDataBytes = 8 * 1024 * 1024;
  static constexpr uint64_t kAllBytes = UINT64_MAX;

  // Opens the listener; throws std::runtime_error when it cannot.
  explicit ScriptedFtpServer(Options AOptions = {});
  ~ScriptedFtpServer();
  ScriptedFtpServer(const ScriptedFtpServer&) = delete;
  ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

  const std::string& Address() const;
  uint16_t Port() const;

  // Script steps; may only be added before Start().
  ScriptedFtpServer& Reply(std::string AText);
  ScriptedFtpServer& ReplyRaw(std::string ABytes);
  ScriptedFtpServer& ReplyPasv();
  ScriptedFtpServer& ReplyEpsv();
  ScriptedFtpServer& Expect(std::string ALine);
  ScriptedFtpServer& ExpectPrefix(std::string APrefix);
  ScriptedFtpServer& ExpectMatch(std::string ADescription,
                                 std::function<bool(const std::string&)> APredicate);
  ScriptedFtpServer& ExpectAny();
  ScriptedFtpServer& ExpectClose();
  ScriptedFtpServer& Stall();
  ScriptedFtpServer& StallFor(Millis ADuration);
  ScriptedFtpServer& Close();
  ScriptedFtpServer& Reset();
  ScriptedFtpServer& Accept();
  ScriptedFtpServer& Mark(std::string AName);
  ScriptedFtpServer& DataAccept();
  ScriptedFtpServer& DataConnect();
  ScriptedFtpServer& DataSend(std::string ABytes, DataEnd AEnd = DataEnd::Close);
  ScriptedFtpServer& DataSendPattern(uint64_t ASize, DataEnd AEnd = DataEnd::Close);
  ScriptedFtpServer& DataSendUntilClosed();
  ScriptedFtpServer& DataReceive(uint64_t AMaxBytes = kAllBytes);
  ScriptedFtpServer& DataStall();
  ScriptedFtpServer& DataClose();
  ScriptedFtpServer& DataReset();

  // Starts playing the script on the server thread.
  void Start();

  // Ends one Stall()/DataStall() (now or, if none is waiting yet, the next one).
  void Release();
  bool WaitForMark(const std::string& AName, Millis ATimeout = Millis(10000));
  // Waits until the client has sent a line equal to ALine (at any time so far).
  bool WaitForLine(const std::string& ALine, Millis ATimeout = Millis(10000));

  // Waits (bounded) until every step ran; fails with the failures and a transcript otherwise.
  ::testing::AssertionResult Finished(Millis ATimeout = Millis(10000));

  Lines Received() const;                  // every command line, in arrival order
  Lines Failures() const;
  std::vector<ReceivedData> Uploads() const;
  std::vector<uint64_t> DataSent() const;  // bytes sent by each data-sending step
  uint16_t PassivePort() const;            // 0 until the passive listener is open
  int ControlConnections() const;          // control connections accepted so far
  int DataConnections() const;             // data connections accepted or made so far

  struct Impl;

private:
  ScriptedFtpServer& Add(ScriptStep AStep);
  std::unique_ptr<Impl> FImpl;
};

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" for an IPv4 address and port.
std::string Pasv227Text(const std::string& AHost, uint16_t APort);
// "229 Entering Extended Passive Mode (|||port|)".
std::string Epsv229Text(uint16_t APort);

} // namespace ftpc::test
