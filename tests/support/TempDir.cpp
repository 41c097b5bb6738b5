#include "support/TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace ftpc::test {

TempDir::TempDir(const std::string& APrefix, unsigned AMode) {
  std::string pattern = "/tmp/" + APrefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  }
  FPath = buffer.data();
  ::chmod(FPath.c_str(), static_cast<mode_t>(AMode));
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

bool WriteTextFile(const std::string& APath, const std::string& AContent, unsigned AMode) {
  {
    std::ofstream out(APath, std::ios::binary | std::ios::trunc);
    out << AContent;
    if (!out) {
      return false;
    }
  }
  return ::chmod(APath.c_str(), static_cast<mode_t>(AMode)) == 0;
}

std::string ReadTextFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

} // namespace ftpc::test
