// SOCKS 4, 4A and 5 proxy settings (RFC 1928 framing, RFC 1929 user name and password).
#pragma once

#include <cstdint>
#include <memory>

#include "core/IdCustomTransparentProxy.h"

namespace ftpc {

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

// SOCKS settings. Enabled exactly when a SOCKS version is chosen. The negotiation itself is
// not built yet: connecting through an enabled SOCKS proxy raises
// EIdTransparentProxyNotSupported.
class TIdSocksInfo : public TIdCustomTransparentProxy {
public:
  explicit TIdSocksInfo(TIdInitializerComponent* AOwner = nullptr);
  ~TIdSocksInfo() override;

  std::string ClassName() const override { return "TIdSocksInfo"; }
  std::unique_ptr<TIdCustomTransparentProxy> NewInstance() const override;
  // Also copies Authentication and Version when ASource is SOCKS settings.
  void Assign(const TIdCustomTransparentProxy& ASource) override;

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
  TSocksAuthentication FAuthentication = saNoAuthentication;
  TSocksVersion FVersion = svNoSocks;
  std::unique_ptr<TIdIOHandlerStack> FUDPSocksAssociation;
};

} // namespace ftpc
