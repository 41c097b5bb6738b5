// The client program's system seam on the platform at hand (Linux here, Windows under Wine):
// what it creates, renames and opens, with names in UTF-8.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "examples/cli/Platform.h"

namespace ftpc::cli {
namespace {

namespace fs = std::filesystem;

class CliPlatform : public ::testing::Test {
protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("ftpc-cli-platform-" + std::to_string(platform::ProcessId()));
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  // The path of AName in the test directory; with AText, a file holding it.
  std::string File(const std::string& AName, const char* AText = nullptr) const {
    const fs::path path = FDir / fs::path(std::u8string(AName.begin(), AName.end()));
    if (AText != nullptr) {
      std::ofstream(path, std::ios::binary) << AText;
    }
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
  }
  static std::string Text(const std::string& APath) {
    std::ifstream in(fs::path(std::u8string(APath.begin(), APath.end())), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path FDir;
};

TEST_F(CliPlatform, CreateExclusiveNeverTakesAHeldName) {
  const std::string held = File("held", "old");
  EXPECT_EQ(platform::CreateExclusive(held), nullptr);
  EXPECT_EQ(Text(held), "old");
  const std::string fresh = File("caf\xc3\xa9 \xe2\x82\xac.part");
  platform::CreateExclusive(fresh)->WriteBuffer("new", 3);
  EXPECT_EQ(Text(fresh), "new");
}

TEST_F(CliPlatform, RenameReplacesOnlyWhenAsked) {
  const std::string from = File("from", "new");
  const std::string to = File("to", "old");
  EXPECT_THROW(platform::Rename(from, to, false), std::runtime_error);
  EXPECT_EQ(Text(to), "old");
  platform::Rename(from, to, true);
  EXPECT_EQ(Text(to), "new");
  EXPECT_FALSE(fs::exists(FDir / "from"));
  platform::Rename(to, File("free"), false);
  EXPECT_EQ(Text(File("free")), "new");
}

TEST_F(CliPlatform, OpensOnlyRegularFiles) {
  EXPECT_THROW(platform::OpenRegularForReading(FDir.string()), std::runtime_error);
  EXPECT_THROW(platform::OpenRegularForReading(File("missing")), std::runtime_error);
  EXPECT_THROW(platform::OpenRegularForWriting(File("missing")), std::runtime_error);
  EXPECT_EQ(platform::OpenRegularForReading(File("present", "abc"))->Size(), 3);
  EXPECT_EQ(platform::OpenRegularForWriting(File("present"))->Size(), 3);
}

#ifndef _WIN32
// Each session of a tree copy arms its own temporary file: an interrupt removes every armed
// one and nothing else.
TEST_F(CliPlatform, InterruptRemovesEveryArmedTemporary) {
  const std::string first = File("first", "1");
  const std::string done = File("done", "2");
  const std::string last = File("last", "3");
  EXPECT_EXIT(
      {
        platform::ArmInterruptCleanup(first);
        platform::DisarmInterruptCleanup(platform::ArmInterruptCleanup(done));
        platform::ArmInterruptCleanup(last);
        std::raise(SIGTERM);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_FALSE(fs::exists(first));
  EXPECT_TRUE(fs::exists(done));
  EXPECT_FALSE(fs::exists(last));
}
#endif

} // namespace
} // namespace ftpc::cli
