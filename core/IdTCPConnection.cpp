#include "core/IdTCPConnection.h"

#include <algorithm>

#include "core/IdIOHandler.h"
#include "core/IdIOHandlerSocket.h"
#include "core/IdIntercept.h"
#include "core/IdReplyRFC.h"
#include "base/IdResourceStrings.h"

namespace ftpc {

namespace {

// "Name=Value" becomes "Name: Value"; a line without "=" is written as it is.
std::string HeaderLine(const std::string& ALine) {
  const size_t equals = ALine.find('=');
  if (equals == std::string::npos) {
    return ALine;
  }
  return ALine.substr(0, equals) + ": " + ALine.substr(equals + 1);
}

// The time one reply may take, counted from its start: IdReplyReadTimeouts read time-outs,
// or no limit when the handler has no read time-out.
class TReplyDeadline {
public:
  explicit TReplyDeadline(int32_t AReadTimeout)
      : FReadTimeout(AReadTimeout),
        FBudget(static_cast<int64_t>(AReadTimeout) * IdReplyReadTimeouts),
        FStartTicks(TickCountMs()) {}

  // The time-out for the next line: the read time-out, or less when the reply's time is
  // nearly up. Raises EIdReadTimeout once it is up.
  int32_t NextLineTimeout() const {
    if (FReadTimeout <= 0) {
      return IdTimeoutUseReadTimeout;
    }
    const int64_t remaining = FBudget - TickSpan(FStartTicks, TickCountMs());
    if (remaining <= 0) {
      throw EIdReadTimeout(std::string(RSReadTimeout));
    }
    return static_cast<int32_t>(std::min<int64_t>(FReadTimeout, remaining));
  }

private:
  int32_t FReadTimeout;
  int64_t FBudget;
  uint32_t FStartTicks;
};

} // namespace

TIdTCPConnection::TIdTCPConnection(TIdInitializerComponent* AOwner)
    : TIdTCPConnection(AOwner, DefaultReplyClass()) {}

TIdTCPConnection::TIdTCPConnection(TIdInitializerComponent* AOwner,
                                   const TIdReplyClass& AReplyClass)
    : TIdComponent(AOwner), FReplyClass(&AReplyClass),
      FGreeting(AReplyClass.CreateWithReplyTexts(nullptr, nullptr)),
      FLastCmdResult(AReplyClass.CreateWithReplyTexts(nullptr, nullptr)) {}

TIdTCPConnection::~TIdTCPConnection() {
  if (FIOHandler != nullptr) {
    try {
      FIOHandler->Close();
    } catch (...) { // a destructor must not throw; the handler is going anyway
    }
    DetachIOHandler();
  }
  SetIntercept(nullptr);
}

const TIdReplyClass& TIdTCPConnection::DefaultReplyClass() { return TIdReplyRFC::ReplyClass(); }

// ---- Command exchange -------------------------------------------------------------------

void TIdTCPConnection::RequireIOHandler() const {
  if (FIOHandler == nullptr) {
    throw EIdNotConnected(std::string(RSNotConnected));
  }
}

std::string TIdTCPConnection::PreparedCommandLine(const std::string& AOut) {
  RequireIOHandler();
  std::string line = AOut;
  PrepareCommandLine(line);
  if (line.find_first_of("\r\n") != std::string::npos) {
    throw EIdCommandLineHasLineBreak(std::string(RSCommandLineHasLineBreak));
  }
  return line;
}

void TIdTCPConnection::SendCmdLine(const std::string& AOut, TEncoding* AEncoding) {
  const std::string line = PreparedCommandLine(AOut);
  FIOHandler->WriteLn(line, AEncoding);
}

int16_t TIdTCPConnection::SendCmd(const std::string& AOut, const TIdReplyCodes& AResponse,
                                  TEncoding* AEncoding) {
  SendCmdLine(AOut, AEncoding);
  return GetResponse(AResponse, AEncoding);
}

int16_t TIdTCPConnection::SendCmd(const std::string& AOut,
                                  std::initializer_list<int16_t> AResponse,
                                  TEncoding* AEncoding) {
  return SendCmd(AOut, TIdReplyCodes(AResponse), AEncoding);
}

int16_t TIdTCPConnection::SendCmd(const std::string& AOut, int16_t AResponse,
                                  TEncoding* AEncoding) {
  return AResponse < 0 ? SendCmd(AOut, TIdReplyCodes(), AEncoding)
                       : SendCmd(AOut, TIdReplyCodes{AResponse}, AEncoding);
}

std::string TIdTCPConnection::SendCmd(const std::string& AOut, const std::string& AResponse,
                                      TEncoding* AEncoding) {
  SendCmdLine(AOut, AEncoding);
  return GetResponse(AResponse, AEncoding);
}

int16_t TIdTCPConnection::GetResponse(const TIdReplyCodes& AAllowedResponses,
                                      TEncoding* AEncoding) {
  GetInternalResponse(AEncoding);
  const int code = FLastCmdResult->NumericCode();
  if (code < INT16_MIN || code > INT16_MAX) {
    throw EIdRangeError(std::string(RSRangeCheckError));
  }
  return CheckResponse(static_cast<int16_t>(code), AAllowedResponses);
}

int16_t TIdTCPConnection::GetResponse(std::initializer_list<int16_t> AAllowedResponses,
                                      TEncoding* AEncoding) {
  return GetResponse(TIdReplyCodes(AAllowedResponses), AEncoding);
}

int16_t TIdTCPConnection::GetResponse(int16_t AAllowedResponse, TEncoding* AEncoding) {
  return AAllowedResponse < 0 ? GetResponse(TIdReplyCodes(), AEncoding)
                              : GetResponse(TIdReplyCodes{AAllowedResponse}, AEncoding);
}

std::string TIdTCPConnection::GetResponse(const std::string& AAllowedResponse,
                                          TEncoding* AEncoding) {
  GetInternalResponse(AEncoding);
  return CheckResponse(FLastCmdResult->Code(), AAllowedResponse);
}

int16_t TIdTCPConnection::CheckResponse(int16_t AResponse,
                                        const TIdReplyCodes& AAllowedResponses) {
  if (AAllowedResponses.empty()) {
    return AResponse;
  }
  for (const int16_t allowed : AAllowedResponses) {
    if (allowed == AResponse) {
      return AResponse;
    }
  }
  RaiseExceptionForLastCmdResult();
  return AResponse; // not reached: the call raises
}

std::string TIdTCPConnection::CheckResponse(const std::string& AResponse,
                                            const std::string& AAllowedResponse) {
  if (!AAllowedResponse.empty() && !TextEqualsIgnoreCase(AResponse, AAllowedResponse)) {
    RaiseExceptionForLastCmdResult();
  }
  return AResponse;
}

void TIdTCPConnection::GetInternalResponse(TEncoding* AEncoding) {
  RequireIOHandler();
  const TReplyDeadline deadline(FIOHandler->ReadTimeout());
  std::vector<std::string> lines;
  size_t bytes = 0;
  for (;;) {
    lines.push_back(
        FIOHandler->ReadLnWait(IdFailCountUnlimited, AEncoding, deadline.NextLineTimeout()));
    if (FReplyClass->IsEndMarker(lines.back())) {
      break;
    }
    bytes += lines.back().size();
    if (lines.size() >= IdMaxReplyLines || bytes >= IdMaxReplyBytes) {
      throw EIdReplyTooLarge(std::string(RSReplyTooLarge));
    }
  }
  FLastCmdResult->SetFormattedReply(lines);
}

void TIdTCPConnection::RaiseExceptionForLastCmdResult() {
  FLastCmdResult->RaiseReplyError();
  // Only reached through a reply class whose error operation returns.
  throw EIdReplyError(FLastCmdResult->TextWithLineEnds());
}

void TIdTCPConnection::RaiseExceptionForLastCmdResult(TIdExceptionRaiser AException) {
  const std::string message = FLastCmdResult->TextWithLineEnds();
  AException(message);
  throw EIdException(message); // only reached when AException did not throw as it should
}

void TIdTCPConnection::PrepareCommandLine(std::string& /*VCommand*/) {}

void TIdTCPConnection::WriteHeader(const std::vector<std::string>& AHeader) {
  RequireIOHandler();
  const bool openedBuffer = !FIOHandler->WriteBufferingActive();
  if (openedBuffer) {
    FIOHandler->WriteBufferOpen();
  }
  try {
    for (const std::string& line : AHeader) {
      FIOHandler->WriteLn(HeaderLine(line));
    }
    FIOHandler->WriteLn();
    if (openedBuffer) {
      FIOHandler->WriteBufferClose();
    }
  } catch (...) {
    if (openedBuffer) {
      FIOHandler->WriteBufferCancel();
    }
    throw;
  }
}

void TIdTCPConnection::WriteRFCStrings(const std::vector<std::string>& AStrings) {
  RequireIOHandler();
  FIOHandler->WriteRFCStrings(AStrings, true);
}

// ---- Connection state -------------------------------------------------------------------

void TIdTCPConnection::CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected) {
  if (FIOHandler != nullptr) {
    FIOHandler->CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  } else if (ARaiseExceptionIfDisconnected) {
    throw EIdException(std::string(RSNotConnected));
  }
}

