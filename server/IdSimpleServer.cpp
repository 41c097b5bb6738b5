// TIdSimpleServer: bind, listen, the sliced wait for one connection, and the accept.
#include "server/IdSimpleServer.h"

#include <algorithm>

#include "core/IdIOHandlerSocket.h"
#include "base/IdResourceStrings.h"
#include "core/IdCustomTransparentProxy.h"
#include "stack/IdSocketHandle.h"

namespace ftpc {

namespace {

// The server connects to us, so one pending connection is all a listener may queue.
constexpr int kListenBacklog = 1;
constexpr int32_t kNoLimit = -2;

// The enabled transparent proxy of the connection's socket handler, else null.
TIdCustomTransparentProxy* EnabledProxyOf(TIdIOHandlerSocket* ASocket) {
  if (ASocket == nullptr) {
    return nullptr;
  }
  return ASocket->EnabledTransparentProxy();
}

} // namespace

TIdSimpleServer::TIdSimpleServer(TIdInitializerComponent* AOwner) : TIdTCPConnection(AOwner) {}

TIdSimpleServer::~TIdSimpleServer() {
  try {
    CloseListenHandle();
  } catch (...) {
    // Destructors never let an exception escape.
  }
}

TIdSocketHandle* TIdSimpleServer::Binding() const {
  return Socket() != nullptr ? Socket()->Binding() : nullptr;
}

void TIdSimpleServer::SetIOHandler(TIdIOHandler* AValue) {
  if (AValue != nullptr && dynamic_cast<TIdIOHandlerSocket*>(AValue) == nullptr) {
    throw EIdCannotUseNonSocketIOHandler(std::string(RSCannotUseNonSocketIOHandler));
  }
  TIdTCPConnection::SetIOHandler(AValue);
}

void TIdSimpleServer::SetIPVersion(TIdIPVersion AValue) {
  FIPVersion = AValue;
  if (Socket() != nullptr) {
    Socket()->SetIPVersion(AValue);
  }
}

void TIdSimpleServer::CreateBinding() {
  if (IOHandler() == nullptr) {
    CreateIOHandler();
  }
  IOHandler()->Open();
}

void TIdSimpleServer::EndListen() {
  FAbortedRequested.store(false);
  FListening = false;
}

void TIdSimpleServer::BeginListen() {
  if (Binding() == nullptr) {
    EndListen();
    CreateBinding();
  }
  if (TIdCustomTransparentProxy* proxy = EnabledProxyOf(Socket())) {
    Binding()->SetIP(FBoundIP);
    proxy->Bind(*IOHandler(), FBoundPort);
  } else {
    BindListenSocket();
    Binding()->Listen(kListenBacklog);
  }
  FListening = true;
}

void TIdSimpleServer::BindListenSocket() {
  try {
    if (FOnBeforeBind) {
      FOnBeforeBind(this);
    }
    TIdSocketHandle& binding = *Binding();
    binding.SetIPVersion(FIPVersion);
    binding.AllocateSocket(Id_SOCK_STREAM, Id_IPPROTO_IP);
    FListenHandle = binding.Handle();
    binding.SetIP(FBoundIP);
    binding.SetPort(FBoundPort);
    binding.SetClientPortMin(FBoundPortMin);
    binding.SetClientPortMax(FBoundPortMax);
    binding.Bind();
    if (FOnAfterBind) {
      FOnAfterBind(this);
    }
  } catch (...) {
    FListenHandle = Id_INVALID_SOCKET;
    throw;
  }
}

bool TIdSimpleServer::WaitStep(int32_t AMSec) {
  if (TIdCustomTransparentProxy* proxy = EnabledProxyOf(Socket())) {
    return proxy->Listen(*IOHandler(), AMSec);
  }
  return Binding()->Select(AMSec);
}

bool TIdSimpleServer::WaitForConnection(int32_t ATimeout) {
  // An accept wait of 0 or less counts as 1 ms: a slice that takes nothing off the remaining
  // time would never let the listen time out.
  const int32_t slice = std::max(FAcceptWait, 1);
  if (ATimeout == -1 || ATimeout == kNoLimit) {
    while (!FAbortedRequested.load()) {
      if (WaitStep(slice)) {
        return true;
      }
    }
    return false;
  }
  int32_t remaining = ATimeout;
  while (remaining > slice) {
    const bool ready = WaitStep(slice);
    if (ready || FAbortedRequested.load()) {
      return ready;
    }
    remaining -= slice;
  }
  return WaitStep(remaining);
}

void TIdSimpleServer::Listen(int32_t ATimeout) {
  if (!FListening) {
    BeginListen();
  }
  bool accepted = false;
  try {
    accepted = WaitForConnection(ATimeout);
    if (accepted && EnabledProxyOf(Socket()) == nullptr) {
      accepted = Binding()->Accept(FListenHandle);
      if (accepted) {
        IOHandler()->AfterAccept();
      }
    }
  } catch (...) {
    CloseListenHandle();
    throw;
  }
  CloseListenHandle();
  if (!accepted) {
    throw EIdAcceptTimeout(std::string(RSAcceptTimeout));
  }
}

// After a failed wait the binding still holds the listening socket: it forgets it here, so
// that it never closes the handle a second time.
void TIdSimpleServer::CloseListenHandle() {
  if (FListenHandle == Id_INVALID_SOCKET) {
    return;
  }
  TIdSocketHandle* binding = Binding();
  if (binding != nullptr && binding->Handle() == FListenHandle) {
    binding->Reset(false);
  }
  TIdStackUser user;
  user.Stack().Disconnect(FListenHandle);
  FListenHandle = Id_INVALID_SOCKET;
}

} // namespace ftpc
