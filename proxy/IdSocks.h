// SOCKS 4, 4A and 5 proxy settings (RFC 1928 framing, RFC 1929 user name and password).
#pragma once

#include <cstdint>
#include <memory>

#include "core/IdCustomTransparentProxy.h"

namespace ftpc {

class TIdIOHandlerSocket;
class TIdIOHandlerStack;

enum TSocksAuthentication : uint8_t { saNoAuthentication, saUsernamePassword };
enum TSocksVersion : uint8_t { svNoSocks, svSocks4, svSocks4A, svSocks5 };

inline constexpr TIdPort IdPORT_SOCKS = 1080;

FTPC_DECLARE_EXCEPTION(EIdSocksUDPNotSupportedBySOCKSVersion, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerRespondError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksAuthMethodError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksAuthError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksRequestFailed, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksRequestServerFailed, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksRequestIdentFailed, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerGeneralError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerPermissionError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerNetUnreachableError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerHostUnreachableError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerConnectionRefusedError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerTTLExpiredError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerCommandError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksServerAddressError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdSocksUnknownError, EIdException);

// SOCKS settings and negotiation. Enabled exactly when a SOCKS version is chosen. Connect
// tunnels a handler already connected to the proxy (version 4, 4A or 5); Bind and Listen
// receive one incoming connection through the proxy; the UDP relay works with version 5 only.
class TIdSocksInfo : public TIdCustomTransparentProxy {
public:
  explicit TIdSocksInfo(TIdInitializerComponent* AOwner = nullptr);
  ~TIdSocksInfo() override;

  std::string ClassName() const override { return "TIdSocksInfo"; }
  std::unique_ptr<TIdCustomTransparentProxy> NewInstance() const override;
  // Also copies Authentication and Version when ASource is SOCKS settings.
  void Assign(const TIdCustomTransparentProxy& ASource) override;

  // Connects AIOHandler (a socket handler whose proxy is this one) straight to the proxy and
  // asks it to accept one connection from AHost:APort. The address the proxy listens on
  // becomes the handler's local binding: it is what the caller announces to the peer. A bind
  // does not follow the chain.
  void Bind(TIdIOHandler& AIOHandler, const std::string& AHost, TIdPort APort,
            TIdIPVersion AIPVersion = Id_IPv4) override;
  using TIdCustomTransparentProxy::Bind;
  // True once the proxy reports the incoming connection within ATimeOut; its address becomes
  // the handler's peer, and the handler then talks to that peer.
  bool Listen(TIdIOHandler& AIOHandler, int32_t ATimeOut) override;
  // Opens the UDP association (version 5) and connects AHandle, a datagram socket (allocated
  // here when it is not yet), to the proxy's relay.
  void OpenUDP(TIdSocketHandle& AHandle, const std::string& AHost = "", TIdPort APort = 0,
               TIdIPVersion AIPVersion = Id_IPv4) override;
  void CloseUDP(TIdSocketHandle& AHandle) override;
  // Waits up to AMSec for one datagram; its payload goes to the front of ABuffer (whose size is
  // the most that is taken) and its length is returned; 0 when none came, or when the relay's
  // header is malformed or announces a fragment (RFC 1928: dropped).
  int32_t RecvFromUDP(TIdSocketHandle& AHandle, TBytes& ABuffer, std::string& VPeerIP,
                      TIdPort& VPeerPort, TIdIPVersion AIPVersion, int32_t AMSec) override;
  void SendToUDP(TIdSocketHandle& AHandle, const std::string& AHost, TIdPort APort,
                 TIdIPVersion AIPVersion, const TBytes& ABuffer) override;

  bool Enabled() const override;
  TSocksAuthentication Authentication() const { return FAuthentication; }
  void SetAuthentication(TSocksAuthentication AValue) { FAuthentication = AValue; }
  TSocksVersion Version() const { return FVersion; }
  void SetVersion(TSocksVersion AValue) { FVersion = AValue; }
  // The control connection of the UDP relay.
  TIdIOHandlerStack& UDPSocksAssociation() { return *FUDPSocksAssociation; }

protected:
  void MakeConnection(TIdIOHandler& AIOHandler, const std::string& AHost, TIdPort APort,
                      TIdIPVersion AIPVersion) override;

private:
  void OpenStraightToProxy(TIdIOHandlerSocket& ASocket);
  // Raises EIdSocksUDPNotSupportedBySOCKSVersion unless the version is 5.
  void RequireUDP() const;

  TSocksAuthentication FAuthentication = saNoAuthentication;
  TSocksVersion FVersion = svNoSocks;
  std::unique_ptr<TIdIOHandlerStack> FUDPSocksAssociation;
};

} // namespace ftpc
