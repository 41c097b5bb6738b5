#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <random>

#include "global/IdStream.h"

namespace ftpc {
namespace {

namespace fs = std::filesystem;

// A fresh directory per test, removed with everything in it afterwards.
class FileStreamTest : public ::testing::Test {
protected:
  void SetUp() override {
    // A name of our own (the test also runs on Windows, which has no mkdtemp).
    FDir = fs::temp_directory_path() / ("ftpc-streams-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(FDir));
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string PathOf(const std::string& AName) const { return (FDir / AName).string(); }

  std::string MakeFile(const std::string& AName, const std::string& AContent) const {
    std::string path = PathOf(AName);
    std::ofstream(path, std::ios::binary) << AContent;
    return path;
  }

  static std::string ContentOf(const std::string& APath) {
    std::ifstream in(APath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path FDir;
};

enum TOpener { opCreate, opAppend, opReadShared, opReadDenyWrite };

const char* OpenerName(TOpener AOpener) {
  constexpr const char* kNames[] = {"Create", "Append", "ReadNonExclusive", "ReadExclusive"};
  return kNames[AOpener];
}

std::unique_ptr<TFileStream> Open(TOpener AOpener, const std::string& APath) {
  switch (AOpener) {
  case opCreate:
    return std::make_unique<TIdFileCreateStream>(APath);
  case opAppend:
    return std::make_unique<TIdAppendFileStream>(APath);
  case opReadShared:
    return std::make_unique<TIdReadFileNonExclusiveStream>(APath);
  case opReadDenyWrite:
    return std::make_unique<TIdReadFileExclusiveStream>(APath);
  }
  return nullptr;
}

struct TSharingCase {
  TOpener First;
  TOpener Second;
  bool SecondMayOpen;
};

// Access and sharing of the four openers: Create (read-write, shares nothing), Append
// (read-write, others may read), ReadNonExclusive (read, others may read and write),
// ReadExclusive (read, others may read). A second opener fails when it wants access the first
// denies, or denies access the first already has.
constexpr TSharingCase kSharingCases[] = {
    {opCreate, opCreate, false},           {opCreate, opAppend, false},
    {opCreate, opReadShared, false},       {opCreate, opReadDenyWrite, false},
    {opAppend, opCreate, false},           {opAppend, opAppend, false},
    {opAppend, opReadShared, true},        {opAppend, opReadDenyWrite, false},
    {opReadShared, opCreate, false},       {opReadShared, opAppend, true},
    {opReadShared, opReadShared, true},    {opReadShared, opReadDenyWrite, true},
    {opReadDenyWrite, opCreate, false},    {opReadDenyWrite, opAppend, false},
    {opReadDenyWrite, opReadShared, true}, {opReadDenyWrite, opReadDenyWrite, true},
};

TEST_F(FileStreamTest, SecondOpenerIsRefusedExactlyWhenTheShareModesConflict) {
  for (const TSharingCase& c : kSharingCases) {
    SCOPED_TRACE(std::string(OpenerName(c.First)) + " then " + OpenerName(c.Second));
    const std::string path = MakeFile("shared.bin", "0123456789");
    auto first = Open(c.First, path);
    if (c.SecondMayOpen) {
      EXPECT_NO_THROW(Open(c.Second, path));
    } else {
      EXPECT_THROW(Open(c.Second, path), EIdFileStreamError);
    }
    first.reset();
    EXPECT_NO_THROW(Open(c.Second, path)) << "the first opener's claim outlived it";
  }
}

TEST_F(FileStreamTest, RefusedCreateLeavesTheOpenFileIntact) {
  const std::string path = MakeFile("keep.bin", "precious");
  TIdReadFileNonExclusiveStream reader(path);
  EXPECT_THROW(TIdFileCreateStream{path}, EIdFileCreateError);
  EXPECT_EQ(ContentOf(path), "precious");
}

TEST_F(FileStreamTest, AppendStartsAtTheEndOfAnExistingFileAndCreatesAMissingOne) {
  const std::string existing = MakeFile("resume.bin", std::string(1000, 'x'));
  {
    TIdAppendFileStream stream(existing);
    EXPECT_EQ(stream.Position(), 1000);
    stream.WriteBuffer("tail", 4);
  }
  EXPECT_EQ(ContentOf(existing), std::string(1000, 'x') + "tail");

  const std::string missing = PathOf("new.bin");
  {
    TIdAppendFileStream stream(missing);
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(stream.Size(), 0);
  }
  EXPECT_TRUE(fs::exists(missing));
}

TEST_F(FileStreamTest, CreateTruncatesAndReadsBackWhatItWrote) {
  const std::string path = MakeFile("over.bin", "old contents");
  TIdFileCreateStream stream(path);
  EXPECT_EQ(stream.Size(), 0);
  stream.WriteBuffer("abc", 3);
  stream.SetPosition(0);
  char back[3] = {};
  stream.ReadBuffer(back, 3);
  EXPECT_EQ(std::string(back, 3), "abc");
  EXPECT_EQ(stream.Read(back, 3), 0);
}

// Creating over a file that exists marks it modified even when it is empty already, as a
// truncating open does; only a file the open itself made skips the truncation.
TEST_F(FileStreamTest, CreateOverAnExistingEmptyFileMarksItModified) {
  const std::string path = MakeFile("empty.bin", "");
  const auto past = fs::last_write_time(path) - std::chrono::hours(24 * 365);
  fs::last_write_time(path, past);
  { TIdFileCreateStream stream(path); }
  EXPECT_GT(fs::last_write_time(path), past);
}

struct TOpenErrorCase {
  const char* Name;
  std::function<void(const std::string& ADir)> Attempt;
  std::string RelativePath;
  std::string ExpectedPrefix;
  std::string SystemText;
};

TEST_F(FileStreamTest, RefusedOpensNameTheFullPathAndTheSystemReason) {
  const std::string busy = MakeFile("busy.bin", "x");
  TIdFileCreateStream holder(busy);
  const TOpenErrorCase cases[] = {
      {"read missing", [](const std::string& d) { TIdReadFileExclusiveStream s(d + "/none"); },
       "none", "Cannot open file", "No such file or directory"},
      {"create in missing dir",
       [](const std::string& d) { TIdFileCreateStream s(d + "/no/dir/f"); }, "no/dir/f",
       "Cannot create file", "No such file or directory"},
      {"read a directory", [](const std::string& d) { TIdReadFileNonExclusiveStream s(d); }, "",
       "Cannot open file", "Is a directory"},
      {"append to a busy file",
       [](const std::string& d) { TIdAppendFileStream s(d + "/busy.bin"); }, "busy.bin",
       "Cannot open file", "Device or resource busy"},
  };
  for (const TOpenErrorCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = c.RelativePath.empty() ? FDir.string() : PathOf(c.RelativePath);
    try {
      c.Attempt(FDir.string());
      ADD_FAILURE() << "no error raised";
    } catch (const EIdFileStreamError& e) {
      EXPECT_EQ(e.Message(), c.ExpectedPrefix + " \"" + path + "\". " + c.SystemText);
    }
  }
}

TEST_F(FileStreamTest, RelativeNamesAreReportedAsFullPaths) {
  const fs::path saved = fs::current_path();
  fs::current_path(FDir);
  try {
    TIdReadFileNonExclusiveStream stream("sub/../absent.txt");
    ADD_FAILURE() << "no error raised";
  } catch (const EIdFileOpenError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot open file \"" + PathOf("absent.txt") + "\". No such file or directory");
  }
  fs::current_path(saved);
}

TEST_F(FileStreamTest, LocalPathExistsCountsDanglingLinksAndNeverFollowsThem) {
  const std::string file = MakeFile("file", "x");
  const std::string dangling = PathOf("dangling");
  EXPECT_TRUE(LocalPathExists(file));
  EXPECT_TRUE(LocalPathExists(FDir.string()));
  EXPECT_FALSE(LocalPathExists(PathOf("missing-target")));
  std::error_code noLinks; // where the platform (or Wine) has no symbolic links
  fs::create_symlink(PathOf("missing-target"), dangling, noLinks);
  EXPECT_TRUE(noLinks || LocalPathExists(dangling));
}

} // namespace
} // namespace ftpc
