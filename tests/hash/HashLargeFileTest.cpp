// A file larger than 4 GiB: 64-bit positions, sizes and bit lengths, in bounded memory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "global/IdStream.h"
#include "hash/IdHashCRC.h"
#include "hash/IdHashMessageDigest.h"
#include "hash/IdHashSHA1.h"
#include "support/TempDir.h"

namespace ftpc {
namespace {

constexpr int64_t kFourGiB = int64_t{1} << 32;
constexpr int64_t kFileSize = kFourGiB + 4097;
constexpr int64_t kSecondMark = kFourGiB - 1;

// The digest of the file below, computed independently.
constexpr const char* kExpectedSHA1 = "5201ACDC8E47C17BCF8D031D5982311546CB04C5";

// A sparse file of kFileSize bytes: zeros, with 'A' first, 'B' just below 4 GiB and 'C' last.
void CreateSparseFile(const std::string& APath) {
  const int handle = ::open(APath.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(handle, 0) << std::strerror(errno);
  EXPECT_EQ(::ftruncate(handle, kFileSize), 0) << std::strerror(errno);
  EXPECT_EQ(::pwrite(handle, "A", 1, 0), 1);
  EXPECT_EQ(::pwrite(handle, "B", 1, kSecondMark), 1);
  EXPECT_EQ(::pwrite(handle, "C", 1, kFileSize - 1), 1);
  ::close(handle);
}

int64_t FreeBytes(const std::string& ADir) {
  struct statvfs info {};
  if (::statvfs(ADir.c_str(), &info) != 0) {
    return 0;
  }
  return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

int64_t PeakResidentBytes() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<int64_t>(usage.ru_maxrss) * 1024;
}

TEST(HashLargeFile, FileBeyondFourGiBHashesInBoundedMemory) {
  const test::TempDir dir("ftpc-hash.");
  // Room for the whole file, in case the file system cannot keep it sparse.
  const int64_t needed = kFileSize + (int64_t{256} << 20);
  if (FreeBytes(dir.Path()) < needed) {
    GTEST_SKIP() << "needs " << needed / (1 << 20) << " MiB free in " << dir.Path();
  }
  const std::string path = dir.File("large.bin");
  CreateSparseFile(path);
  const int64_t peakBefore = PeakResidentBytes();

  TIdReadFileNonExclusiveStream stream(path);
  EXPECT_EQ(TIdHashSHA1().HashStreamAsHex(stream), kExpectedSHA1);
  EXPECT_EQ(stream.Position(), kFileSize);

  // Ranges that start below and beyond 4 GiB.
  TBytes acrossBoundary(16, 0);
  acrossBoundary[7] = 'B';
  TIdHashMessageDigest5 md5;
  EXPECT_EQ(md5.HashStream(stream, kFourGiB - 8, 16), md5.HashBytes(acrossBoundary));
  EXPECT_EQ(stream.Position(), kFourGiB + 8);
  EXPECT_EQ(md5.HashStream(stream, kFileSize - 2, 100), md5.HashBytes(TBytes{0, 'C'}));
  TBytes tail(4098, 0);
  tail.front() = 'B';
  tail.back() = 'C';
  EXPECT_EQ(TIdHashCRC32().HashValue(stream, kSecondMark, -1), TIdHashCRC32().HashValue(tail));

  // The read buffer is a few hundred KiB; allow for test-runner noise, not for the file.
  EXPECT_LT(PeakResidentBytes() - peakBefore, int64_t{64} << 20);
}

} // namespace
} // namespace ftpc
