// The share modes of the file streams between two processes (Linux: fork).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "global/IdStream.h"
#include "support/TempDir.h"

namespace ftpc {
namespace {

TEST(FileStreamProcessTest, OpenerInAnotherProcessSeesTheShareMode) {
  const test::TempDir dir("ftpc-streams.");
  const std::string path = dir.File("other.bin");
  ASSERT_TRUE(test::WriteTextFile(path, "data"));
  TIdAppendFileStream writer(path);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only the plain attempts below run in the child; it reports through its exit code.
    int code = 0;
    try {
      TIdReadFileExclusiveStream refused(path);
      code |= 1;
    } catch (const EIdFileOpenError&) {
    }
    try {
      TIdReadFileNonExclusiveStream allowed(path);
    } catch (const EIdFileOpenError&) {
      code |= 2;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace ftpc
