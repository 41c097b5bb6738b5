// One transfer past 4 GiB each way against a real server, in constant memory: the upload reads
// a stream that generates the test pattern, the download writes into a stream that checks every
// byte against it. Only the server's copy touches the disk, and it is removed at the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ftp/IdFTP.h"
#include "support/PatternStreams.h"
#include "support/RealFtpSession.h"
#include "support/TestPattern.h"

namespace ftpc {
namespace {

using test::TPatternCheckStream;
using test::TPatternStream;

// Past 2^32 by a MiB and three bytes: 32-bit counts, offsets and sizes all wrap inside it, and
// the odd tail ends mid-block.
constexpr int64_t kSize = (int64_t{4} << 30) + (int64_t{1} << 20) + 3;
// Resuming here asks the server for the last bytes only: REST with an offset past 2^32.
constexpr int64_t kResumeAt = kSize - 70001;

class RemoveOnExit {
public:
  explicit RemoveOnExit(std::string APath) : FPath(std::move(APath)) {}
  ~RemoveOnExit() { ::unlink(FPath.c_str()); }
  RemoveOnExit(const RemoveOnExit&) = delete;
  RemoveOnExit& operator=(const RemoveOnExit&) = delete;

private:
  std::string FPath;
};

int64_t FileSize(const std::string& APath) {
  struct stat status {};
  return ::stat(APath.c_str(), &status) == 0 ? status.st_size : -1;
}

// The first offset in [AOffset, AOffset + ALength) where the file differs from the pattern,
// or -1. Looks at the server's copy directly, around the places where 31- and 32-bit
// arithmetic would break.
int64_t FirstFileMismatch(const std::string& APath, int64_t AOffset, size_t ALength) {
  std::string actual(ALength, '\0');
  std::string expected(ALength, '\0');
  const int fd = ::open(APath.c_str(), O_RDONLY);
  const ssize_t got = fd < 0 ? -1 : ::pread(fd, actual.data(), ALength, AOffset);
  if (fd >= 0) {
    ::close(fd);
  }
  if (got != static_cast<ssize_t>(ALength)) {
    return AOffset;
  }
  test::FillPattern(static_cast<uint64_t>(AOffset), expected.data(), ALength);
  for (size_t i = 0; i < ALength; ++i) {
    if (actual[i] != expected[i]) {
      return AOffset + static_cast<int64_t>(i);
    }
  }
  return -1;
}

TEST(LargeTransfer, PastFourGiBIsByteExactBothWays) {
  auto server = test::StartRealFtpServerOrSkip(test::RealServerKind::Vsftpd);
  if (!server) {
    return;
  }
  const std::string remote = server->RootDir() + "/big.bin";
  const RemoveOnExit removeRemote(remote);
  auto ftp = test::LoggedInSession(*server, test::DataMode::Epsv);

  TPatternStream source(kSize);
  ftp->Put(source, "big.bin");
  ASSERT_EQ(FileSize(remote), kSize);
  for (const int64_t offset : {int64_t{0}, (int64_t{1} << 31) - 8, (int64_t{1} << 32) - 8,
                               kSize - 64}) {
    EXPECT_EQ(FirstFileMismatch(remote, offset, 64), -1) << "around " << offset;
  }
  EXPECT_EQ(ftp->Size("big.bin"), kSize);

  TPatternCheckStream whole;
  ftp->Get("big.bin", whole);
  EXPECT_EQ(whole.BytesWritten(), kSize);
  EXPECT_TRUE(whole.AllMatched()) << "first wrong byte at " << whole.FirstMismatch();

  TPatternCheckStream tail;
  tail.SetPosition(kResumeAt);
  ftp->Get("big.bin", tail, true);
  EXPECT_EQ(tail.BytesWritten(), kSize - kResumeAt);
  EXPECT_EQ(tail.Size(), kSize);
  EXPECT_TRUE(tail.AllMatched()) << "first wrong byte at " << tail.FirstMismatch();
  ftp->Quit();
}

} // namespace
} // namespace ftpc
