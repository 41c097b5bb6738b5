#include "app/ToolRun.h"

#include <unistd.h>

namespace ftpc::test {

ToolRun RunTool(const std::vector<std::string>& AArgs, Millis ATimeout) {
  return RunProgram(BuildDir() + "/ftp", AArgs, ATimeout);
}

std::string Port21Unavailable() {
  return ::geteuid() == 0 ? std::string() : "the tool always connects to port 21, which needs root";
}

} // namespace ftpc::test
