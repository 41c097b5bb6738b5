// The commands of the client program, each run in one session. Failures raise exceptions
// whose text is the reason shown to the user.
#pragma once

#include "examples/cli/Options.h"

namespace ftpc::cli {

// Downloads the URL's file to Invocation.Local (see the help text for --force and --resume).
void RunGet(const Invocation& AInvocation);
// Uploads Invocation.Local to the URL's file.
void RunPut(const Invocation& AInvocation);

enum class VerifyOutcome { Same, NoCommand, Differs };
// Compares Invocation.Local with the server's digest of the URL's file.
VerifyOutcome RunVerify(const Invocation& AInvocation);

} // namespace ftpc::cli
