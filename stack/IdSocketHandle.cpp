#include "stack/IdSocketHandle.h"

#include <algorithm>
#include <mutex>

#include "base/IdExceptionCore.h"
#include "base/IdResourceStrings.h"
#include "stack/IdIdleHook.h"

namespace ftpc {

namespace {

constexpr const char* kBroadcastAddress = "255.255.255.255";

} // namespace

void TIdCollectionItem::Assign(const TObject& ASource) {
  throw EIdException(FormatInvariant(RSCannotAssign, {ASource.ClassName(), ClassName()}));
}

TIdSocketHandle::TIdSocketHandle() : FReadSocketList(TIdSocketList::CreateSocketList()) {
  Reset(true);
}

TIdSocketHandle::~TIdSocketHandle() {
  TIdSocketHandle::CloseSocket();
}

void TIdSocketHandle::SetHandle(TIdStackSocketHandle AHandle) {
  const TIdStackSocketHandle old = FHandle.load();
  if (old != Id_INVALID_SOCKET) {
    FReadSocketList->Remove(old);
  }
  FHandle.store(AHandle);
  FHandleAllocated.store(AHandle != Id_INVALID_SOCKET);
  if (AHandle != Id_INVALID_SOCKET) {
    FReadSocketList->Add(AHandle);
  }
}

void TIdSocketHandle::AllocateSocket(int ASocketType, int AProtocol) {
  CloseSocket();
  if (HandleAllocated()) {
    Reset(true); // a subclass kept the socket open: forget it
  }
  SetHandle(Stack().NewSocketHandle(ASocketType, AProtocol, FIPVersion, FOverLapped));
}

void TIdSocketHandle::CloseSocket() {
  if (!HandleAllocated()) {
    return;
  }
  const std::lock_guard guard(FConnectionHandle);
  // Another thread may have closed it while this one waited for the lock.
  if (!HandleAllocated()) {
    return;
  }
  FHandleAllocated.store(false);
  Stack().Disconnect(FHandle.load());
  SetHandle(Id_INVALID_SOCKET);
}

void TIdSocketHandle::Shutdown(int AHow) {
  const std::lock_guard guard(FConnectionHandle);
  if (HandleAllocated()) {
    Stack().WSShutdown(FHandle.load(), AHow);
  }
}

// ---- Binding ---------------------------------------------------------------------------------

void TIdSocketHandle::Bind() {
  if (FPort != 0 || FClientPortMin == 0 || FClientPortMax == 0) {
    // The platform's reason (busy port, bad address) is not passed on.
    if (!AttemptBind()) {
      throw EIdCouldNotBindSocket(std::string(RSCannotBindSocket));
    }
    return;
  }
  if (FClientPortMax < FClientPortMin) {
    throw EIdInvalidPortRange(
        FormatInvariant(RSInvalidPortRange, {FClientPortMin, FClientPortMax}));
  }
  if (!BindInPortRange()) {
    throw EIdCanNotBindPortInRange(
        FormatInvariant(RSCannotBindRange, {FClientPortMin, FClientPortMax}));
  }
}

bool TIdSocketHandle::BindInPortRange() {
  // From the top down, each port once; Port stays at the last port tried.
  for (int port = FClientPortMax; port >= FClientPortMin; --port) {
    FPort = static_cast<TIdPort>(port);
    if (AttemptBind()) {
      return true;
    }
  }
  return false;
}

bool TIdSocketHandle::AttemptBind() {
  try {
    Stack().Bind(Handle(), FIP, FPort, FIPVersion);
    UpdateBindingLocal();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// ---- Connections -----------------------------------------------------------------------------

void TIdSocketHandle::Connect() {
  // Without the lock: another thread may close the socket to end a connect that takes too
  // long, and then the binding must be left alone.
  Stack().Connect(Handle(), FPeerIP, FPeerPort, FIPVersion);
  const std::lock_guard guard(FConnectionHandle);
  if (HandleAllocated()) {
    UpdateBindingLocal();
    UpdateBindingPeer();
  }
}

void TIdSocketHandle::Listen(int AQueueCount) {
  Stack().Listen(Handle(), AQueueCount);
}

bool TIdSocketHandle::Accept(TIdStackSocketHandle ASocket) {
  Reset(true);
  std::string ip;
  TIdPort port = 0;
  TIdIPVersion version = Id_IPv4;
  const TIdStackSocketHandle accepted = Stack().Accept(ASocket, ip, port, version);
  if (accepted == Id_INVALID_SOCKET) {
    return false;
  }
  SetHandle(accepted);
  UpdateBindingLocal();
  UpdateBindingPeer();
  return true;
}

void TIdSocketHandle::Reset(bool AResetLocal) {
  SetHandle(Id_INVALID_SOCKET);
  if (AResetLocal) {
    FIP.clear();
    FPort = 0;
  }
  FPeerIP.clear();
  FPeerPort = 0;
  FIPVersion = Id_IPv4;
}

// ---- Waiting ---------------------------------------------------------------------------------

bool TIdSocketHandle::Readable(int32_t AMSec) {
  if (AMSec == IdTimeoutDefault) {
    AMSec = IdTimeoutInfinite;
  }
  if (!IdleHookShouldUse()) {
    return CheckIsReadable(AMSec);
  }
  // Wait in idle-time slices so that the host's messages are handled between them. A
  // non-positive idle time-out counts as 1 ms, so that the slices always make progress.
  const int32_t slice = std::max(IdleHookTimeOut(), 1);
  if (AMSec == IdTimeoutInfinite) {
    while (!CheckIsReadable(slice)) {
    }
    return true;
  }
  while (slice < AMSec) {
    if (CheckIsReadable(slice)) {
      return true;
    }
    AMSec -= slice;
  }
  return CheckIsReadable(AMSec);
}

bool TIdSocketHandle::CheckIsReadable(int32_t AMSec) {
  if (!HandleAllocated()) {
    throw EIdConnClosedGracefully(std::string(RSConnectionClosedGracefully));
  }
  return Select(AMSec);
}

bool TIdSocketHandle::Select(int32_t ATimeout) {
  const bool ready = FReadSocketList->SelectRead(ATimeout);
  IdleHookProcess(!ready, false);
  return ready;
}

// ---- Transfers -------------------------------------------------------------------------------

int32_t TIdSocketHandle::Send(const TBytes& ABuffer, int32_t AOffset, int32_t ASize) {
  return Stack().Send(Handle(), ABuffer, AOffset, ASize);
}

int32_t TIdSocketHandle::Receive(TBytes& VBuffer) {
  return Stack().Receive(Handle(), VBuffer);
}

int32_t TIdSocketHandle::Send(std::span<const uint8_t> ABuffer) {
  return Stack().Send(Handle(), ABuffer);
}

int32_t TIdSocketHandle::Receive(std::span<uint8_t> VBuffer) {
  return Stack().Receive(Handle(), VBuffer);
}

void TIdSocketHandle::SendTo(const std::string& AIP, TIdPort APort, const TBytes& ABuffer,
                             TIdIPVersion AIPVersion) {
  SendTo(AIP, APort, ABuffer, 0, -1, AIPVersion);
}

void TIdSocketHandle::SendTo(const std::string& AIP, TIdPort APort, const TBytes& ABuffer,
                             int32_t AOffset, int32_t ASize, TIdIPVersion AIPVersion) {
  Stack().SendTo(Handle(), ABuffer, AOffset, ASize, AIP, APort, AIPVersion);
}

int32_t TIdSocketHandle::RecvFrom(TBytes& ABuffer, std::string& VIP, TIdPort& VPort,
                                  TIdIPVersion AIPVersion) {
  return Stack().ReceiveFrom(Handle(), ABuffer, VIP, VPort, AIPVersion);
}

void TIdSocketHandle::Broadcast(const std::string& AData, TIdPort APort, const std::string& AIP,
                                TEncoding* AEncoding) {
  Broadcast(ResolveEncoding(AEncoding)->GetBytes(AData), APort, AIP);
}

void TIdSocketHandle::Broadcast(const TBytes& AData, TIdPort APort, const std::string& AIP) {
  const std::string trimmed = Trim(AIP);
  const std::string ip =
      trimmed.empty() ? std::string(kBroadcastAddress) : Stack().ResolveHost(trimmed, FIPVersion);
  SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, 1);
  try {
    SendTo(ip, APort, AData, Id_IPv4);
  } catch (...) {
    // The socket keeps the broadcast setting its owner chose, whatever happened.
    SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, FBroadcastEnabled ? 1 : 0);
    throw;
  }
  SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, FBroadcastEnabled ? 1 : 0);
}

