#include "core/IdIOHandlerSocket.h"

#include <typeinfo>

#include "core/IdCustomTransparentProxy.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStack.h"

namespace ftpc {

namespace {

// The port text of a destination is read from at most this many characters.
constexpr size_t kMaxDestinationPortText = 255;

} // namespace

TIdIOHandlerSocket::TIdIOHandlerSocket(TIdInitializerComponent* AOwner) : TIdIOHandler(AOwner) {}

// The socket handle closes its socket when destroyed; the base destructor then closes the
// handler itself.
TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  ReleaseTransparentProxy();
  FPublishedBinding.store(nullptr, std::memory_order_release);
  FBinding.reset();
}

const TIdIOHandlerClass& TIdIOHandlerSocket::Class() {
  static const TIdIOHandlerClass kClass{"TIdIOHandlerSocket", &TIdIOHandler::Class(), nullptr};
  return kClass;
}

bool TIdIOHandlerSocket::BindingAllocated() const {
  return FBinding != nullptr && FBinding->HandleAllocated();
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  if (FBinding == nullptr) {
    FBinding = std::make_unique<TIdSocketHandle>();
    FPublishedBinding.store(FBinding.get(), std::memory_order_release);
  } else {
    FBinding->Reset(true);
  }
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  if (!Host().empty() && Port() > 0) {
    ConnectClient();
  }
}

void TIdIOHandlerSocket::Close() {
  if (FBinding != nullptr) {
    FBinding->CloseSocket();
  }
  TIdIOHandler::Close();
}

// ---- Bind phase -------------------------------------------------------------------------

void TIdIOHandlerSocket::ConnectClient() {
  DoBeforeBind();
  // Behind a proxy the socket talks to the proxy, whose address family may differ from the
  // target's (an IPv6 server through a proxy on 127.0.0.1).
  const TIdCustomTransparentProxy* proxy = EnabledTransparentProxy();
  FBinding->SetIPVersion(proxy != nullptr ? proxy->IPVersion() : FIPVersion);
  FBinding->AllocateSocket(Id_SOCK_STREAM, Id_IPPROTO_IP);
  DoSocketAllocated();
  if (!FBoundIP.empty()) {
    FBinding->SetIP(FBoundIP);
  }
  FBinding->SetPort(FBoundPort);
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  if (FReuseSocket == rsTrue) {
    FBinding->SetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR, 1);
  }
  FBinding->Bind();
  ApplyNagle();
  DoAfterBind();
}

void TIdIOHandlerSocket::ApplyNagle() {
  FBinding->SetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY, FUseNagle ? 0 : 1);
}

void TIdIOHandlerSocket::SetUseNagle(bool AValue) {
  if (AValue == FUseNagle) {
    return;
  }
  FUseNagle = AValue;
  if (BindingAllocated()) {
    ApplyNagle();
  }
}

void TIdIOHandlerSocket::DoBeforeBind() {
  if (FOnBeforeBind) {
    FOnBeforeBind(this);
  }
}

void TIdIOHandlerSocket::DoAfterBind() {
  if (FOnAfterBind) {
    FOnAfterBind(this);
  }
}

void TIdIOHandlerSocket::DoSocketAllocated() {
  if (FOnSocketAllocated) {
    FOnSocketAllocated(this);
  }
}

// ---- Destination ------------------------------------------------------------------------

std::string TIdIOHandlerSocket::Destination() const {
  std::string result = Host();
  if (Port() > 0 && Port() != FDefaultPort) {
    result += ":" + std::to_string(Port());
  }
  return result;
}

void TIdIOHandlerSocket::SetDestination(const std::string& AValue) {
  const size_t colon = AValue.rfind(':');
  if (colon == std::string::npos) {
    return;
  }
  SetHost(AValue.substr(0, colon));
  const std::string portText = AValue.substr(colon + 1, kMaxDestinationPortText);
  SetPort(ParseTrimmedInt(portText, FDefaultPort));
}

// ---- Transparent proxy ------------------------------------------------------------------

TIdCustomTransparentProxy* TIdIOHandlerSocket::TransparentProxy() {
  if (FTransparentProxy == nullptr) {
    FOwnedProxy = TIdCustomTransparentProxy::MakeDefault();
    FTransparentProxy = FOwnedProxy.get();
  }
  return FTransparentProxy;
}

TIdCustomTransparentProxy* TIdIOHandlerSocket::EnabledTransparentProxy() const {
  return FTransparentProxy != nullptr && FTransparentProxy->Enabled() ? FTransparentProxy
                                                                        : nullptr;
}

void TIdIOHandlerSocket::SetTransparentProxy(TIdCustomTransparentProxy* AValue) {
  if (AValue == FTransparentProxy) {
    return;
  }
  if (AValue == nullptr) {
    ReleaseTransparentProxy();
  } else if (AValue->Owner() != nullptr) {
    ReleaseTransparentProxy();
    FTransparentProxy = AValue;
    FTransparentProxy->FreeNotification(this);
  } else {
    KeepCopyOf(*AValue);
  }
}

// An ownerless proxy is copied: the handler keeps a proxy of the same class of its own. The copy
// links to the same chained proxy, so that it tunnels the same way.
void TIdIOHandlerSocket::KeepCopyOf(const TIdCustomTransparentProxy& AValue) {
  const TIdCustomTransparentProxy* current = FOwnedProxy.get();
  const bool sameClass = current != nullptr && typeid(*current) == typeid(AValue);
  if (!sameClass) {
    ReleaseTransparentProxy();
    FOwnedProxy = AValue.NewInstance();
    FTransparentProxy = FOwnedProxy.get();
  }
  FOwnedProxy->Assign(AValue);
  FOwnedProxy->SetChainedProxy(AValue.ChainedProxy());
}

void TIdIOHandlerSocket::ReleaseTransparentProxy() {
  if (FOwnedProxy != nullptr) {
    FOwnedProxy.reset();
  } else if (FTransparentProxy != nullptr) {
    FTransparentProxy->RemoveFreeNotification(this);
  }
  FTransparentProxy = nullptr;
}

void TIdIOHandlerSocket::Notification(TIdInitializerComponent* AComponent,
                                      TOperation AOperation) {
  if (AOperation == opRemove && AComponent != nullptr && AComponent == FTransparentProxy &&
      FOwnedProxy == nullptr) {
    FTransparentProxy = nullptr;
  }
  TIdIOHandler::Notification(AComponent, AOperation);
}

} // namespace ftpc
