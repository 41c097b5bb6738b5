#include "core/IdIntercept.h"

#include "base/IdResourceStrings.h"

namespace ftpc {

TIdConnectionIntercept::TIdConnectionIntercept(TIdInitializerComponent* AOwner)
    : TIdBaseComponent(AOwner) {}

void TIdConnectionIntercept::Connect(TIdInitializerComponent* AConnection) {
  SetConnection(AConnection);
  if (FOnConnect) {
    FOnConnect(this);
  }
  if (FIntercept != nullptr) {
    FIntercept->Connect(AConnection);
  }
}

void TIdConnectionIntercept::Disconnect() {
  if (FIntercept != nullptr) {
    FIntercept->Disconnect();
  }
  if (FOnDisconnect) {
    FOnDisconnect(this);
  }
  SetConnection(nullptr);
}

void TIdConnectionIntercept::Receive(TBytes& VBuffer) {
  if (FIntercept != nullptr) {
    FIntercept->Receive(VBuffer);
  }
  if (FOnReceive) {
    FOnReceive(this, VBuffer);
  }
}

void TIdConnectionIntercept::Send(TBytes& VBuffer) {
  if (FOnSend) {
    FOnSend(this, VBuffer);
  }
  if (FIntercept != nullptr) {
    FIntercept->Send(VBuffer);
  }
}

void TIdConnectionIntercept::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == FIntercept) {
    return;
  }
  for (const TIdConnectionIntercept* next = AValue; next != nullptr; next = next->FIntercept) {
    if (next == this) {
      throw EIdInterceptCircularLink(FormatInvariant(RSInterceptCircularLink, {ClassName()}));
    }
  }
  SetWatchedReference(FIntercept, AValue);
}

void TIdConnectionIntercept::SetConnection(TIdInitializerComponent* AValue) {
  if (AValue != FConnection) {
    SetWatchedReference(FConnection, AValue);
  }
}

void TIdConnectionIntercept::Notification(TIdInitializerComponent* AComponent,
                                          TOperation AOperation) {
  if (AOperation == opRemove) {
    if (AComponent == FIntercept) {
      FIntercept = nullptr;
    }
    if (AComponent == FConnection) {
      FConnection = nullptr;
    }
  }
  TIdBaseComponent::Notification(AComponent, AOperation);
}

} // namespace ftpc
