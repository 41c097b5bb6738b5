// The outgoing TCP client: connection settings (host, port, local binding, IP version,
// time-outs) pushed into its I/O handler, the connect with its clean-up on failure, and the
// timed connect that runs the blocking connect on a thread of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/IdIOHandlerSocket.h"
#include "core/IdTCPConnection.h"
#include "global/IdGlobal.h"
#include "stack/IdStackConsts.h"

namespace ftpc {

class TIdSocketHandle;

FTPC_DECLARE_EXCEPTION(EIdAlreadyConnected, EIdException);
FTPC_DECLARE_EXCEPTION(EIdHostRequired, EIdException);
FTPC_DECLARE_EXCEPTION(EIdPortRequired, EIdException);
FTPC_DECLARE_EXCEPTION(EIdConnectException, EIdException);
FTPC_DECLARE_EXCEPTION(EIdConnectTimeout, EIdException);

// Runs one blocking connect of a socket handle. Started at once by the constructor; the
// creator destroys it, which waits for the connect to end.
class TIdConnectThread : public TObject {
public:
  explicit TIdConnectThread(TIdSocketHandle* ABinding);
  ~TIdConnectThread() override;
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  std::string ClassName() const override { return "TIdConnectThread"; }

  // Set by the body as its last action: the connect has ended, one way or another.
  bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
  // Asks the thread to end. The blocking connect does not look at it; shutting the socket
  // down under the connect is what ends it.
  void Terminate() { FTerminateRequested.store(true, std::memory_order_release); }
  // Waits until Terminated or AMilliseconds have passed; returns Terminated.
  bool WaitForTermination(uint32_t AMilliseconds);
  // Waits until the thread has ended.
  void WaitFor();

  // Read only once Terminated is seen or after WaitFor.
  const std::string& ExceptionMessage() const { return FExceptionMessage; }
  int LastSocketError() const { return FLastSocketError; }

private:
  TIdSocketHandle* FBinding; // not owned
  std::string FExceptionMessage;
  int FLastSocketError = 0;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FTerminateRequested{false};
  std::mutex FLock;
  std::condition_variable FTerminatedSignal;
  std::thread FThread;

  void Execute();
  void SignalTerminated();
};

// Connects AHandler's socket within ATimeout milliseconds (-1 or -2: no limit) on a connect
// thread, polled in 125 ms slices with the idle-processing hook running in between. A connect
// still pending at the limit is ended by shutting its socket down, then the handler is closed
// and EIdConnectTimeout is raised; a failure of the connect is raised as EIdSocketError (with
// its code) or EIdConnectException.
void TimedConnect(TIdIOHandlerSocket& AHandler, int32_t ATimeout);

class TIdTCPClientCustom : public TIdTCPConnection {
public:
  explicit TIdTCPClientCustom(TIdInitializerComponent* AOwner = nullptr);
  ~TIdTCPClientCustom() override;

  std::string ClassName() const override { return "TIdTCPClientCustom"; }

  // Opens the connection to Host:Port; see the .cpp for the order of steps. On failure the
  // handler is closed, and an implicitly created one destroyed, before the error passes on.
  virtual void Connect();
  // Sets Host (and Port), then Connect.
  void Connect(const std::string& AHost);
  void Connect(const std::string& AHost, TIdPort APort);
  // Connects, then reads everything the server sends until it closes, as text; disconnects
  // also when the read fails.
  virtual std::string ConnectAndGetAll();

  // Also pushes the client's settings into the new handler.
  void SetIOHandler(TIdIOHandler* AValue) override;
  using TIdTCPConnection::SetIOHandler;

  // ---- Settings ------------------------------------------------------------------------
  // Each setter stores the value and writes it into the current handler when there is one
  // (the binding settings only into a socket handler); Connect writes them all again. None
  // sends anything or raises.
  const std::string& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string& AValue);
  TIdPort BoundPort() const { return FBoundPort; }
  void SetBoundPort(TIdPort AValue);
  TIdPort BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(TIdPort AValue);
  TIdPort BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(TIdPort AValue);
  int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int32_t AValue);
  const std::string& Destination() const { return FDestination; }
  void SetDestination(const std::string& AValue) { FDestination = AValue; }
  const std::string& Host() const { return FHost; }
  virtual void SetHost(const std::string& AValue);
  TIdIPVersion IPVersion() const { return FIPVersion; }
  virtual void SetIPVersion(TIdIPVersion AValue);
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }
  TIdPort Port() const { return FPort; }
  virtual void SetPort(TIdPort AValue);
  // The handler's value when a handler is set.
  int32_t ReadTimeout() const;
  void SetReadTimeout(int32_t AValue);
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket AValue);
  const std::string& Username() const { return FUsername; }
  void SetUsername(const std::string& AValue) { FUsername = AValue; }

  // Fired after a successful Connect; the binding events are the socket handler's.
  const TNotifyEvent& OnConnected() const { return FOnConnected; }
  void SetOnConnected(TNotifyEvent AValue) { FOnConnected = std::move(AValue); }
  const TNotifyEvent& OnBeforeBind() const { return FOnBeforeBind; }
  void SetOnBeforeBind(TNotifyEvent AValue);
  const TNotifyEvent& OnAfterBind() const { return FOnAfterBind; }
  void SetOnAfterBind(TNotifyEvent AValue);
  const TNotifyEvent& OnSocketAllocated() const { return FOnSocketAllocated; }
  void SetOnSocketAllocated(TNotifyEvent AValue);

protected:
  TIdTCPClientCustom(TIdInitializerComponent* AOwner, const TIdReplyClass& AReplyClass);

  virtual void DoOnConnected();
  // A new handler of the default class, with this client as its component owner.
  virtual std::unique_ptr<TIdIOHandler> CreateImplicitIOHandler();

private:
  std::string FBoundIP;
  TIdPort FBoundPort = 0;
  TIdPort FBoundPortMax = 0;
  TIdPort FBoundPortMin = 0;
  int32_t FConnectTimeout = 0;
  std::string FDestination;
  std::string FHost;
  TIdIPVersion FIPVersion = Id_IPv4;
  TNotifyEvent FOnConnected;
  std::string FPassword;
  TIdPort FPort = 0;
  int32_t FReadTimeout = -1;
  std::string FUsername;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  TNotifyEvent FOnBeforeBind;
  TNotifyEvent FOnAfterBind;
  TNotifyEvent FOnSocketAllocated;

  template <typename TValue, typename TTarget, typename TArg>
  static void StoreSetting(TValue& VField, TValue AValue, TTarget* ATarget,
                           void (TTarget::*ASetter)(TArg));
  void CheckConnectSettings();
  void EnsureIOHandler();
  void PushSettingsToHandler();
  void PushSocketSettings(TIdIOHandlerSocket& ASocket) const;
  void OpenAndReport();
  void CleanUpFailedConnect();
};

// The client with its settings published; nothing else differs.
class TIdTCPClient : public TIdTCPClientCustom {
public:
  using TIdTCPClientCustom::TIdTCPClientCustom;
  std::string ClassName() const override { return "TIdTCPClient"; }
};

} // namespace ftpc
