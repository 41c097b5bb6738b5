// Local files of the client program (the platform calls behind them are in Platform.h).
// A download goes to a temporary file beside LOCAL that takes LOCAL's name only once the
// download has succeeded, so a failed or interrupted one never leaves a partial LOCAL; a
// symbolic link at LOCAL is never followed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "global/IdStream.h"

namespace ftpc::cli {

// An existing regular file opened for reading; raises std::runtime_error otherwise.
std::unique_ptr<TStream> OpenForUpload(const std::string& APath);

class DownloadTarget {
public:
  // A new temporary file beside ALocal.
  static DownloadTarget Fresh(const std::string& ALocal);
  // ALocal itself, an existing regular file (not a link), positioned at its end.
  static DownloadTarget Resumed(const std::string& ALocal);

  DownloadTarget(DownloadTarget&&) noexcept;
  DownloadTarget& operator=(DownloadTarget&&) = delete;
  // Removes the temporary file unless Commit moved it.
  ~DownloadTarget();

  TStream& Stream() { return *FStream; }
  // Closes the file; a fresh one then takes ALocal's name, replacing what is there only when
  // AReplace (a link is replaced, not followed). Raises std::runtime_error when it cannot.
  void Commit(bool AReplace);

private:
  DownloadTarget(std::string ALocal, std::string ATemporary, std::unique_ptr<TStream> AStream,
                 int ACleanupSlot);

  std::string FLocal;
  std::string FTemporary; // empty when resuming or once committed
  std::unique_ptr<TStream> FStream;
  int FCleanupSlot; // the interrupt clean-up's slot for the temporary file, -1 for none
};

} // namespace ftpc::cli
