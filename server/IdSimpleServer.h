// TIdSimpleServer: a connection that listens on a local address and accepts exactly one
// inbound connection, then reads and writes it like any other connection. The FTP session
// uses one for each active-mode data connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/IdTCPConnection.h"
#include "stack/IdStackConsts.h"

namespace ftpc {

class TIdSocketHandle;

FTPC_DECLARE_EXCEPTION(EIdAcceptTimeout, EIdException);
FTPC_DECLARE_EXCEPTION(EIdCannotUseNonSocketIOHandler, EIdException);

class TIdSimpleServer : public TIdTCPConnection {
public:
  explicit TIdSimpleServer(TIdInitializerComponent* AOwner = nullptr);
  // Closes a listening socket that was never accepted on.
  ~TIdSimpleServer() override;
  std::string ClassName() const override { return "TIdSimpleServer"; }

  // Creates the I/O handler if needed and opens a listening socket with a backlog of 1 (or
  // asks an enabled transparent proxy to bind). Binding()->IP()/Port() then hold the address
  // actually bound. Bind errors pass through; the listen handle is invalid again afterwards.
  void BeginListen();
  // Begins listening if needed, waits in AcceptWait slices for one connection (ATimeout ms,
  // -1 without limit) and accepts it. Raises EIdAcceptTimeout on time-out or Abort; the
  // listening socket is closed in every case.
  void Listen(int32_t ATimeout = -1);
  // Asks a running Listen to stop at its next slice; safe from another thread.
  void Abort() { FAbortedRequested.store(true); }
  void EndListen();
  // Creates the default I/O handler when there is none, and opens it.
  void CreateBinding();

  // Raises EIdCannotUseNonSocketIOHandler for a handler that is not a socket handler.
  void SetIOHandler(TIdIOHandler* AValue) override;
  using TIdTCPConnection::SetIOHandler;

  // ---- Properties ----------------------------------------------------------------------
  int32_t AcceptWait() const { return FAcceptWait; }
  void SetAcceptWait(int32_t AValue) { FAcceptWait = AValue; }
  const std::string& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string& AValue) { FBoundIP = AValue; }
  TIdPort BoundPort() const { return FBoundPort; }
  void SetBoundPort(TIdPort AValue) { FBoundPort = AValue; }
  TIdPort BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(TIdPort AValue) { FBoundPortMin = AValue; }
  TIdPort BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(TIdPort AValue) { FBoundPortMax = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  // Also passed on to the socket I/O handler when there is one.
  void SetIPVersion(TIdIPVersion AValue);
  // The socket I/O handler's socket handle, or null without one.
  TIdSocketHandle* Binding() const;
  const TNotifyEvent& OnBeforeBind() const { return FOnBeforeBind; }
  void SetOnBeforeBind(TNotifyEvent AValue) { FOnBeforeBind = std::move(AValue); }
  const TNotifyEvent& OnAfterBind() const { return FOnAfterBind; }
  void SetOnAfterBind(TNotifyEvent AValue) { FOnAfterBind = std::move(AValue); }

protected:
  void BindListenSocket();
  // One wait of at most AMSec ms for a pending connection.
  bool WaitStep(int32_t AMSec);
  // The wait in AcceptWait slices described at Listen; true when a connection is pending.
  bool WaitForConnection(int32_t ATimeout);
  void CloseListenHandle();

private:
  std::atomic<bool> FAbortedRequested{false};
  int32_t FAcceptWait = 1000;
  std::string FBoundIP;
  TIdPort FBoundPort = 0;
  TIdPort FBoundPortMin = 0;
  TIdPort FBoundPortMax = 0;
  TIdIPVersion FIPVersion = Id_IPv4;
  TIdStackSocketHandle FListenHandle = Id_INVALID_SOCKET;
  bool FListening = false;
  TNotifyEvent FOnBeforeBind;
  TNotifyEvent FOnAfterBind;
};

} // namespace ftpc