bool TIdTCPConnection::Connected() { return FIOHandler != nullptr && FIOHandler->Connected(); }

void TIdTCPConnection::DisconnectNotifyPeer() {}

void TIdTCPConnection::DoOnDisconnected() {
  if (FOnDisconnected) {
    FOnDisconnected(this);
  }
}

void TIdTCPConnection::Disconnect(bool ANotifyPeer) {
  // The handler is closed even when the goodbye fails; that failure passes on afterwards.
  std::exception_ptr goodbyeFailure;
  try {
    if (ANotifyPeer && Connected()) {
      DisconnectNotifyPeer();
    }
  } catch (...) {
    goodbyeFailure = std::current_exception();
  }
  if (FIOHandler != nullptr && FIOHandler->Opened()) {
    ReportStatus(hsDisconnecting);
    FIOHandler->Close();
    DoOnDisconnected();
    ReportStatus(hsDisconnected);
  }
  if (goodbyeFailure) {
    std::rethrow_exception(goodbyeFailure);
  }
}

void TIdTCPConnection::CreateIOHandler(const TIdIOHandlerClass* ABaseType) {
  if (Connected()) {
    throw EIdException(std::string(RSIOHandlerCannotChange));
  }
  SetIOHandler(ABaseType != nullptr ? TIdIOHandler::MakeIOHandler(*ABaseType)
                                    : TIdIOHandler::MakeDefaultIOHandler());
}

