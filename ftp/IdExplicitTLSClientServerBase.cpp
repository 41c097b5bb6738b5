#include "ftp/IdExplicitTLSClientServerBase.h"

#include "core/IdReplyFTP.h"
#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"

namespace ftpc {

void TIdSSLIOHandlerSocketBase::SetPassThrough(bool AValue) { fPassThrough = AValue; }

TIdExplicitTLSClient::TIdExplicitTLSClient(TIdInitializerComponent* AOwner)
    : TIdTCPClientCustom(AOwner) {}

TIdExplicitTLSClient::TIdExplicitTLSClient(TIdInitializerComponent* AOwner,
                                           const TIdReplyClass& AReplyClass)
    : TIdTCPClientCustom(AOwner, AReplyClass) {}

TIdExplicitTLSClient::~TIdExplicitTLSClient() = default;

namespace {

TIdSSLIOHandlerSocketBase* AsTLSHandler(TIdIOHandler* AHandler) {
  return dynamic_cast<TIdSSLIOHandlerSocketBase*>(AHandler);
}

} // namespace

void TIdExplicitTLSClient::SetUseTLS(TIdUseTLS AValue) {
  if (Connected()) {
    throw EIdTLSClientCanNotSetWhileConnected(std::string(RSTLSClientCanNotSetWhileConnected));
  }
  if (AValue != utNoTLSSupport && AsTLSHandler(IOHandler()) == nullptr) {
    throw EIdTLSClientSSLIOHandlerRequred(std::string(RSTLSClientSSLIOHandlerRequred));
  }
  if (AValue == FUseTLS) {
    return;
  }
  if (AValue == utUseImplicitTLS) {
    if (Port() == FRegularProtPort) {
      SetPort(FImplicitTLSProtPort);
    }
  } else if (Port() == FImplicitTLSProtPort) {
    SetPort(FRegularProtPort);
  }
  FUseTLS = AValue;
}

void TIdExplicitTLSClient::SetIOHandler(TIdIOHandler* AValue) {
  TIdTCPClientCustom::SetIOHandler(AValue);
  if (FUseTLS != utNoTLSSupport && AsTLSHandler(AValue) == nullptr) {
    SetUseTLS(utNoTLSSupport);
  }
}

void TIdExplicitTLSClient::Connect() {
  if (TIdSSLIOHandlerSocketBase* tls = AsTLSHandler(IOHandler())) {
    tls->SetPassThrough(FUseTLS != utUseImplicitTLS);
  }
  TIdTCPClientCustom::Connect();
}

namespace {

// Fires AEvent (when set) with VContinue starting at ADefault; returns the handler's answer.
bool AskToContinue(const TIdOnTLSNegotiationFailure& AEvent, TObject* ASender, bool ADefault) {
  bool continueLogin = ADefault;
  if (AEvent) {
    AEvent(ASender, continueLogin);
  }
  return continueLogin;
}

} // namespace

void TIdExplicitTLSClient::DisconnectAfterTLSFailure() {
  try {
    if (Connected()) {
      Disconnect();
    }
  } catch (const std::exception&) {
    // The connection is going away for the TLS failure; that failure is what the caller sees.
  }
}

void TIdExplicitTLSClient::ProcessTLSHandShakeFailed() {
  if (FUseTLS != utUseRequireTLS && AskToContinue(FOnTLSHandShakeFailed, this, false)) {
    return;
  }
  DisconnectAfterTLSFailure();
  throw EIdTLSClientTLSHandShakeFailed(std::string(RSTLSClientTLSNotAvailable));
}

void TIdExplicitTLSClient::ProcessTLSNegCmdFailed() {
  if (FUseTLS == utUseRequireTLS) {
    DisconnectAfterTLSFailure();
    throw EIdTLSClientTLSNotAvailable(std::string(RSTLSClientTLSNotAvailable));
  }
  if (AskToContinue(FOnTLSNegCmdFailed, this, false)) {
    return;
  }
  DisconnectAfterTLSFailure();
  throw EIdTLSClientTLSNotAvailable(std::string(RSTLSClientTLSNegCmdFailed));
}

void TIdExplicitTLSClient::ProcessTLSNotAvail() {
  if (FUseTLS != utUseRequireTLS && AskToContinue(FOnTLSNotAvailable, this, true)) {
    return;
  }
  DisconnectAfterTLSFailure();
  throw EIdTLSClientTLSNotAvailable(std::string(RSTLSClientTLSNegCmdFailed));
}

bool TIdExplicitTLSClient::TLSHandshake() {
  try {
    if (TIdSSLIOHandlerSocketBase* tls = AsTLSHandler(IOHandler())) {
      tls->SetPassThrough(false);
      return true;
    }
    throw EIdTLSClientSSLIOHandlerRequred(std::string(RSTLSClientSSLIOHandlerRequred));
  } catch (const std::exception&) {
    ProcessTLSHandShakeFailed();
  }
  return false;
}

} // namespace ftpc