// ---- Bindings and options --------------------------------------------------------------------

void TIdSocketHandle::SetPeer(const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion) {
  FPeerIP = AIP;
  FPeerPort = APort;
  FIPVersion = AIPVersion;
}

void TIdSocketHandle::SetBinding(const std::string& AIP, TIdPort APort, TIdIPVersion AIPVersion) {
  FIP = AIP;
  FPort = APort;
  FIPVersion = AIPVersion;
}

void TIdSocketHandle::UpdateBindingLocal() {
  Stack().GetSocketName(Handle(), FIP, FPort, FIPVersion);
}

void TIdSocketHandle::UpdateBindingPeer() {
  Stack().GetPeerName(Handle(), FPeerIP, FPeerPort, FIPVersion);
}

void TIdSocketHandle::GetSockOpt(int ALevel, int AOptName, int32_t& VOptVal) {
  Stack().GetSocketOption(Handle(), ALevel, AOptName, VOptVal);
}

void TIdSocketHandle::SetSockOpt(int ALevel, int AOptName, int32_t AOptVal) {
  Stack().SetSocketOption(Handle(), ALevel, AOptName, AOptVal);
}

void TIdSocketHandle::Assign(const TObject& ASource) {
  const auto* source = dynamic_cast<const TIdSocketHandle*>(&ASource);
  if (source == nullptr) {
    TIdCollectionItem::Assign(ASource);
    return;
  }
  FIP = source->FIP;
  FPort = source->FPort;
  FPeerIP = source->FPeerIP;
  FPeerPort = source->FPeerPort;
  FIPVersion = source->FIPVersion;
}

void TIdSocketHandle::SetIPVersion(TIdIPVersion AValue) {
  if (AValue == FIPVersion) {
    return;
  }
  if (HandleAllocated()) {
    throw EIdCannotSetIPVersionWhenConnected(std::string(RSCannotSetIPVersionWhenConnected));
  }
  FIPVersion = AValue;
}

void TIdSocketHandle::SetBroadcastEnabled(bool AValue) {
  if (AValue == FBroadcastEnabled) {
    return;
  }
  FBroadcastEnabled = AValue;
  if (HandleAllocated()) {
    SetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST, AValue ? 1 : 0);
  }
}

} // namespace ftpc
