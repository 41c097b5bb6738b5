// Directory trees of the client program: get -r copies a remote directory with everything in
// it into a local one, put -r a local directory into a remote one. Subdirectories are created
// on the way (the top one too, when missing), files keep their modification times where the
// other side can take them, and --parallel N sessions share the files. A file that fails is
// reported and the rest is still copied.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "examples/cli/Options.h"

namespace ftpc::cli {

// Told about each file or directory that could not be copied: its path relative to the top
// of the tree, and why. Never called from two threads at once.
using TreeFailureReport = std::function<void(const std::string& APath, const std::exception& AWhy)>;

// Both return true when everything was copied. A failure before any file could be tried (no
// connection, no remote directory) raises an exception instead.
bool RunGetTree(const Invocation& AInvocation, const TreeFailureReport& AReport);
bool RunPutTree(const Invocation& AInvocation, const TreeFailureReport& AReport);

} // namespace ftpc::cli
