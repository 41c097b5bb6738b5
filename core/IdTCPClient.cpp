#include "core/IdTCPClient.h"

#include <algorithm>

#include "core/IdAntiFreezeBase.h"
#include "core/IdIOHandler.h"
#include "core/IdIOHandlerSocket.h"
#include "core/IdIntercept.h"
#include "base/IdResourceStrings.h"
#include "stack/IdSocketHandle.h"
#include "stack/IdStack.h"

namespace ftpc {

// ---- TIdConnectThread -------------------------------------------------------------------

TIdConnectThread::TIdConnectThread(TIdSocketHandle* ABinding)
    : FBinding(ABinding), FThread([this] { Execute(); }) {}

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Execute() {
  try {
    FBinding->Connect();
  } catch (const EIdSocketError& E) {
    // 10009 and 10038: the socket was closed under the connect. A connect ended at its time-out
    // reports nothing either way: the waiting thread raises the time-out instead.
    if (E.LastError() != Id_WSAEBADF && E.LastError() != Id_WSAENOTSOCK) {
      FExceptionMessage = E.what();
      FLastSocketError = E.LastError();
    }
  } catch (const std::exception& E) {
    FExceptionMessage = E.what();
  } catch (...) {
    FExceptionMessage = "?";
  }
  SignalTerminated();
}

void TIdConnectThread::SignalTerminated() {
  std::lock_guard<std::mutex> guard(FLock);
  FTerminated.store(true, std::memory_order_release);
  FTerminatedSignal.notify_all();
}

bool TIdConnectThread::WaitForTermination(uint32_t AMilliseconds) {
  std::unique_lock<std::mutex> guard(FLock);
  return FTerminatedSignal.wait_for(guard, std::chrono::milliseconds(AMilliseconds),
                                    [this] { return Terminated(); });
}

void TIdConnectThread::WaitFor() {
  if (FThread.joinable()) {
    FThread.join();
  }
}

// ---- Timed connect ----------------------------------------------------------------------

namespace {

constexpr int32_t kConnectSliceMs = 125;
constexpr uint32_t kShutdownRetryMs = 10;

int32_t ConnectSlice() {
  if (TIdAntiFreezeBase::ShouldUse()) {
    // An idle time-out of 0 or less counts as 1 ms: a slice that takes nothing off the
    // remaining time would never let the connect time out.
    return std::clamp(TIdAntiFreezeBase::Instance()->IdleTimeOut(), 1, kConnectSliceMs);
  }
  return kConnectSliceMs;
}

// Waits for the connect thread in slices until it ends or ATimeout (IdTimeoutInfinite: no
// limit) has passed, letting the idle-processing hook run after each slice.
void WaitForConnect(TIdConnectThread& AThread, int32_t ATimeout) {
  const int32_t slice = ConnectSlice();
  const bool unlimited = ATimeout == IdTimeoutInfinite;
  int32_t remaining = unlimited ? slice + 1 : ATimeout;
  while (slice < remaining) {
    if (AThread.Terminated()) {
      remaining = 0;
      break;
    }
    AThread.WaitForTermination(static_cast<uint32_t>(slice));
    if (!unlimited) {
      remaining -= slice;
    }
    TIdAntiFreezeBase::DoProcess(true);
  }
  if (remaining > 0) {
    AThread.WaitForTermination(static_cast<uint32_t>(remaining));
  }
}

// Ends a connect that took too long. A shutdown wakes a blocked connect; it is repeated
// because a connect thread that has not yet entered the connect would miss a single one. The
// socket is closed only once that thread is done with it: closed earlier, its number could be
// handed to a new socket elsewhere in the process, which the late connect would then use.
void EndPendingConnect(TIdConnectThread& AThread, TIdIOHandlerSocket& AHandler) {
  AThread.Terminate();
  while (!AThread.Terminated()) {
    AHandler.Binding()->Shutdown(Id_SD_Both);
    AThread.WaitForTermination(kShutdownRetryMs);
  }
  AThread.WaitFor();
  AHandler.Close();
}

} // namespace

void TimedConnect(TIdIOHandlerSocket& AHandler, int32_t ATimeout) {
  if (ATimeout == IdTimeoutDefault) {
    ATimeout = IdTimeoutInfinite;
  }
  TIdConnectThread thread(AHandler.Binding());
  WaitForConnect(thread, ATimeout);
  if (!thread.Terminated()) {
    EndPendingConnect(thread, AHandler);
    throw EIdConnectTimeout(std::string(RSConnectTimeout));
  }
  thread.WaitFor();
  if (!thread.ExceptionMessage().empty()) {
    if (thread.LastSocketError() != 0) {
      throw EIdSocketError(thread.LastSocketError(), thread.ExceptionMessage());
    }
    throw EIdConnectException(thread.ExceptionMessage());
  }
}

// ---- TIdTCPClientCustom -----------------------------------------------------------------

TIdTCPClientCustom::TIdTCPClientCustom(TIdInitializerComponent* AOwner)
    : TIdTCPConnection(AOwner) {}

TIdTCPClientCustom::TIdTCPClientCustom(TIdInitializerComponent* AOwner,
                                       const TIdReplyClass& AReplyClass)
    : TIdTCPConnection(AOwner, AReplyClass) {}

TIdTCPClientCustom::~TIdTCPClientCustom() = default;

void TIdTCPClientCustom::Connect() {
  if (Connected()) {
    throw EIdAlreadyConnected(std::string(RSAlreadyConnected));
  }
  CheckConnectSettings();
  EnsureIOHandler();
  try {
    if (!FDestination.empty()) {
      IOHandler()->SetDestination(FDestination);
    }
    PushSettingsToHandler();
    OpenAndReport();
  } catch (...) {
    CleanUpFailedConnect();
    throw;
  }
}

void TIdTCPClientCustom::Connect(const std::string& AHost) {
  SetHost(AHost);
  Connect();
}

void TIdTCPClientCustom::Connect(const std::string& AHost, TIdPort APort) {
  SetHost(AHost);
  SetPort(APort);
  Connect();
}

void TIdTCPClientCustom::CheckConnectSettings() {
  if (FHost.empty()) {
    throw EIdHostRequired("");
  }
  if (FPort == 0) {
    throw EIdPortRequired("");
  }
}

void TIdTCPClientCustom::EnsureIOHandler() {
  if (IOHandler() != nullptr) {
    return;
  }
  std::unique_ptr<TIdIOHandler> handler = CreateImplicitIOHandler();
  // The new handler's resolving and connecting statuses reach the client's listener.
  handler->SetOnStatus(OnStatus());
  SetIOHandler(std::move(handler));
}

std::unique_ptr<TIdIOHandler> TIdTCPClientCustom::CreateImplicitIOHandler() {
  return TIdIOHandler::MakeDefaultIOHandler(this);
}

// The client's values win over anything set on the handler directly.
void TIdTCPClientCustom::PushSettingsToHandler() {
  TIdIOHandler* handler = IOHandler();
  handler->SetPort(FPort);
  handler->SetHost(FHost);
  handler->SetConnectTimeout(FConnectTimeout);
  handler->SetReadTimeout(FReadTimeout);
  if (Socket() != nullptr) {
    PushSocketSettings(*Socket());
  }
}

void TIdTCPClientCustom::PushSocketSettings(TIdIOHandlerSocket& ASocket) const {
  ASocket.SetBoundIP(FBoundIP);
  ASocket.SetBoundPort(FBoundPort);
  ASocket.SetBoundPortMin(FBoundPortMin);
  ASocket.SetBoundPortMax(FBoundPortMax);
  ASocket.SetIPVersion(FIPVersion);
  ASocket.SetReuseSocket(FReuseSocket);
  ASocket.SetOnBeforeBind(FOnBeforeBind);
  ASocket.SetOnAfterBind(FOnAfterBind);
  ASocket.SetOnSocketAllocated(FOnSocketAllocated);
}

void TIdTCPClientCustom::OpenAndReport() {
  IOHandler()->Open();
  if (IOHandler()->Intercept() != nullptr) {
    IOHandler()->Intercept()->Connect(this);
  }
  ReportStatus(hsConnected, {FHost});
  DoOnConnected();
}

void TIdTCPClientCustom::CleanUpFailedConnect() {
  if (IOHandler() == nullptr) {
    return;
  }
  try {
    IOHandler()->Close();
  } catch (...) { // the connect's own failure is the one to report
  }
  if (ManagedIOHandler()) {
    SetIOHandler(nullptr);
  }
}

void TIdTCPClientCustom::DoOnConnected() {
  if (FOnConnected) {
    FOnConnected(this);
  }
}

std::string TIdTCPClientCustom::ConnectAndGetAll() {
  Connect();
  std::string result;
  try {
    result = IOHandler()->AllData();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
  return result;
}

void TIdTCPClientCustom::SetIOHandler(TIdIOHandler* AValue) {
  TIdTCPConnection::SetIOHandler(AValue);
  if (IOHandler() != nullptr) {
    PushSettingsToHandler();
  }
}

// ---- Settings ---------------------------------------------------------------------------

// Stores a setting and writes it into the handler (any handler, or only a socket handler)
// when there is one.
template <typename TValue, typename TTarget, typename TArg>
void TIdTCPClientCustom::StoreSetting(TValue& VField, TValue AValue, TTarget* ATarget,
                                      void (TTarget::*ASetter)(TArg)) {
  VField = std::move(AValue);
  if (ATarget != nullptr) {
    (ATarget->*ASetter)(VField);
  }
}

void TIdTCPClientCustom::SetBoundIP(const std::string& AValue) {
  StoreSetting(FBoundIP, AValue, Socket(), &TIdIOHandlerSocket::SetBoundIP);
}

void TIdTCPClientCustom::SetBoundPort(TIdPort AValue) {
  StoreSetting(FBoundPort, AValue, Socket(), &TIdIOHandlerSocket::SetBoundPort);
}

void TIdTCPClientCustom::SetBoundPortMax(TIdPort AValue) {
  StoreSetting(FBoundPortMax, AValue, Socket(), &TIdIOHandlerSocket::SetBoundPortMax);
}

void TIdTCPClientCustom::SetBoundPortMin(TIdPort AValue) {
  StoreSetting(FBoundPortMin, AValue, Socket(), &TIdIOHandlerSocket::SetBoundPortMin);
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion AValue) {
  StoreSetting(FIPVersion, AValue, Socket(), &TIdIOHandlerSocket::SetIPVersion);
}

void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket AValue) {
  StoreSetting(FReuseSocket, AValue, Socket(), &TIdIOHandlerSocket::SetReuseSocket);
}

void TIdTCPClientCustom::SetOnBeforeBind(TNotifyEvent AValue) {
  StoreSetting(FOnBeforeBind, std::move(AValue), Socket(), &TIdIOHandlerSocket::SetOnBeforeBind);
}

void TIdTCPClientCustom::SetOnAfterBind(TNotifyEvent AValue) {
  StoreSetting(FOnAfterBind, std::move(AValue), Socket(), &TIdIOHandlerSocket::SetOnAfterBind);
}

void TIdTCPClientCustom::SetOnSocketAllocated(TNotifyEvent AValue) {
  StoreSetting(FOnSocketAllocated, std::move(AValue), Socket(),
               &TIdIOHandlerSocket::SetOnSocketAllocated);
}

void TIdTCPClientCustom::SetConnectTimeout(int32_t AValue) {
  StoreSetting(FConnectTimeout, AValue, IOHandler(), &TIdIOHandler::SetConnectTimeout);
}

void TIdTCPClientCustom::SetHost(const std::string& AValue) {
  StoreSetting(FHost, AValue, IOHandler(), &TIdIOHandler::SetHost);
}

void TIdTCPClientCustom::SetPort(TIdPort AValue) {
  StoreSetting(FPort, AValue, IOHandler(), &TIdIOHandler::SetPort);
}

void TIdTCPClientCustom::SetReadTimeout(int32_t AValue) {
  StoreSetting(FReadTimeout, AValue, IOHandler(), &TIdIOHandler::SetReadTimeout);
}

int32_t TIdTCPClientCustom::ReadTimeout() const {
  return IOHandler() != nullptr ? IOHandler()->ReadTimeout() : FReadTimeout;
}

TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const {
  return Socket() != nullptr ? Socket()->ReuseSocket() : FReuseSocket;
}

} // namespace ftpc
