#include "core/IdIOHandlerStack.h"

#include "core/IdAntiFreezeBase.h"
#include "core/IdBuffer.h"
#include "base/IdResourceStrings.h"
#include "core/IdTCPClient.h"
#include "core/IdCustomTransparentProxy.h"
#include "stack/IdIPAddress.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStack.h"

namespace ftpc {

namespace {

// Without a connect time-out of its own, a connect still runs on a connect thread with this
// limit while idle processing is active, so that the host stays responsive.
constexpr int32_t kIdleProcessingConnectTimeout = 120000;
constexpr int32_t kMaxPort = 65535;

// Start-up: the stack handler is the default handler class. The registry is a function-local
// static of its own unit, so the order of start-up across units does not matter.
[[maybe_unused]] const bool GIOHandlerStackIsDefault = [] {
  TIdIOHandler::SetDefaultClass(TIdIOHandlerStack::Class());
  return true;
}();

std::unique_ptr<TIdIOHandler> CreateIOHandlerStack(TIdInitializerComponent* AOwner) {
  return std::make_unique<TIdIOHandlerStack>(AOwner);
}

} // namespace

TIdIOHandlerStack::TIdIOHandlerStack(TIdInitializerComponent* AOwner)
    : TIdIOHandlerSocket(AOwner) {}

TIdIOHandlerStack::~TIdIOHandlerStack() = default;

const TIdIOHandlerClass& TIdIOHandlerStack::Class() {
  static const TIdIOHandlerClass kClass{"TIdIOHandlerStack", &TIdIOHandlerSocket::Class(),
                                        &CreateIOHandlerStack};
  return kClass;
}

// ---- Connect phase ----------------------------------------------------------------------

void TIdIOHandlerStack::ConnectClient() {
  TIdIOHandlerSocket::ConnectClient();
  TIdCustomTransparentProxy* proxy = EnabledTransparentProxy();
  const std::string host = proxy != nullptr ? proxy->Host() : Host();
  const int32_t port = proxy != nullptr ? proxy->Port() : Port();
  const TIdIPVersion ipVersion = proxy != nullptr ? proxy->IPVersion() : IPVersion();
  const std::string address = ResolvedAddress(host, ipVersion);
  if (port < 0 || port > kMaxPort) {
    throw EIdRangeError(std::string(RSRangeCheckError));
  }
  Binding()->SetPeer(address, static_cast<TIdPort>(port), ipVersion);
  ReportStatus(hsConnecting, {Binding()->PeerIP()});
  ConnectSocket();
  if (proxy != nullptr) {
    proxy->Connect(*this, Host(), static_cast<TIdPort>(Port()), IPVersion());
  }
}

// Address literals are used as they are; names are resolved for the IP version.
std::string TIdIOHandlerStack::ResolvedAddress(const std::string& AHost,
                                               TIdIPVersion AIPVersion) {
  const bool isLiteral = AIPVersion == Id_IPv6 ? !CanonicalIPv6Text(AHost).empty()
                                               : GStack()->IsIP(AHost);
  if (isLiteral) {
    return AHost;
  }
  ReportStatus(hsResolving, {AHost});
  return GStack()->ResolveHost(AHost, AIPVersion);
}

void TIdIOHandlerStack::ConnectSocket() {
  if (ConnectTimeout() != 0) {
    TimedConnect(*this, ConnectTimeout());
  } else if (TIdAntiFreezeBase::ShouldUse()) {
    TimedConnect(*this, kIdleProcessingConnectTimeout);
  } else {
    Binding()->Connect();
  }
}

// ---- State ------------------------------------------------------------------------------

bool TIdIOHandlerStack::Connected() {
  FillInputBuffer(false, 0, false);
  return (BindingAllocated() && TIdIOHandler::Connected()) || !InputBufferIsEmpty();
}

void TIdIOHandlerStack::CheckForDisconnect(bool ARaiseExceptionIfDisconnected,
                                           bool AIgnoreBuffer) {
  bool lost = false;
  if (ClosedGracefully()) {
    lost = true;
    if (BindingAllocated()) {
      Binding()->CloseSocket();
      ReportStatus(hsDisconnected);
    }
  } else {
    lost = !BindingAllocated();
  }
  if (lost && ARaiseExceptionIfDisconnected && (AIgnoreBuffer || InputBufferIsEmpty())) {
    throw EIdConnClosedGracefully(std::string(RSConnectionClosedGracefully));
  }
}

bool TIdIOHandlerStack::Readable(int32_t AMSec) {
  if (Binding() == nullptr) { // never opened: no socket, as after a close
    throw EIdConnClosedGracefully(std::string(RSConnectionClosedGracefully));
  }
  return Binding()->Readable(AMSec);
}

int32_t TIdIOHandlerStack::ReceiveFromSource(std::span<uint8_t> VBuffer) {
  return Binding()->Receive(VBuffer);
}

int32_t TIdIOHandlerStack::SendToTarget(std::span<const uint8_t> ABuffer) {
  return Binding()->Send(ABuffer);
}

} // namespace ftpc
