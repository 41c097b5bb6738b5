// A build without a TLS plug-in: every TLS option is refused as a usage error, and the
// session never reaches ApplyTls.
#include "examples/cli/Tls.h"

namespace ftpc::cli {

namespace {

[[noreturn]] void RefuseTls() {
  throw UsageError("this build of ftpc-cli has no TLS: --tls, ftps:// and the trust options "
                   "are not available");
}

} // namespace

void CheckTlsAvailable() { RefuseTls(); }

std::optional<CertificatePin> ParsePin(std::string_view /*AText*/) { RefuseTls(); }

TIdSSLIOHandlerSocketBase& ApplyTls(TIdFTP& /*AFtp*/, const Invocation& /*AInvocation*/) {
  RefuseTls();
}

void RethrowWithTlsReason(const TIdSSLIOHandlerSocketBase* /*AHandler*/,
                          std::exception_ptr AFailure) {
  std::rethrow_exception(AFailure);
}

} // namespace ftpc::cli
