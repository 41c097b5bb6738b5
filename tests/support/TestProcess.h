// Starting, watching and stopping outside programs (servers, proxies, tools) from tests, with
// every wait bounded.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "support/LoopbackSocket.h"

namespace ftpc::test {

// Starts AArgv[0] (an absolute path) in a session of its own, so that its process group can be
// signalled as a whole. Standard input, output and error all go to ALogPath (appended): some
// daemons report start-up errors on descriptor 0. Descriptors above 2 are not inherited.
// Returns the pid, or -1 with VError.
pid_t SpawnDaemon(const std::vector<std::string>& AArgv, const std::string& ALogPath,
                  std::string& VError);

// Runs a command to completion (output to ALogPath); returns its exit status, or -1 when it
// could not start, died from a signal or ran past ATimeout (it is killed then).
int RunCommand(const std::vector<std::string>& AArgv, const std::string& ALogPath, Millis ATimeout);

// APid, its descendants and the members of its process group, as /proc shows them now.
std::vector<pid_t> ProcessTree(pid_t APid);

// True while the process exists and is not a zombie.
bool ProcessAlive(pid_t APid);

// True when APid (a child of this process) has exited; reaps it.
bool ChildExited(pid_t APid);

// Stops APid with everything ProcessTree finds: SIGTERM, then SIGKILL for whatever is still
// alive after AGrace. Returns the pids that outlived even that (empty on success).
std::vector<pid_t> StopProcessTree(pid_t APid, Millis AGrace = Millis(5000));

} // namespace ftpc::test
