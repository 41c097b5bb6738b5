// FTPS for the client program: a TLS handler set up from --tls / ftps:// and the trust
// options, and the reason a refused handshake gives. TlsOpenSSL.cpp builds it over the OpenSSL
// plug-in; TlsNone.cpp stands in where the build has no TLS plug-in (Windows).
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <string_view>

#include "examples/cli/Options.h"
#include "ftp/IdFTP.h"

namespace ftpc::cli {

// Whether the invocation asks for TLS at all.
inline bool WantsTls(const Invocation& AInvocation) {
  return AInvocation.Opts.Tls.Explicit || AInvocation.Url.ImplicitTls;
}

// Raises UsageError when this build has no TLS.
void CheckTlsAvailable();

// --pin's value: 64 hex digits, colons allowed; nothing when malformed.
std::optional<CertificatePin> ParsePin(std::string_view AText);

// Gives AFtp a TLS handler (owned by AFtp) configured from the options, and the TLS mode: TLS
// required (explicit) with --tls, implicit with ftps://. Call after the host and port are set.
// Returns the handler.
TIdSSLIOHandlerSocketBase& ApplyTls(TIdFTP& AFtp, const Invocation& AInvocation);

// Rethrows AFailure; when the handshake failed, as an error that says why (the library's own
// message only says that TLS could not be had).
[[noreturn]] void RethrowWithTlsReason(const TIdSSLIOHandlerSocketBase* AHandler,
                                       std::exception_ptr AFailure);

} // namespace ftpc::cli
