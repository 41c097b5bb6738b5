// THE ONE PLACE for what the command line accepts but this build cannot do yet: directory
// listings (ls), verification (verify) and MODE Z (--mode-z) wait for library parts that are
// still being built. To wire one, delete its entry here and give it its command in
// Commands.cpp (or its setting in Session.cpp).
#pragma once

#include <string>

#include "examples/cli/Options.h"

namespace ftpc::cli {

// What AInvocation asks for that this build lacks, as the subject of "... not available in
// this build"; empty when it can run.
inline std::string UnwiredFeature(const Invocation& AInvocation) {
  if (AInvocation.Cmd == Command::List) {
    return "ls";
  }
  if (AInvocation.Cmd == Command::Verify) {
    return "verify";
  }
  if (AInvocation.Opts.ModeZ) {
    return "--mode-z";
  }
  return {};
}

} // namespace ftpc::cli
