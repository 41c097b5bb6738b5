// The one seam between the library and the platform's file API: opening with access and
// share modes, descriptor I/O and the temporary directory. Nothing above it includes a
// platform header for files.
#pragma once

#include <cstdint>
#include <string>
#include <system_error>

#include "global/IdStream.h"

namespace ftpc::detail {

using TIdFileHandle = int;
inline constexpr TIdFileHandle InvalidFileHandle = -1;

// How a file is opened and what other openers may do with it meanwhile.
struct TIdFileOpenMode {
  bool CreateAlways = false; // create when missing, truncate when present
  bool ReadWrite = false;    // read and write access; otherwise read only
  bool OthersMayRead = true;
  bool OthersMayWrite = true;
};

// Opens AFileName in AMode. An opener whose access another opener denies, or that denies
// access another opener already has, fails without touching the file (no truncation).
// Returns InvalidFileHandle and sets VError on failure.
TIdFileHandle FileOpen(const std::string& AFileName, const TIdFileOpenMode& AMode,
                       std::error_code& VError);
void FileClose(TIdFileHandle AHandle) noexcept;

// Each returns -1 and sets VError on failure. FileRead and FileWrite transfer everything
// asked for, short only at the end of the file.
int64_t FileRead(TIdFileHandle AHandle, void* ABuffer, int64_t ACount, std::error_code& VError);
int64_t FileWrite(TIdFileHandle AHandle, const void* ABuffer, int64_t ACount,
                  std::error_code& VError);
int64_t FileSeek(TIdFileHandle AHandle, int64_t AOffset, TSeekOrigin AOrigin,
                 std::error_code& VError);
int64_t FileSize(TIdFileHandle AHandle, std::error_code& VError);
bool FileTruncate(TIdFileHandle AHandle, int64_t ASize, std::error_code& VError);

// The absolute form of AFileName, for messages; AFileName itself when it cannot be formed.
std::string ExpandFileName(const std::string& AFileName);

// The platform's directory for temporary files, without a trailing delimiter; empty when the
// platform names none.
std::string PlatformTempDirectory();

} // namespace ftpc::detail
