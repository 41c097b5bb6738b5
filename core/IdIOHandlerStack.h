// TIdIOHandlerStack: the socket I/O handler over the socket stack. Adds the outbound connect
// (name resolution, optional time-out, optional transparent proxy) and the stack-based
// readiness test, send, receive and disconnect detection. The default handler class.
#pragma once

#include <string>

#include "core/IdIOHandlerSocket.h"

namespace ftpc {

class TIdIOHandlerStack : public TIdIOHandlerSocket {
public:
  explicit TIdIOHandlerStack(TIdInitializerComponent* AOwner = nullptr);
  ~TIdIOHandlerStack() override;

  std::string ClassName() const override { return "TIdIOHandlerStack"; }
  static const TIdIOHandlerClass& Class();

  // One zero-time fill first (it picks up data or notices the peer's close); then true when
  // the socket is allocated and the base rule says connected, or unread bytes remain.
  bool Connected() override;
  void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true,
                          bool AIgnoreBuffer = false) override;
  // The socket handle's readability test.
  bool Readable(int32_t AMSec = IdTimeoutUseReadTimeout) override;

protected:
  // The bind phase, then: resolve the target (the proxy when one is enabled), connect
  // (timed when ConnectTimeout is set or idle processing is active) and negotiate the tunnel.
  void ConnectClient() override;
  int32_t ReceiveFromSource(std::span<uint8_t> VBuffer) override;
  int32_t SendToTarget(std::span<const uint8_t> ABuffer) override;

private:
  std::string ResolvedAddress(const std::string& AHost, TIdIPVersion AIPVersion);
  void ConnectSocket();
};

} // namespace ftpc
