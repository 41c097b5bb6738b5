// The transparent-proxy hook of the socket I/O handler: the settings every proxy shares
// (host, port, credentials, chaining) and the operations a proxy offers to tunnel a connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/IdComponent.h"
#include "global/IdGlobal.h"
#include "stack/IdStackConsts.h"

namespace ftpc {

class TIdIOHandler;
class TIdSocketHandle;

FTPC_DECLARE_EXCEPTION(EIdTransparentProxyCantBind, EIdException);
FTPC_DECLARE_EXCEPTION(EIdTransparentProxyUDPNotSupported, EIdException);
FTPC_DECLARE_EXCEPTION(EIdTransparentProxyCircularLink, EIdException);
// No proxy class is linked in (nothing registered a default factory).
FTPC_DECLARE_EXCEPTION(EIdTransparentProxyNotSupported, EIdException);

class TIdCustomTransparentProxy : public TIdComponent {
public:
  using TFactory = std::unique_ptr<TIdCustomTransparentProxy> (*)();

  // The proxy class a socket handler creates when asked for its proxy before one was set. The
  // SOCKS unit registers its settings class at start-up; null until a factory is registered.
  static void SetDefaultFactory(TFactory AFactory);
  // A new, disabled proxy of the registered class; raises EIdTransparentProxyNotSupported when
  // no proxy class is linked in.
  static std::unique_ptr<TIdCustomTransparentProxy> MakeDefault();

  explicit TIdCustomTransparentProxy(TIdInitializerComponent* AOwner = nullptr);
  ~TIdCustomTransparentProxy() override;

  std::string ClassName() const override { return "TIdCustomTransparentProxy"; }

  // A new, ownerless proxy of the same class with default settings: lets a handler keep its
  // own copy of a proxy it was given.
  virtual std::unique_ptr<TIdCustomTransparentProxy> NewInstance() const = 0;
  // Copies Host, Password, Port, IPVersion and Username; never the chain.
  virtual void Assign(const TIdCustomTransparentProxy& ASource);

  // Tunnels AIOHandler, already connected to this proxy (or to the start of the chain), to
  // AHost:APort. With an enabled chained proxy, this proxy first tunnels to that proxy,
  // which then tunnels to the target.
  void Connect(TIdIOHandler& AIOHandler, const std::string& AHost, TIdPort APort,
               TIdIPVersion AIPVersion = Id_IPv4);
  // Incoming connections through the proxy; the base class cannot bind.
  virtual void Bind(TIdIOHandler& AIOHandler, const std::string& AHost, TIdPort APort,
                    TIdIPVersion AIPVersion = Id_IPv4);
  void Bind(TIdIOHandler& AIOHandler, TIdPort APort);
  virtual bool Listen(TIdIOHandler& AIOHandler, int32_t ATimeOut);
  // The UDP relay; the base class raises EIdTransparentProxyUDPNotSupported.
  virtual void OpenUDP(TIdSocketHandle& AHandle, const std::string& AHost = "",
                       TIdPort APort = 0, TIdIPVersion AIPVersion = Id_IPv4);
  virtual void CloseUDP(TIdSocketHandle& AHandle);
  virtual int32_t RecvFromUDP(TIdSocketHandle& AHandle, TBytes& ABuffer, std::string& VPeerIP,
                              TIdPort& VPeerPort, TIdIPVersion AIPVersion, int32_t AMSec);
  virtual void SendToUDP(TIdSocketHandle& AHandle, const std::string& AHost, TIdPort APort,
                         TIdIPVersion AIPVersion, const TBytes& ABuffer);

  // ---- Properties ----
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool AValue);
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& AValue) { FHost = AValue; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& AValue) { FPassword = AValue; }
  TIdPort Port() const { return FPort; }
  void SetPort(TIdPort AValue) { FPort = AValue; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }
  const std::string& Username() const { return FUsername; }
  void SetUsername(const std::string& AValue) { FUsername = AValue; }
  TIdCustomTransparentProxy* ChainedProxy() const { return FChainedProxy; }
  // Raises EIdTransparentProxyCircularLink when the chain from AValue leads back here.
  void SetChainedProxy(TIdCustomTransparentProxy* AValue);

protected:
  // Negotiates the tunnel to AHost:APort over AIOHandler, which talks to this proxy.
  virtual void MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost, TIdPort APort,
                              TIdIPVersion AIPVersion) = 0;
  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override;

private:
  std::string FHost;
  std::string FPassword;
  TIdPort FPort = 0;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::string FUsername;
  TIdCustomTransparentProxy* FChainedProxy = nullptr; // not owned; cleared when it goes
};

} // namespace ftpc