// ---- Handler and intercept --------------------------------------------------------------

void TIdTCPConnection::SetManagedIOHandler(bool AValue) {
  if (AValue && FManagedIOHandler == nullptr && FIOHandler != nullptr) {
    FManagedIOHandler.reset(FIOHandler);
  } else if (!AValue) {
    // The handler stays with whoever takes it over (its component owner, or the caller).
    static_cast<void>(FManagedIOHandler.release());
  }
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* AValue) {
  if (AValue == FIOHandler) {
    return;
  }
  if (AValue != nullptr && AValue->Intercept() != nullptr && FIntercept != nullptr &&
      AValue->Intercept() != FIntercept) {
    throw EIdException(std::string(RSIOHandlerDifferentIntercept));
  }
  DetachIOHandler();
  AttachIOHandler(AValue);
}

void TIdTCPConnection::SetIOHandler(std::unique_ptr<TIdIOHandler> AValue) {
  TIdIOHandler* const handler = AValue.get();
  std::exception_ptr failure;
  try {
    SetIOHandler(handler);
  } catch (...) {
    failure = std::current_exception();
  }
  if (handler != nullptr && FIOHandler == handler && FManagedIOHandler.get() != handler) {
    FManagedIOHandler = std::move(AValue);
  }
  if (failure) {
    std::rethrow_exception(failure);
  }
}

// Lets go of the current handler: a managed one is destroyed, a borrowed one forgotten.
void TIdTCPConnection::DetachIOHandler() {
  FSocket = nullptr;
  if (FManagedIOHandler != nullptr) {
    FIOHandler = nullptr;
    FManagedIOHandler.reset();
    return;
  }
  if (FIOHandler != nullptr) {
    FIOHandler->SetWorkTarget(nullptr);
    FIOHandler->RemoveFreeNotification(this);
    FIOHandler = nullptr;
  }
}

void TIdTCPConnection::AttachIOHandler(TIdIOHandler* AValue) {
  if (AValue != nullptr) {
    AValue->FreeNotification(this);
    AValue->SetWorkTarget(this);
    if (FIntercept != nullptr) {
      AValue->SetIntercept(FIntercept);
    }
    FSocket = dynamic_cast<TIdIOHandlerSocket*>(AValue);
  }
  FIOHandler = AValue;
}

TIdConnectionIntercept* TIdTCPConnection::Intercept() const {
  return FIOHandler != nullptr ? FIOHandler->Intercept() : FIntercept;
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == FIntercept) {
    return;
  }
  if (FIOHandler != nullptr && FIOHandler->Intercept() != nullptr && AValue != nullptr &&
      AValue != FIOHandler->Intercept()) {
    throw EIdException(std::string(RSIOHandlerDifferentIntercept));
  }
  if (FIntercept != nullptr) {
    FIntercept->RemoveFreeNotification(this);
  }
  FIntercept = AValue;
  if (FIntercept != nullptr) {
    FIntercept->FreeNotification(this);
  }
  if (FIOHandler != nullptr) {
    FIOHandler->SetIntercept(FIntercept);
  }
}

void TIdTCPConnection::Notification(TIdInitializerComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove) {
    if (AComponent == FIntercept) {
      FIntercept = nullptr;
    }
    if (AComponent != nullptr && AComponent == FIOHandler) {
      // Destroyed elsewhere (by its component owner): never destroy it a second time.
      static_cast<void>(FManagedIOHandler.release());
      FIOHandler = nullptr;
      FSocket = nullptr;
    }
  }
  TIdComponent::Notification(AComponent, AOperation);
}

} // namespace ftpc
