// A concrete I/O handler over one end of a loopback TCP pair, and the raw-socket peer that
// drives the other end. The peer uses plain POSIX calls, never the library under test.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/IdIOHandler.h"

namespace ftpc::test {

// The far end of the connection: scripted bytes in, received bytes out, close or reset.
class TRawPeer {
public:
  explicit TRawPeer(int AFd) : FFd(AFd) {}
  ~TRawPeer();
  TRawPeer(const TRawPeer&) = delete;
  TRawPeer& operator=(const TRawPeer&) = delete;

  void Send(std::string_view AData);
  // Everything the handler sent within ATimeoutMs of quiet, up to the handler's close.
  std::string ReceiveAvailable(int ATimeoutMs = 200);
  // Exactly ACount bytes, waiting at most ATimeoutMs for each piece.
  std::string ReceiveExactly(size_t ACount, int ATimeoutMs = 5000);
  // Orderly close: the handler sees the end of data after what was sent.
  void Close();
  // Abortive close: the handler's next receive fails with a reset.
  void Reset();

private:
  int FFd;
};

// The handler under test. Error numbers are reported as the Windows Sockets codes the
// handler's rules are written in; failures can be injected for the codes a loopback socket
// cannot produce on demand.
class TTestIOHandler : public TIdIOHandler {
public:
  explicit TTestIOHandler(int AFd, TIdInitializerComponent* AOwner = nullptr);
  ~TTestIOHandler() override;
  std::string ClassName() const override { return "TTestIOHandler"; }
  static const TIdIOHandlerClass& Class();

  bool Readable(int32_t AMSec) override;
  bool HasSource() override { return FFd >= 0; }
  void Close() override;
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected, bool AIgnoreBuffer) override;

  // Counts of transport calls and the size of every send, for checks on blocking.
  int32_t ReceiveCalls = 0;
  std::vector<size_t> SendSizes;
  // A positive value caps every send, to force partial sends.
  size_t MaxSendChunk = 0;
  // A non-zero code makes the next receive or send fail with it.
  int FailNextReceive = 0;
  int FailNextSend = 0;

protected:
  int32_t ReceiveFromSource(std::span<uint8_t> VBuffer) override;
  int32_t SendToTarget(std::span<const uint8_t> ABuffer) override;

private:
  int FFd;
  void CloseSocket();
};

// A connected loopback pair: the handler (opened) and its raw peer.
struct TConnectedPair {
  TConnectedPair();
  std::unique_ptr<TTestIOHandler> Handler;
  std::unique_ptr<TRawPeer> Peer;
};

// Records work events as "begin:<max>", "<count>" and "end" per mode.
struct TWorkLog {
  std::vector<std::string> Read;
  std::vector<std::string> Write;
  void Attach(TIdComponent& AComponent);
};

std::string BytesToString(const TBytes& ABytes);

} // namespace ftpc::test
