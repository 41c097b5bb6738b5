// Runs a built program as a separate process and collects what it printed, for the process-
// level tests of the programs.
#pragma once

#include <string>
#include <vector>

#include "support/LoopbackSocket.h"

namespace ftpc::test {

struct ProgramRun {
  bool Exited = false;  // ended by itself (not by a signal or the time-out)
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// Runs AProgram (a path) with AArgs (argv[1...]), standard input from /dev/null, and waits up
// to ATimeout for it to end; a program still running then is killed and reported as not exited.
ProgramRun RunProgram(const std::string& AProgram, const std::vector<std::string>& AArgs,
                      Millis ATimeout = Millis(60000));

// The build directory: where the test executables, the tool and ftpc-cli are built. Found
// from the running executable, so that no absolute path is compiled into the tests.
std::string BuildDir();

} // namespace ftpc::test
