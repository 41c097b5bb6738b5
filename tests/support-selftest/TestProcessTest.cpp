// Process helpers and port blocks, on plain shell processes (no servers, no root needed).
#include <gtest/gtest.h>

#include <poll.h>

#include "support/PortBlock.h"
#include "support/TempDir.h"
#include "support/TestProcess.h"

namespace ftpc::test {
namespace {

// Waits (bounded) until APid's tree has at least ACount processes.
std::vector<pid_t> WaitForTree(pid_t APid, size_t ACount) {
  const auto deadline = Clock::now() + Millis(10000);
  std::vector<pid_t> tree = ProcessTree(APid);
  while (tree.size() < ACount && Clock::now() < deadline) {
    ::poll(nullptr, 0, 10);
    tree = ProcessTree(APid);
  }
  return tree;
}

TEST(StopProcessTree, StopsDescendantsThatLeftTheProcessGroup) {
  TempDir dir;
  std::string error;
  // Like a server whose session processes call setsid(): one child stays in the group, one
  // leaves it, and the parent ignores SIGTERM so that the SIGKILL step runs too.
  const pid_t pid = SpawnDaemon(
      {"/bin/sh", "-c", "trap '' TERM; sleep 300 & setsid sleep 300 & wait"}, dir.File("log"), error);
  ASSERT_GT(pid, 0) << error;
  const std::vector<pid_t> tree = WaitForTree(pid, 3);
  ASSERT_GE(tree.size(), 3u);
  EXPECT_TRUE(StopProcessTree(pid, Millis(300)).empty());
  for (const pid_t member : tree) {
    EXPECT_FALSE(ProcessAlive(member)) << member;
  }
}

TEST(RunCommand, ReportsExitStatusAndKillsOverrunningCommands) {
  TempDir dir;
  EXPECT_EQ(RunCommand({"/bin/sh", "-c", "echo out; exit 3"}, dir.File("log"), Millis(10000)), 3);
  EXPECT_EQ(ReadTextFile(dir.File("log")), "out\n");
  EXPECT_EQ(RunCommand({"/bin/sleep", "300"}, dir.File("log"), Millis(50)), -1);
  EXPECT_EQ(RunCommand({"/nonexistent/program"}, dir.File("log"), Millis(1000)), -1);
}

TEST(PortBlock, ClaimsAreExclusiveAndBindable) {
  std::string error;
  const auto first = PortBlock::Claim({"127.0.0.1"}, error);
  ASSERT_TRUE(first) << error;
  const auto second = PortBlock::Claim({"127.0.0.1"}, error);
  ASSERT_TRUE(second) << error;
  EXPECT_NE(first->First(), second->First());
  EXPECT_EQ(first->Last() - first->First() + 1, PortBlock::kSize);
  EXPECT_LT(first->Last(), 32768);  // below the ephemeral range
  EXPECT_EQ(ListenProblem("127.0.0.1", second->First()), "");
}

} // namespace
} // namespace ftpc::test
