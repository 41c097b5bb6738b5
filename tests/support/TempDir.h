// A temporary directory that is removed with everything in it when the object goes.
#pragma once

#include <string>

namespace ftpc::test {

class TempDir {
public:
  // Creates /tmp/<APrefix>XXXXXX with mode AMode; throws std::runtime_error on failure.
  explicit TempDir(const std::string& APrefix = "ftpc-test.", unsigned AMode = 0700);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return FPath; }
  // Path of AName inside the directory.
  std::string File(const std::string& AName) const { return FPath + "/" + AName; }

private:
  std::string FPath;
};

// Writes AContent to APath (created or truncated) with mode AMode; false on an I/O error.
bool WriteTextFile(const std::string& APath, const std::string& AContent, unsigned AMode = 0644);
// The whole content of a file ("" when it cannot be read).
std::string ReadTextFile(const std::string& APath);

} // namespace ftpc::test
