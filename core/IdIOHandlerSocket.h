// TIdIOHandlerSocket: the I/O handler bound to one TCP socket. It owns the socket handle,
// binds it locally, applies the socket options and may tunnel through a transparent proxy;
// the connect itself comes from TIdIOHandlerStack.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "core/IdIOHandler.h"
#include "stack/IdStackConsts.h"

namespace ftpc {

class TIdCustomTransparentProxy;
class TIdSocketHandle;

// Whether the local binding sets the address-reuse option.
enum TIdReuseSocket : uint8_t { rsOSDependent, rsTrue, rsFalse };

class TIdIOHandlerSocket : public TIdIOHandler {
public:
  explicit TIdIOHandlerSocket(TIdInitializerComponent* AOwner = nullptr);
  ~TIdIOHandlerSocket() override;

  std::string ClassName() const override { return "TIdIOHandlerSocket"; }
  static const TIdIOHandlerClass& Class();

  // The socket handle exists and holds an allocated socket.
  bool BindingAllocated() const;
  // The base Open, then a fresh socket handle with the client port range; connects
  // (ConnectClient) when Host is set and Port is positive.
  void Open() override;
  // Closes the socket, then the base Close.
  void Close() override;
  bool HasSource() override { return BindingAllocated(); }

  // Host, and ":" and the port when Port is positive and not DefaultPort.
  std::string Destination() const override;
  // "host:port" (split at the last colon); a port text that is not a number gives
  // DefaultPort. A text without a colon changes nothing.
  void SetDestination(const std::string& AValue) override;

  // ---- Properties ----------------------------------------------------------------------
  // Safe to call from another thread while this one opens the handler (see FPublishedBinding).
  TIdSocketHandle* Binding() const { return FPublishedBinding.load(std::memory_order_acquire); }
  const std::string& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const std::string& AValue) { FBoundIP = AValue; }
  TIdPort BoundPort() const { return FBoundPort; }
  void SetBoundPort(TIdPort AValue) { FBoundPort = AValue; }
  TIdPort BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(TIdPort AValue) { FBoundPortMax = AValue; }
  TIdPort BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(TIdPort AValue) { FBoundPortMin = AValue; }
  TIdPort DefaultPort() const { return FDefaultPort; }
  void SetDefaultPort(TIdPort AValue) { FDefaultPort = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  TIdReuseSocket ReuseSocket() const { return FReuseSocket; }
  void SetReuseSocket(TIdReuseSocket AValue) { FReuseSocket = AValue; }
  bool UseNagle() const { return FUseNagle; }
  // Applied at once when a socket is allocated.
  void SetUseNagle(bool AValue);

  // Never null: when none is set, an owned, disabled proxy of the registered default class
  // (the SOCKS settings) is created.
  virtual TIdCustomTransparentProxy* TransparentProxy();
  // A proxy with a component owner is referenced (and watched); an ownerless one is copied
  // into a proxy of the same class that this handler owns; null releases the current one.
  virtual void SetTransparentProxy(TIdCustomTransparentProxy* AValue);
  // The transparent proxy when one is set and enabled, else null (never creates one).
  TIdCustomTransparentProxy* EnabledTransparentProxy() const;

  const TNotifyEvent& OnBeforeBind() const { return FOnBeforeBind; }
  void SetOnBeforeBind(TNotifyEvent AValue) { FOnBeforeBind = std::move(AValue); }
  const TNotifyEvent& OnAfterBind() const { return FOnAfterBind; }
  void SetOnAfterBind(TNotifyEvent AValue) { FOnAfterBind = std::move(AValue); }
  const TNotifyEvent& OnSocketAllocated() const { return FOnSocketAllocated; }
  void SetOnSocketAllocated(TNotifyEvent AValue) { FOnSocketAllocated = std::move(AValue); }

protected:
  // The bind phase: allocate the socket, bind it locally, apply the options.
  virtual void ConnectClient();
  virtual void DoBeforeBind();
  virtual void DoAfterBind();
  virtual void DoSocketAllocated();
  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override;

private:
  std::unique_ptr<TIdSocketHandle> FBinding;
  // FBinding's object, published once it is built: a thread that aborts a transfer reads the
  // binding while the transferring thread may be creating it in Open.
  std::atomic<TIdSocketHandle*> FPublishedBinding{nullptr};
  std::string FBoundIP;
  TIdPort FBoundPort = 0;
  TIdPort FBoundPortMax = 0;
  TIdPort FBoundPortMin = 0;
  TIdPort FDefaultPort = 0;
  TNotifyEvent FOnBeforeBind;
  TNotifyEvent FOnAfterBind;
  TNotifyEvent FOnSocketAllocated;
  TIdCustomTransparentProxy* FTransparentProxy = nullptr; // FOwnedProxy, or a watched one
  std::unique_ptr<TIdCustomTransparentProxy> FOwnedProxy;
  bool FUseNagle = true;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  TIdIPVersion FIPVersion = Id_IPv4;

  void ApplyNagle();
  void ReleaseTransparentProxy();
  void KeepCopyOf(const TIdCustomTransparentProxy& AValue);
};

} // namespace ftpc
