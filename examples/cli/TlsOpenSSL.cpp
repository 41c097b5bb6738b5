#include "examples/cli/Tls.h"

#include "tls/IdOpenSSLTLSHandler.h"

namespace ftpc::cli {

void CheckTlsAvailable() {}

std::optional<CertificatePin> ParsePin(std::string_view AText) {
  return ParseSHA256Fingerprint(AText);
}

namespace {

void ApplyTrust(TIdOpenSSLTLSHandler& AHandler, const TlsOption& ATls) {
  if (!ATls.CAFile.empty()) {
    AHandler.SetCAFile(ATls.CAFile);
  } else if (ATls.Pin) {
    AHandler.SetPinnedSHA256(*ATls.Pin);
  } else if (ATls.Insecure) {
    AHandler.SetVerifyPeer(false);
  }
}

} // namespace

TIdSSLIOHandlerSocketBase& ApplyTls(TIdFTP& AFtp, const Invocation& AInvocation) {
  const TlsOption& tls = AInvocation.Opts.Tls;
  auto owned = std::make_unique<TIdOpenSSLTLSHandler>();
  TIdOpenSSLTLSHandler& handler = *owned;
  ApplyTrust(handler, tls);
  AFtp.SetIOHandler(std::unique_ptr<TIdIOHandler>(std::move(owned)));
  AFtp.SetUseTLS(AInvocation.Url.ImplicitTls ? utUseImplicitTLS : utUseRequireTLS);
  // The mode switch may move port 21 to 990 and back; the URL's port is the one meant.
  AFtp.SetPort(AInvocation.Url.Port);
  AFtp.SetDataPortProtection(tls.ClearData ? ftpdpsClear : ftpdpsPrivate);
  AFtp.SetUseCCC(tls.ClearControl);
  return handler;
}

void RethrowWithTlsReason(const TIdSSLIOHandlerSocketBase* AHandler,
                          std::exception_ptr AFailure) {
  const auto* handler = dynamic_cast<const TIdOpenSSLTLSHandler*>(AHandler);
  if (handler != nullptr && !handler->FailureReason().empty()) {
    try {
      std::rethrow_exception(AFailure);
    } catch (const EIdTLSClientTLSHandShakeFailed&) {
      throw EIdOpenSSLError("TLS failed: " + handler->FailureReason());
    } catch (...) {
    }
  }
  std::rethrow_exception(AFailure);
}

} // namespace ftpc::cli
