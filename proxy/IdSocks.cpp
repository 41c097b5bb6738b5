#include "proxy/IdSocks.h"

#include "base/IdResourceStrings.h"
#include "core/IdIOHandlerStack.h"

namespace ftpc {

namespace {

// Start-up: a socket handler asked for its proxy before one was set gets SOCKS settings.
[[maybe_unused]] const bool GSocksIsDefaultProxy = [] {
  TIdCustomTransparentProxy::SetDefaultFactory(
      []() -> std::unique_ptr<TIdCustomTransparentProxy> { return std::make_unique<TIdSocksInfo>(); });
  return true;
}();

} // namespace

TIdSocksInfo::TIdSocksInfo(TIdInitializerComponent* AOwner)
    : TIdCustomTransparentProxy(AOwner), FUDPSocksAssociation(std::make_unique<TIdIOHandlerStack>()) {
  SetPort(IdPORT_SOCKS);
  SetIPVersion(Id_IPv4);
}

TIdSocksInfo::~TIdSocksInfo() = default;

std::unique_ptr<TIdCustomTransparentProxy> TIdSocksInfo::NewInstance() const {
  return std::make_unique<TIdSocksInfo>();
}

void TIdSocksInfo::Assign(const TIdCustomTransparentProxy& ASource) {
  TIdCustomTransparentProxy::Assign(ASource);
  if (const auto* socks = dynamic_cast<const TIdSocksInfo*>(&ASource)) {
    FAuthentication = socks->FAuthentication;
    FVersion = socks->FVersion;
  }
}

bool TIdSocksInfo::Enabled() const {
  return FVersion == svSocks4 || FVersion == svSocks4A || FVersion == svSocks5;
}

void TIdSocksInfo::MakeConnection(TIdIOHandler& /*AIOHandler*/, const std::string& /*AHost*/,
                                  TIdPort /*APort*/, TIdIPVersion /*AIPVersion*/) {
  if (!Enabled()) {
    return;
  }
  throw EIdTransparentProxyNotSupported(
      FormatInvariant(RSTransparentProxyNotSupportedYet, {ClassName()}));
}

} // namespace ftpc
