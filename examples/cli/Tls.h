// FTPS for the client program: the OpenSSL handler set up from --tls / ftps:// and the trust
// options, and the reason a refused handshake gives.
#pragma once

#include <exception>
#include <memory>

#include "examples/cli/Options.h"
#include "ftp/IdFTP.h"
#include "tls/IdOpenSSLTLSHandler.h"

namespace ftpc::cli {

// Whether the invocation asks for TLS at all.
bool WantsTls(const Invocation& AInvocation);

// Gives AFtp a TLS handler (owned by AFtp) configured from the options, and the TLS mode: TLS
// required (explicit) with --tls, implicit with ftps://. Call after the host and port are set.
// Returns the handler.
TIdOpenSSLTLSHandler& ApplyTls(TIdFTP& AFtp, const Invocation& AInvocation);

// Rethrows AFailure; when the handshake failed, as an error that says why (the library's own
// message only says that TLS could not be had).
[[noreturn]] void RethrowWithTlsReason(const TIdOpenSSLTLSHandler* AHandler,
                                       std::exception_ptr AFailure);

} // namespace ftpc::cli
