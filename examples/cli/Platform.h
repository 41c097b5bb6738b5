// The client program's one seam to the operating system: the files it creates, replaces and
// removes, the interrupt that must not leave a temporary file behind, and the terminal.
// PlatformPosix.cpp and PlatformWindows.cpp implement it; the build compiles the one that fits.
// Every call that fails raises std::runtime_error naming the path and the system's reason.
#pragma once

#include <memory>
#include <string>

#include "global/IdStream.h"

namespace ftpc::cli::platform {

// An existing regular file opened for reading.
std::unique_ptr<TStream> OpenRegularForReading(const std::string& APath);
// A new file at APath, opened for writing; nullptr when something (even a dangling link)
// already holds the name.
std::unique_ptr<TStream> CreateExclusive(const std::string& APath);
// An existing regular file opened for writing; a symbolic link at APath is refused, never
// followed.
std::unique_ptr<TStream> OpenRegularForWriting(const std::string& APath);
// Gives AFrom the name ATo. What holds ATo is replaced only when AReplace (a link is replaced,
// not followed); otherwise an existing ATo is an error and stays untouched.
void Rename(const std::string& AFrom, const std::string& ATo, bool AReplace);
void RemoveFile(const std::string& APath) noexcept;

// While armed, an interrupt that ends the program (Ctrl-C, termination) first removes APath.
// Up to kInterruptCleanupSlots paths are held at once, one per download under way (a tree copy
// runs up to 16). Returns the slot to disarm; -1 when none was free or the path is too long, and
// that file is then not removed.
inline constexpr int kInterruptCleanupSlots = 16;
int ArmInterruptCleanup(const std::string& APath);
void DisarmInterruptCleanup(int ASlot);

unsigned long ProcessId();
// Writing to a reader that went away (ftpc-cli ... | head) fails as an error instead of
// ending the program.
void IgnoreBrokenPipes();

} // namespace ftpc::cli::platform
