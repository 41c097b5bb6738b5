#include "core/IdCustomTransparentProxy.h"

#include <atomic>

#include "base/IdResourceStrings.h"

namespace ftpc {

namespace {

std::atomic<TIdCustomTransparentProxy::TFactory> GDefaultFactory{nullptr};

} // namespace

void TIdCustomTransparentProxy::SetDefaultFactory(TFactory AFactory) {
  GDefaultFactory.store(AFactory);
}

std::unique_ptr<TIdCustomTransparentProxy> TIdCustomTransparentProxy::MakeDefault() {
  const TFactory factory = GDefaultFactory.load();
  if (factory == nullptr) {
    throw EIdTransparentProxyNotSupported(std::string(RSTransparentProxyNotInstalled));
  }
  return factory();
}

TIdCustomTransparentProxy::TIdCustomTransparentProxy(TIdInitializerComponent* AOwner)
    : TIdComponent(AOwner) {}

TIdCustomTransparentProxy::~TIdCustomTransparentProxy() { SetChainedProxy(nullptr); }

void TIdCustomTransparentProxy::Assign(const TIdCustomTransparentProxy& ASource) {
  FHost = ASource.FHost;
  FPassword = ASource.FPassword;
  FPort = ASource.FPort;
  FIPVersion = ASource.FIPVersion;
  FUsername = ASource.FUsername;
}

void TIdCustomTransparentProxy::Connect(TIdIOHandler& AIOHandler, const std::string& AHost,
                                        TIdPort APort, TIdIPVersion AIPVersion) {
  TIdCustomTransparentProxy* next = FChainedProxy;
  if (next != nullptr && next->Enabled()) {
    MakeConnection(AIOHandler, next->Host(), next->Port(), Id_IPv4);
    next->Connect(AIOHandler, AHost, APort, AIPVersion);
  } else {
    MakeConnection(AIOHandler, AHost, APort, AIPVersion);
  }
}

void TIdCustomTransparentProxy::Bind(TIdIOHandler& /*AIOHandler*/, const std::string& /*AHost*/,
                                     TIdPort /*APort*/, TIdIPVersion /*AIPVersion*/) {
  throw EIdTransparentProxyCantBind(std::string(RSTransparentProxyCannotBind));
}

void TIdCustomTransparentProxy::Bind(TIdIOHandler& AIOHandler, TIdPort APort) {
  Bind(AIOHandler, "0.0.0.0", APort, Id_IPv4);
}

bool TIdCustomTransparentProxy::Listen(TIdIOHandler& /*AIOHandler*/, int32_t /*ATimeOut*/) {
  throw EIdTransparentProxyCantBind(std::string(RSTransparentProxyCannotBind));
}

void TIdCustomTransparentProxy::OpenUDP(TIdSocketHandle& /*AHandle*/, const std::string& /*AHost*/,
                                        TIdPort /*APort*/, TIdIPVersion /*AIPVersion*/) {
  throw EIdTransparentProxyUDPNotSupported(std::string(RSTransparentProxyNoUDP));
}

void TIdCustomTransparentProxy::CloseUDP(TIdSocketHandle& /*AHandle*/) {
  throw EIdTransparentProxyUDPNotSupported(std::string(RSTransparentProxyNoUDP));
}

int32_t TIdCustomTransparentProxy::RecvFromUDP(TIdSocketHandle& /*AHandle*/, TBytes& /*ABuffer*/,
                                               std::string& /*VPeerIP*/, TIdPort& /*VPeerPort*/,
                                               TIdIPVersion /*AIPVersion*/, int32_t /*AMSec*/) {
  throw EIdTransparentProxyUDPNotSupported(std::string(RSTransparentProxyNoUDP));
}

void TIdCustomTransparentProxy::SendToUDP(TIdSocketHandle& /*AHandle*/,
                                          const std::string& /*AHost*/, TIdPort /*APort*/,
                                          TIdIPVersion /*AIPVersion*/, const TBytes& /*ABuffer*/) {
  throw EIdTransparentProxyUDPNotSupported(std::string(RSTransparentProxyNoUDP));
}

void TIdCustomTransparentProxy::SetEnabled(bool /*AValue*/) {}

void TIdCustomTransparentProxy::SetChainedProxy(TIdCustomTransparentProxy* AValue) {
  if (AValue == FChainedProxy) {
    return;
  }
  for (const TIdCustomTransparentProxy* link = AValue; link != nullptr;
       link = link->FChainedProxy) {
    if (link == this) {
      throw EIdTransparentProxyCircularLink(
          FormatInvariant(RSTransparentProxyCircularLink, {ClassName()}));
    }
  }
  if (FChainedProxy != nullptr) {
    FChainedProxy->RemoveFreeNotification(this);
  }
  FChainedProxy = AValue;
  if (FChainedProxy != nullptr) {
    FChainedProxy->FreeNotification(this);
  }
}

void TIdCustomTransparentProxy::Notification(TIdInitializerComponent* AComponent,
                                             TOperation AOperation) {
  if (AOperation == opRemove && AComponent == FChainedProxy) {
    FChainedProxy = nullptr;
  }
  TIdComponent::Notification(AComponent, AOperation);
}

} // namespace ftpc
