// TIdConnectionIntercept: a chainable filter that an I/O handler passes every block it sends
// and receives through, and tells when the connection opens and closes.
#pragma once

#include <functional>

#include "core/IdComponent.h"

namespace ftpc {

FTPC_DECLARE_EXCEPTION(EIdInterceptCircularLink, EIdException);

// The handler may replace the block (for example with an encrypted or compressed form).
using TIdInterceptNotifyEvent = std::function<void(TObject* ASender, TBytes& VBuffer)>;

// Outgoing data passes this intercept first and then the next one in the chain; incoming data
// passes the chain's far end first, so the intercept nearest the handler sees it last.
class TIdConnectionIntercept : public TIdBaseComponent {
public:
  explicit TIdConnectionIntercept(TIdInitializerComponent* AOwner = nullptr);
  std::string ClassName() const override { return "TIdConnectionIntercept"; }

  // Records the connection (watched for destruction), fires OnConnect, then connects the
  // next intercept.
  virtual void Connect(TIdInitializerComponent* AConnection);
  // Disconnects the next intercept first, then fires OnDisconnect and forgets the connection.
  virtual void Disconnect();
  virtual void Receive(TBytes& VBuffer);
  virtual void Send(TBytes& VBuffer);

  TIdInitializerComponent* Connection() const { return FConnection; }
  TIdConnectionIntercept* Intercept() const { return FIntercept; }
  // Raises EIdInterceptCircularLink ("<class>: Circular links are not allowed") when the
  // chain starting at AValue reaches this intercept; nothing changes then.
  void SetIntercept(TIdConnectionIntercept* AValue);
  bool IsClient() const { return FIsClient; }
  void SetIsClient(bool AValue) { FIsClient = AValue; }
  // A slot for the user's own object; never owned or dereferenced here.
  TObject* Data() const { return FData; }
  void SetData(TObject* AValue) { FData = AValue; }

  const TNotifyEvent& OnConnect() const { return FOnConnect; }
  void SetOnConnect(TNotifyEvent AValue) { FOnConnect = std::move(AValue); }
  const TNotifyEvent& OnDisconnect() const { return FOnDisconnect; }
  void SetOnDisconnect(TNotifyEvent AValue) { FOnDisconnect = std::move(AValue); }
  const TIdInterceptNotifyEvent& OnReceive() const { return FOnReceive; }
  void SetOnReceive(TIdInterceptNotifyEvent AValue) { FOnReceive = std::move(AValue); }
  const TIdInterceptNotifyEvent& OnSend() const { return FOnSend; }
  void SetOnSend(TIdInterceptNotifyEvent AValue) { FOnSend = std::move(AValue); }

protected:
  void Notification(TIdInitializerComponent* AComponent, TOperation AOperation) override;

private:
  TIdInitializerComponent* FConnection = nullptr;
  TIdConnectionIntercept* FIntercept = nullptr;
  bool FIsClient = true;
  TObject* FData = nullptr;
  TNotifyEvent FOnConnect;
  TNotifyEvent FOnDisconnect;
  TIdInterceptNotifyEvent FOnReceive;
  TIdInterceptNotifyEvent FOnSend;

  void SetConnection(TIdInitializerComponent* AValue);
};

} // namespace ftpc
