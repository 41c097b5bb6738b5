// A thousand sessions one after the other against a real server (connect, log in, upload or
// download a small file, in turn, disconnect): nothing a session holds may outlive it, so the process's
// descriptors and resident memory stay flat from the tenth session to the last.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "ftp/IdFTP.h"
#include "global/IdStream.h"
#include "support/RealFtpSession.h"

namespace ftpc {
namespace {

constexpr int kSessions = 1000;
constexpr int kWarmUpSessions = 10;
constexpr int64_t kFileSize = 4096;
// Allocator pools and the test framework's own records may move the resident size a little.
constexpr long kRssToleranceKiB = 1024;

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) {
      ++count;
    }
    ::closedir(dir);
  }
  return count;
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0;
  long resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void RunSession(const test::RealFtpServer& AServer, TMemoryStream& ASource, bool AUpload) {
  auto ftp = test::LoggedInSession(AServer, test::DataMode::Pasv);
  if (AUpload) {
    ftp->Put(ASource, "soak.bin");
  } else {
    TMemoryStream back;
    ftp->Get("soak.bin", back);
    ASSERT_EQ(back.Size(), kFileSize);
  }
  ftp->Disconnect();
}

TEST(SessionSoak, DescriptorsAndMemoryStayFlat) {
  auto server = test::StartRealFtpServerOrSkip(test::RealServerKind::Vsftpd);
  if (!server) {
    return;
  }
  TMemoryStream source;
  const std::string bytes(kFileSize, 's');
  source.Write(bytes.data(), kFileSize);
  int baseFds = 0;
  long baseRss = 0;
  int maxFds = 0;
  long maxRss = 0;
  for (int session = 1; session <= kSessions; ++session) {
    ASSERT_NO_FATAL_FAILURE(RunSession(*server, source, session % 2 == 1)) << "session " << session;
    if (session == kWarmUpSessions) {
      baseFds = OpenDescriptors();
      baseRss = ResidentKiB();
    }
    if (session >= kWarmUpSessions) {
      maxFds = std::max(maxFds, OpenDescriptors());
      maxRss = std::max(maxRss, ResidentKiB());
    }
  }
  std::printf("descriptors %d -> max %d, resident %ld KiB -> max %ld KiB\n", baseFds, maxFds,
              baseRss, maxRss);
  EXPECT_EQ(maxFds, baseFds);
  EXPECT_LE(maxRss - baseRss, kRssToleranceKiB);
}

} // namespace
} // namespace ftpc
