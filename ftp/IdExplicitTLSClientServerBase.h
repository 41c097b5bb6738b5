// Explicit TLS negotiation settings of a client: the TLS mode, the failure events, the
// server's capability list, and the abstract TLS I/O handler that an application plugs in.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/IdIOHandlerStack.h"
#include "core/IdTCPClient.h"

namespace ftpc {

enum TIdUseTLS : uint8_t { utNoTLSSupport, utUseImplicitTLS, utUseRequireTLS, utUseExplicitTLS };

using TIdOnTLSNegotiationFailure = std::function<void(TObject* ASender, bool& VContinue)>;

// A socket I/O handler that can run TLS. The library has no implementation; an application
// supplies one. PassThrough true means plain reads and writes.
class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
public:
  using TIdIOHandlerStack::TIdIOHandlerStack;
  std::string ClassName() const override { return "TIdSSLIOHandlerSocketBase"; }

  bool PassThrough() const { return fPassThrough; }
  // false on a connected handler runs the client-side handshake (raising when it fails).
  virtual void SetPassThrough(bool AValue);
  bool IsPeer() const { return fIsPeer; }
  void SetIsPeer(bool AValue) { fIsPeer = AValue; }
  const std::string& URIToCheck() const { return FURIToCheck; }
  void SetURIToCheck(const std::string& AValue) { FURIToCheck = AValue; }

  virtual void StartSSL() = 0;
  // A new, unconnected handler with the same settings.
  virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() = 0;

protected:
  bool fPassThrough = true;
  bool fIsPeer = false;
  std::string FURIToCheck;
};

class TIdExplicitTLSClient : public TIdTCPClientCustom {
public:
  explicit TIdExplicitTLSClient(TIdInitializerComponent* AOwner = nullptr);
  ~TIdExplicitTLSClient() override;
  std::string ClassName() const override { return "TIdExplicitTLSClient"; }

  TIdUseTLS UseTLS() const { return FUseTLS; }
  virtual void SetUseTLS(TIdUseTLS AValue);
  virtual bool SupportsTLS() { return false; }
  const std::vector<std::string>& Capabilities() const { return FCapabilities; }

  const TIdOnTLSNegotiationFailure& OnTLSNotAvailable() const { return FOnTLSNotAvailable; }
  void SetOnTLSNotAvailable(TIdOnTLSNegotiationFailure AValue) {
    FOnTLSNotAvailable = std::move(AValue);
  }
  const TIdOnTLSNegotiationFailure& OnTLSNegCmdFailed() const { return FOnTLSNegCmdFailed; }
  void SetOnTLSNegCmdFailed(TIdOnTLSNegotiationFailure AValue) {
    FOnTLSNegCmdFailed = std::move(AValue);
  }
  const TIdOnTLSNegotiationFailure& OnTLSHandShakeFailed() const { return FOnTLSHandShakeFailed; }
  void SetOnTLSHandShakeFailed(TIdOnTLSNegotiationFailure AValue) {
    FOnTLSHandShakeFailed = std::move(AValue);
  }

  // A handler that is not a TLS handler switches UseTLS to utNoTLSSupport (through SetUseTLS).
  void SetIOHandler(TIdIOHandler* AValue) override;
  using TIdTCPClientCustom::SetIOHandler;
  // Sets the TLS handler's pass-through state for the mode, then connects.
  void Connect() override;
  using TIdTCPClientCustom::Connect;

protected:
  TIdExplicitTLSClient(TIdInitializerComponent* AOwner, const TIdReplyClass& AReplyClass);

  // The three failure handlings when TLS cannot be had.
  virtual void ProcessTLSNotAvail();
  virtual void ProcessTLSNegCmdFailed();
  virtual void ProcessTLSHandShakeFailed();
  // Runs the handshake on the connected control handler. True when it succeeded; false when it
  // failed and OnTLSHandShakeFailed let the session go on in plain text (otherwise it raises).
  virtual bool TLSHandshake();
  // Disconnects when connected, swallowing a failure of the goodbye.
  void DisconnectAfterTLSFailure();

  uint16_t FRegularProtPort = 0;
  uint16_t FImplicitTLSProtPort = 0;
  TIdUseTLS FUseTLS = utNoTLSSupport;
  TIdOnTLSNegotiationFailure FOnTLSNotAvailable;
  TIdOnTLSNegotiationFailure FOnTLSNegCmdFailed;
  TIdOnTLSNegotiationFailure FOnTLSHandShakeFailed;
  std::vector<std::string> FCapabilities;
};

} // namespace ftpc
