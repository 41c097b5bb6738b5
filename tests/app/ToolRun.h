// Runs the command-line tool as a separate process and collects what it printed, for the tool's
// process-level tests.
#pragma once

#include <string>
#include <vector>

#include "support/ProgramRun.h"

namespace ftpc::test {

// The two lines the tool prints on every run, and nothing else.
inline const std::string kToolBanner = "FTP Console for Corvane program\nhttps://ftpconsole.invalid/\n";

using ToolRun = ProgramRun;

// Runs the built tool with AArgs (argv[1...]) and waits up to ATimeout for it to end; a tool
// still running then is killed and reported as not exited.
ToolRun RunTool(const std::vector<std::string>& AArgs, Millis ATimeout = Millis(60000));

// Why the tests that need the tool on port 21 cannot run here ("" when they can).
std::string Port21Unavailable();

} // namespace ftpc::test
